#include "gui/LeafhaulAppDelegate.h"

#include <QApplication>
#include <QLoggingCategory>

int main(int argc, char **argv)
{
    // A desktop program starts quietly; QT_LOGGING_RULES still overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QApplication::setOrganizationName(QStringLiteral("Leafhaul"));
    QApplication::setApplicationName(QStringLiteral("Leafhaul"));
    QApplication::setDesktopFileName(QStringLiteral("leafhaul"));
    QApplication app(argc, argv);
    LeafhaulAppDelegate delegate;
    return runLeafhaul(app, delegate);
}
