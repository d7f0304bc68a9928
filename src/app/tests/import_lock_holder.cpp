// Another Leafhaul importing into an account, started from a shell without
// XDG_RUNTIME_DIR: holds the import lock of the NoteStore URL it is given
// until its standard input ends, after saying "held" (or why not).

#include "app/ImportLock.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    ::unsetenv("XDG_RUNTIME_DIR");
    QCoreApplication app(argc, argv);
    WSKOAuthAuthentication authentication = WSKOAuthAuthentication::authForInstalledApp();
    authentication.setUserEmail(QString::fromLocal8Bit(argc > 1 ? argv[1] : ""));
    OptionalError error;
    const std::unique_ptr<ImportLock> lock = ImportLock::take(authentication, &error);
    std::printf("%s\n", lock ? "held" : qPrintable(error->localizedDescription));
    std::fflush(stdout);
    while (lock && std::getchar() != EOF) {}
    return lock ? 0 : 1;
}
