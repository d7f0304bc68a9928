#include "gui/AccountStore.h"

#include "foundation/Error.h"
#include "signin/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace AccountStore {

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions kOwnerOnlyFolder = kOwnerOnly | QFile::ExeOwner;

bool sync(QSettings &settings, QString *error)
{
    // QSettings writes through a temporary file renamed over the old one,
    // taking the old file's mode: secure it first, and check after.
    secureSettingsFile();
    settings.sync();
    const bool written = settings.status() == QSettings::NoError;
    const bool secured = secureSettingsFile();
    if (error && !written)
        *error = localizedString("The settings file %1 could not be written.").arg(settings.fileName());
    else if (error && !secured)
        *error = localizedString("The settings file %1 could not be made private.").arg(settings.fileName());
    return written && secured;
}

} // namespace

QString settingsFilePath()
{
    return QSettings().fileName();
}

bool secureSettingsFile()
{
    const QString path = settingsFilePath();
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    bool ok = QFile::setPermissions(info.absolutePath(), kOwnerOnlyFolder);
    if (!info.exists()) {
        QFile file(path);
        ok = file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly) && ok;
    }
    return QFile::setPermissions(path, kOwnerOnly) && ok;
}

QList<Account> accounts()
{
    QList<Account> out;
    const QVariantList stored = QSettings().value(QLatin1String(SettingsKeys::kAccounts)).toList();
    out.reserve(stored.size());
    for (const QVariant &entry : stored)
        out << entry.toMap();
    return out;
}

bool setAccounts(const QList<Account> &list, QString *error)
{
    QVariantList stored;
    stored.reserve(list.size());
    for (const Account &account : list)
        stored << account;
    QSettings settings;
    settings.setValue(QLatin1String(SettingsKeys::kAccounts), stored);
    return sync(settings, error);
}

bool isValid(const Account &account)
{
    if (account.size() != 4)
        return false;
    for (const QVariant &value : account)
        if (value.toString().trimmed().isEmpty())
            return false;
    return true;
}

int validCount(const QList<Account> &list)
{
    return int(std::count_if(list.begin(), list.end(), isValid));
}

std::optional<QString> selectedAccountName()
{
    const QVariant value = QSettings().value(QLatin1String(SettingsKeys::kSelectedAccount));
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

bool setSelectedAccountName(const std::optional<QString> &name)
{
    QSettings settings;
    if (name)
        settings.setValue(QLatin1String(SettingsKeys::kSelectedAccount), *name);
    else
        settings.remove(QLatin1String(SettingsKeys::kSelectedAccount));
    return sync(settings, nullptr);
}

std::optional<QString> oldRavadidoUserName()
{
    const QVariant value = QSettings().value(QLatin1String(SettingsKeys::kRavadidoUserName));
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

} // namespace AccountStore
