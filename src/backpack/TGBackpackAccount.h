#pragma once

#include <QString>
#include <QUrl>

#include <mutex>

// The credentials of one Backpack account.
class TGBackpackAccount
{
public:
    TGBackpackAccount(const QString &sitename, const QString &APIKey, const QString &username, const QString &password);

    QString sitename() const;
    void setSitename(const QString &value);
    QString APIKey() const;
    void setAPIKey(const QString &value);
    QString password() const;
    void setPassword(const QString &value);
    QString username() const;
    void setUsername(const QString &value);

    // https://<site name>.<service domain>, no path; empty when the site name
    // is not a single DNS label.
    QUrl BackpackURL() const;

private:
    mutable std::mutex m_mutex;
    QString m_sitename, m_APIKey, m_password, m_username;
};
