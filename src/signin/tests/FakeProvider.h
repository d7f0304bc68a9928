#pragma once

#include "signin/RavadidoSignInValues.h"
#include "signin/WSKOAuthAuthentication.h"
#include "testsupport/LocalService.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
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
    // What the access-token reply gives instead of a fresh token and a
    // NoteStore address on the provider itself; set before start().
    void setAccessToken(const QString &token) { m_accessToken = token; }
    void setNoteStoreUrl(const QUrl &url) { m_noteStoreUrl = url; }

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
    QString m_accessToken;
    QUrl m_noteStoreUrl;
    LocalService m_service;
    QTemporaryDir m_dir;
    QString m_error;
};

template<typename Predicate>
bool waitFor(Predicate done, int ms = 30000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Lets queued work run, objects deleted later included.
inline void settle(int ms = 300)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A record with the application's sign-in values.
inline std::shared_ptr<WSKOAuthAuthentication> applicationAuth()
{
    using namespace RavadidoSignInValues;
    auto auth = std::make_shared<WSKOAuthAuthentication>(QString::fromLatin1(kWSKOAuthSignatureMethodHMAC_SHA1),
                                                         QString::fromLatin1(kConsumerKey),
                                                         QString::fromLatin1(kConsumerSecret));
    auth->setServiceProvider(QString::fromLatin1(kServiceProvider));
    auth->setCallback(QString::fromLatin1(kCallbackURL));
    auth->setScope(QString::fromLatin1(kScope));
    return auth;
}
