#pragma once

#include "foundation/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <optional>

// Passwords kept in the user's Secret Service keyring, one item per service
// and account name.

inline constexpr char kVKKeychainErrorDomain[] = "com.keyward.vkkeychain";
// Keys of the attribute dictionaries that listings return.
inline constexpr char kVKKeychainAccountKey[] = "acct";
inline constexpr char kVKKeychainCreatedAtKey[] = "cdat";
inline constexpr char kVKKeychainDescriptionKey[] = "desc";
inline constexpr char kVKKeychainLabelKey[] = "labl";
inline constexpr char kVKKeychainLastModifiedKey[] = "mdat";
inline constexpr char kVKKeychainWhereKey[] = "svce";

// Error codes in kVKKeychainErrorDomain.
inline constexpr long kVKKeychainErrorInvalidArguments = -1001;
// No item matches.
inline constexpr long kVKKeychainStatusItemNotFound = -25300;
// No Secret Service could be reached (no session bus, no keyring daemon,
// or no answer in time).
inline constexpr long kVKKeychainStatusNotAvailable = -25291;
// The keyring is locked and cannot be unlocked without the user.
inline constexpr long kVKKeychainStatusLocked = -25308;
// The service answered with a failure of its own.
inline constexpr long kVKKeychainStatusFailed = -26276;

// One keychain item, addressed by service and account, and the calls on it.
class VKKeychainQuery
{
public:
    QString account() const { return m_account; }
    void setAccount(const QString &account) { m_account = account; }
    QString service() const { return m_service; }
    void setService(const QString &service) { m_service = service; }
    // Written on save only; the service name when not set.
    QString label() const { return m_label; }
    void setLabel(const QString &label) { m_label = label; }
    // A null array means no secret.
    QByteArray passwordData() const { return m_passwordData; }
    void setPasswordData(const QByteArray &data) { m_passwordData = data; }
    // The secret as UTF-8 text; null when there is no data.
    QString password() const;
    void setPassword(const QString &password);

    // Stores the secret, replacing an item of the same service and account
    // in one step, so a failed store leaves the old secret in place.
    bool save(OptionalError *error = nullptr);
    // Removes the item. (`delete` is taken by the language.)
    bool deleteItem(OptionalError *error = nullptr);
    // Reads the secret into passwordData; leaves it unchanged on failure.
    bool fetch(OptionalError *error = nullptr);
    // Attribute dictionaries of every item of the service (every service when
    // none is set) and of the account when set; nothing when none match or
    // on failure.
    std::optional<QList<QVariantMap>> fetchAll(OptionalError *error = nullptr);

    // The search terms: item class, and service and account as far as set.
    QVariantMap query() const;

    // The error for a status code; nothing for 0.
    static OptionalError errorWithCode(long code);

private:
    QString m_account;
    QString m_service;
    QString m_label;
    QByteArray m_passwordData;
};

// Shortcuts for the common cases.
class VKKeychain
{
public:
    VKKeychain() = delete;

    // A null string when there is none or the look-up failed.
    static QString passwordForService(const QString &service, const QString &account, OptionalError *error = nullptr);
    static bool setPassword(const QString &password, const QString &service, const QString &account,
                            OptionalError *error = nullptr);
    static bool deletePasswordForService(const QString &service, const QString &account,
                                         OptionalError *error = nullptr);
    static std::optional<QList<QVariantMap>> allAccounts();
    // A null service lists every service.
    static std::optional<QList<QVariantMap>> accountsForService(const QString &service);
};
