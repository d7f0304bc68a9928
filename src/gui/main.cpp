#include "foundation/SyncHttp.h"
#include "gui/LeafhaulAppDelegate.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // Quitting then never frees OpenSSL under a worker still using it.
    SyncHttp::keepTlsStateAtExit();
    QApplication::setOrganizationName(QStringLiteral("Leafhaul"));
    QApplication::setApplicationName(QStringLiteral("Leafhaul"));
    QApplication::setDesktopFileName(QStringLiteral("leafhaul"));
    QApplication app(argc, argv);
    LeafhaulAppDelegate delegate;
    return runLeafhaul(app, delegate);
}
