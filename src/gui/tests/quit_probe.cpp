// The program's own run (runLeafhaul) with an import started by itself as
// soon as the stored account's pages are listed, so that a test can send it
// a signal in the middle of a download. Argument: the NoteStore URL.

#include "gui/ExportViewController.h"
#include "gui/LeafhaulAppDelegate.h"
#include "gui/PageTableModel.h"

#include "signin/WSKOAuthAuthentication.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

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
        view->beginImportWithAuthentication(auth);
        std::printf("IMPORTING\n");
        std::fflush(stdout);
    });
    poll.start(20);
    return runLeafhaul(app, delegate);
}
