#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

#include <optional>

// The Backpack accounts and the picker's selection in QSettings (the keys of
// signin/SettingsKeys.h). Account maps hold the four keys "sitename",
// "username", "password" and "APIKey" in plain text, so the settings file is
// kept the user's alone: every save here leaves it mode 0600, in a 0700
// folder, replaced as a whole (QSettings writes a new file and renames it).
// Main thread, except where noted.
namespace AccountStore {

using Account = QVariantMap;

// "Accounts" in stored order; absent counts as empty.
QList<Account> accounts();
// Stores `accounts` under "Accounts" and writes the file; false (with the
// reason in *error when given) when it could not be written.
bool setAccounts(const QList<Account> &accounts, QString *error = nullptr);

// Exactly four keys (only their number is tested) and every value non-empty
// once trimmed.
bool isValid(const Account &account);
int validCount(const QList<Account> &accounts);

std::optional<QString> selectedAccountName();
// Nothing removes the key.
bool setSelectedAccountName(const std::optional<QString> &name);

// The user name of the older sign-in whose password is removed at launch;
// any thread.
std::optional<QString> oldRavadidoUserName();

// Creates the settings file (empty) when missing and makes it and its folder
// the user's alone. The launch calls it before anything writes settings, so
// that writes from elsewhere (the sign-in's token flag) keep the mode.
bool secureSettingsFile();
QString settingsFilePath();

} // namespace AccountStore
