// Another Leafhaul importing into an account: holds the import lock of the
// NoteStore URL it is given until its standard input ends. Says "held" once
// it has the lock, or why not.

#include "app/ImportLock.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    WSKOAuthAuthentication authentication = WSKOAuthAuthentication::authForInstalledApp();
    authentication.setUserEmail(QString::fromLocal8Bit(argv[1]));
    OptionalError error;
    const std::unique_ptr<ImportLock> lock = ImportLock::take(authentication, &error);
    std::printf("%s\n", lock ? "held" : qPrintable(error ? error->localizedDescription : QStringLiteral("refused")));
    std::fflush(stdout);
    char byte;
    while (lock && std::fread(&byte, 1, 1, stdin) == 1) {}
    return lock ? 0 : 1;
}
