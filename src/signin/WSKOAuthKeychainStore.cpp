#include "signin/WSKOAuthKeychainStore.h"

#include "signin/SettingsKeys.h"
#include "signin/VKKeychain.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QSettings>
#include <QStringDecoder>

namespace {

VKKeychainQuery tokenItem(const QString &name)
{
    VKKeychainQuery query;
    query.setService(name);
    query.setAccount(QString::fromLatin1(kKeychainAccountName));
    return query;
}

} // namespace

QString WSKOAuthKeychainStore::prefsKeyForName(const QString &name)
{
    return SettingsKeys::oauthTokenFlag(name);
}

bool WSKOAuthKeychainStore::saveParamsToKeychainForName(const QString &name, const WSKOAuthAuthentication &auth)
{
    removeParamsFromKeychainForName(name);
    if (!auth.hasAccessToken())
        return false;
    VKKeychainQuery item = tokenItem(name);
    item.setPassword(auth.persistenceResponseString());
    if (!item.save())
        return false;
    QSettings().setValue(prefsKeyForName(name), true);
    return true;
}

bool WSKOAuthKeychainStore::removeParamsFromKeychainForName(const QString &name)
{
    VKKeychainQuery item = tokenItem(name);
    OptionalError lookup;
    if (!item.fetch(&lookup)) {
        if (lookup && lookup->code == kVKKeychainStatusItemNotFound)
            return true;
        // The keyring could not be read, so the token may still be there:
        // without the flag no later load takes it.
        QSettings().remove(prefsKeyForName(name));
        return false;
    }
    const bool deleted = item.deleteItem();
    QSettings().remove(prefsKeyForName(name));
    return deleted;
}

bool WSKOAuthKeychainStore::authorizeFromKeychainForName(const QString &name, WSKOAuthAuthentication &auth)
{
    auth.setToken({});
    auth.setHasAccessToken(false);
    if (!QSettings().value(prefsKeyForName(name), false).toBool())
        return false;
    VKKeychainQuery item = tokenItem(name);
    if (!item.fetch() || item.passwordData().isNull())
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString stored = decoder.decode(item.passwordData());
    if (decoder.hasError())
        return false;
    auth.setKeysForPersistenceResponseString(stored);
    auth.setHasAccessToken(true);
    // A stored string without a token must not pass for a signed-in record.
    return auth.canAuthorize();
}
