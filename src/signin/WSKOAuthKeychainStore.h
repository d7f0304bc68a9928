#pragma once

#include <QString>

#include <memory>

class WSKOAuthAuthentication;

// The token store: the persisted response string of a signed-in record kept
// as a Secret Service item (service = the name, account "OAuth"), with a flag
// in the settings that says an item was saved.
class WSKOAuthKeychainStore
{
public:
    // "OAuth: " followed by the name: the settings key of the flag.
    static QString prefsKeyForName(const QString &name);
    // Replaces any stored token by the record's; false when the record has
    // no access token or the item could not be written.
    static bool saveParamsToKeychainForName(const QString &name, const WSKOAuthAuthentication &auth);
    // True when nothing is stored or the stored item was deleted. When the
    // keyring cannot be read the flag goes and the result is false.
    static bool removeParamsFromKeychainForName(const QString &name);
    // Takes a stored token into the record; true only when the record can
    // then authorise. The record's token is cleared first in any case.
    static bool authorizeFromKeychainForName(const QString &name, WSKOAuthAuthentication &auth);
};

inline constexpr char kKeychainAccountName[] = "OAuth";
