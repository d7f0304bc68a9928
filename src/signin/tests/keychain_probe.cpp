// Runs the keychain calls named on the command line (the four item calls by
// default) and prints "<call> <result> <error code> <milliseconds taken>
// <description>" per line,
// so that a test can run it where the keyring service is missing or locked.
// "storeSave" stores a token through the token store; "storeRemove" removes
// it with its settings flag set and prints 1 in place of the error code when
// the flag is still there.
#include "signin/VKKeychain.h"
#include "signin/WSKOAuthAuthentication.h"
#include "signin/WSKOAuthKeychainStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("LeafhaulTests"));
    QTextStream out(stdout);
    const QString service = QStringLiteral("Leafhaul probe");
    const QString account = QStringLiteral("probe");
    QElapsedTimer taken;
    auto line = [&](const char *call, bool result, const OptionalError &error) {
        out << call << ' ' << (result ? 1 : 0) << ' ' << (error ? error->code : 0) << ' ' << taken.elapsed() << ' '
            << (error ? error->localizedDescription : QString()) << '\n';
        out.flush();
    };
    QStringList calls = app.arguments().mid(1);
    if (calls.isEmpty())
        calls = {"save", "fetch", "delete", "fetchAll"};
    for (const QString &call : calls) {
        OptionalError error;
        taken.start();
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
        } else if (call == u"storeSave") {
            WSKOAuthAuthentication auth(QString::fromLatin1(kWSKOAuthSignatureMethodHMAC_SHA1), QStringLiteral("key"),
                                        QStringLiteral("secret"));
            auth.setAccessToken(QStringLiteral("token"));
            line("storeSave", WSKOAuthKeychainStore::saveParamsToKeychainForName(service, auth), {});
        } else if (call == u"storeRemove") {
            const QString flag = WSKOAuthKeychainStore::prefsKeyForName(service);
            QSettings().setValue(flag, true);
            const bool removed = WSKOAuthKeychainStore::removeParamsFromKeychainForName(service);
            out << "storeRemove " << (removed ? 1 : 0) << ' ' << (QSettings().contains(flag) ? 1 : 0) << ' '
                << taken.elapsed() << '\n';
            out.flush();
        } else {
            return 2;
        }
    }
    return 0;
}
