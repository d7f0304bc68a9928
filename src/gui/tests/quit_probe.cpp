// The program's own run (runLeafhaul) with an import started by itself as
// soon as the stored account's pages are listed, so that a test can end it mid-
// download: by a signal, or "close" or "quit" on stdin. Argument: the NoteStore
// URL, or "sign-in" to stop at the sign-in sheet instead, announced "SIGNING IN",
// or "accounts" to add an account in an open account editor, "EDITING".

#include "gui/AccountEditor.h"
#include "gui/ExportViewController.h"
#include "gui/LeafhaulAppDelegate.h"
#include "gui/PageTableModel.h"

#include "signin/WSKOAuthAuthentication.h"
#include "signin/WSKOAuthWindowController.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

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
    const bool signIn = qstrcmp(argv[1], "sign-in") == 0;
    const bool editing = qstrcmp(argv[1], "accounts") == 0;

    LeafhaulAppDelegate delegate;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        ExportViewController *view = delegate.exportViewController();
        if (!view || !view->pagesLoaded())
            return;
        if (editing) {
            delegate.editAccounts();
            delegate.accountEditor()->addNewAccount();
        } else if (signIn) {
            delegate.beginImport(); // no token kept: the sheet, once
            if (!delegate.signInController() || !delegate.signInController()->isWindowShown())
                return;
        } else {
            view->beginImportWithAuthentication(auth);
        }
        poll.stop();
        std::printf(editing ? "EDITING\n" : signIn ? "SIGNING IN\n" : "IMPORTING\n");
        std::fflush(stdout);
    });
    poll.start(20);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char command[16] = {};
        if (::read(STDIN_FILENO, command, sizeof command - 1) <= 0)
            input.setEnabled(false);
        // As the title bar's button does, which a modal window blocks.
        else if (qstrncmp(command, "close", 5) == 0 && !QApplication::activeModalWidget())
            delegate.window()->close();
        else if (qstrncmp(command, "quit", 4) == 0)
            delegate.quitAction()->trigger();
    });
    return runLeafhaul(app, delegate);
}
