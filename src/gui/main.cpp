#include "gui/LeafhaulAppDelegate.h"

#include <QApplication>

#include <sys/resource.h>

namespace {

// A gallery's note keeps each image's file open, locked, until the note is
// sent (up to the service's 1,000 resources a note): the soft limit of open
// files, often 1,024, is too few; the hard limit is the user's to give.
void allowAllOpenFiles()
{
    struct rlimit files = {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}

} // namespace

int main(int argc, char **argv)
{
    allowAllOpenFiles();
    QApplication::setOrganizationName(QStringLiteral("Leafhaul"));
    QApplication::setApplicationName(QStringLiteral("Leafhaul"));
    QApplication::setDesktopFileName(QStringLiteral("leafhaul"));
    QApplication app(argc, argv);
    LeafhaulAppDelegate delegate;
    return runLeafhaul(app, delegate);
}
