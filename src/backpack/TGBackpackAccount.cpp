#include "backpack/TGBackpackAccount.h"

#include "backpack/BackpackSettings.h"

TGBackpackAccount::TGBackpackAccount(const QString &sitename, const QString &APIKey, const QString &username,
                                     const QString &password)
{
    setSitename(sitename);
    setAPIKey(APIKey);
    setUsername(username);
    setPassword(password);
}

#define TG_PROPERTY(getter, setter, member)              \
    QString TGBackpackAccount::getter() const            \
    {                                                    \
        std::lock_guard lock(m_mutex);                   \
        return member;                                   \
    }                                                    \
    void TGBackpackAccount::setter(const QString &value) \
    {                                                    \
        std::lock_guard lock(m_mutex);                   \
        member = value;                                  \
    }
TG_PROPERTY(sitename, setSitename, m_sitename)
TG_PROPERTY(APIKey, setAPIKey, m_APIKey)
TG_PROPERTY(password, setPassword, m_password)
TG_PROPERTY(username, setUsername, m_username)
#undef TG_PROPERTY

QUrl TGBackpackAccount::BackpackURL() const
{
    const QString site = sitename();
    if (!BackpackSettings::isValidSitename(site))
        return {};
    return QUrl(QLatin1String("https://") + site + QLatin1Char('.') + BackpackSettings::serviceDomain(),
                QUrl::StrictMode);
}
