#include "gui/LeafhaulAppDelegate.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication::setOrganizationName(QStringLiteral("Leafhaul"));
    QApplication::setApplicationName(QStringLiteral("Leafhaul"));
    QApplication::setDesktopFileName(QStringLiteral("leafhaul"));
    QApplication app(argc, argv);
    LeafhaulAppDelegate delegate;
    return runLeafhaul(app, delegate);
}
