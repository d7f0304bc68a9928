#pragma once

#include <QString>

// Every key the program keeps in QSettings, in one place. The values are the
// stored file's: never rename one.
namespace SettingsKeys {

// A list of account maps: "sitename", "username", "password", "APIKey".
inline constexpr char kAccounts[] = "Accounts";
// The picker's selected title; may be "No Accounts".
inline constexpr char kSelectedAccount[] = "SelectedAccount";
// The user name of an older sign-in whose password the launch removes.
inline constexpr char kRavadidoUserName[] = "LHRavadidoUserName";
// Followed by a keychain name: set while a token is stored under that name.
inline constexpr char kOAuthTokenFlagPrefix[] = "OAuth: ";

inline QString oauthTokenFlag(const QString &keychainName)
{
    return QLatin1String(kOAuthTokenFlagPrefix) + keychainName;
}

// The keys of one account map.
inline constexpr char kSiteName[] = "sitename";
inline constexpr char kUserName[] = "username";
inline constexpr char kPassword[] = "password";
inline constexpr char kAPIKey[] = "APIKey";

} // namespace SettingsKeys
