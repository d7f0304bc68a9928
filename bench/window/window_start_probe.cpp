// The program's start as main() makes it, which prints "USABLE" and quits
// once the main window is shown, exposed and its event loop answers.

#include "gui/LeafhaulAppDelegate.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication::setOrganizationName(QStringLiteral("LeafhaulBench"));
    QApplication::setApplicationName(QStringLiteral("window_start_probe"));
    QApplication app(argc, argv);
    LeafhaulAppDelegate delegate;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWindow *window = delegate.window()->windowHandle();
        if (!window || !window->isExposed())
            return;
        poll.stop();
        std::printf("USABLE\n");
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    poll.start(1);
    return runLeafhaul(app, delegate);
}
