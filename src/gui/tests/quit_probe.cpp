// The program's own run (runLeafhaul) with an import started by itself as
// soon as the stored account's pages are listed, so that a test can end it
// in the middle of a download: by a signal, or by a line on standard input
// that closes the main window ("close") or the progress sheet ("close-sheet")
// as the window manager's close button does, or chooses Quit ("quit").
// Argument: the NoteStore URL. Prints IMPORTING, and ENDED when the import
// has ended.

#include "gui/ExportViewController.h"
#include "gui/ImportController.h"
#include "gui/ImportProgressSheet.h"
#include "gui/LeafhaulAppDelegate.h"
#include "gui/PageTableModel.h"

#include "signin/WSKOAuthAuthentication.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// As from the title bar, which Qt ignores on a window that a modal one
// blocks.
void closeFromTheWindowManager(QWidget *widget)
{
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal != widget) {
        say("BLOCKED");
        return;
    }
    if (widget)
        widget->close();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication::setOrganizationName(QStringLiteral("LeafhaulTests"));
    QApplication::setApplicationName(QStringLiteral("quit_probe"));
    QApplication app(argc, argv);
    if (argc < 2)
        return 64;
    WSKOAuthAuthentication auth = WSKOAuthAuthentication::authForInstalledApp();
    auth.setAccessToken(QStringLiteral("probe-token"));
    auth.setUserEmail(QString::fromLocal8Bit(argv[1]));

    LeafhaulAppDelegate delegate;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        ExportViewController *view = delegate.exportViewController();
        if (!view || !view->pagesLoaded())
            return;
        poll.stop();
        QObject::connect(view->importController(), &ImportController::importEnded, [] { say("ENDED"); });
        view->beginImportWithAuthentication(auth);
        say("IMPORTING");
    });
    poll.start(20);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64] = {};
        const ssize_t got = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (got <= 0) {
            input.setEnabled(false);
            return;
        }
        const QByteArray command = QByteArray(line).trimmed();
        if (command == "close")
            closeFromTheWindowManager(delegate.window());
        else if (command == "close-sheet")
            closeFromTheWindowManager(delegate.exportViewController()->importController()->progressSheet());
        else if (command == "quit")
            delegate.quitAction()->trigger();
    });
    return runLeafhaul(app, delegate);
}
