#include "gui/LeafhaulAppDelegate.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication::setOrganizationName(QStringLiteral("Leafhaul"));
    QApplication::setApplicationName(QStringLiteral("Leafhaul"));
    QApplication app(argc, argv);
    LeafhaulAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
