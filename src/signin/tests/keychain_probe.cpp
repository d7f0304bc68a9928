// Runs the keychain calls named on the command line (all four by default) and
// prints "<call> <result> <error code> <description>" per line, so that a test
// can run it where the keyring service is missing or locked.
#include "signin/VKKeychain.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QString service = QStringLiteral("Leafhaul probe");
    const QString account = QStringLiteral("probe");
    auto line = [&](const char *call, bool result, const OptionalError &error) {
        out << call << ' ' << (result ? 1 : 0) << ' ' << (error ? error->code : 0) << ' '
            << (error ? error->localizedDescription : QString()) << '\n';
        out.flush();
    };
    QStringList calls = app.arguments().mid(1);
    if (calls.isEmpty())
        calls = {"save", "fetch", "delete", "fetchAll"};
    for (const QString &call : calls) {
        OptionalError error;
        if (call == u"save") {
            line("save", VKKeychain::setPassword(QStringLiteral("secret"), service, account, &error), error);
        } else if (call == u"fetch") {
            line("fetch", !VKKeychain::passwordForService(service, account, &error).isNull(), error);
        } else if (call == u"delete") {
            line("delete", VKKeychain::deletePasswordForService(service, account, &error), error);
        } else if (call == u"fetchAll") {
            VKKeychainQuery query;
            query.setService(service);
            line("fetchAll", query.fetchAll(&error).has_value(), error);
        } else {
            return 2;
        }
    }
    return 0;
}
