#pragma once

#include "testsupport/LocalService.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

// The fake OAuth provider of fake_oauth_provider.py on 127.0.0.1 over TLS,
// with the application's consumer key and secret. start() also makes this
// process trust the provider's throwaway CA and points the application's
// sign-in URLs at it.
class FakeProvider
{
public:
    explicit FakeProvider(QStringList faults = {});

    bool start();
    QString errorString() { return m_error + QStringLiteral("\n") + m_service.log(); }

    // "127.0.0.1:<port>"
    QString host() const;
    // A callback on the provider itself, so that a leak would show in
    // requests().
    QString callbackURL() const { return QStringLiteral("https://%1/OAuthCallback").arg(host()); }
    // The requests it has seen, oldest first, one JSON object each.
    QList<QJsonObject> requests() const;
    QList<QJsonObject> requests(const QString &step) const;

    // Approves a request token as the page's form would and returns where
    // the provider redirects: the callback URL with token and verifier.
    QUrl approve(const QString &requestToken);

private:
    QStringList m_faults;
    LocalService m_service;
    QTemporaryDir m_dir;
    QString m_error;
};
