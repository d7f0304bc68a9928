#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkCookie>
#include <QRecursiveMutex>
#include <QUrl>

#include <optional>

// What a fetcher needs of a cookie jar: the cookies to send to a URL (empty
// when none) and a place to keep the cookies a response set.
class WSKCookieStorageProtocol
{
public:
    virtual ~WSKCookieStorageProtocol() = default;
    virtual QList<QNetworkCookie> cookiesForURL(const QUrl &url) = 0;
    virtual void setCookies(const QList<QNetworkCookie> &cookies) = 0;
};

// An in-memory cookie jar for the life of the process. A cookie whose domain
// starts with "." was set with a Domain attribute and goes to that domain and
// its subdomains; any other cookie is host-only and goes to its own host only.
// A cookie with a control character in its name or value is never stored or
// sent. Safe to share between threads.
class WSKCookieStorage : public WSKCookieStorageProtocol
{
public:
    WSKCookieStorage() = default;

    void setCookies(const QList<QNetworkCookie> &cookies) override;
    // In stored order; empty when none matches.
    QList<QNetworkCookie> cookiesForURL(const QUrl &url) override;
    void deleteCookie(const QNetworkCookie &cookie);
    void removeAllCookies();

    // The stored cookie with the same name, domain and path.
    std::optional<QNetworkCookie> cookieMatchingCookie(const QNetworkCookie &cookie) const;
    // Cookies without an expiry date stay.
    void removeExpiredCookies();

    // Every stored cookie, in stored order.
    QList<QNetworkCookie> cookies() const;

private:
    qsizetype indexOfCookieMatching(const QNetworkCookie &cookie) const;

    mutable QRecursiveMutex m_lock;
    QList<QNetworkCookie> m_cookies;
};

// The cookies of a response's Set-Cookie header values, completed for the
// response's URL: a missing Domain makes a host-only cookie, a missing Path
// takes the URL's directory. A cookie is dropped when the URL's host does not
// belong to its Domain, when that Domain is a public suffix ("com", "co.uk")
// other than the host itself, or when its name or value holds a control
// character.
QList<QNetworkCookie> cookiesFromSetCookieHeaders(const QList<QByteArray> &setCookieValues, const QUrl &url);

// The value of a request's Cookie header for these cookies ("a=1; b=2").
QByteArray cookieHeaderForCookies(const QList<QNetworkCookie> &cookies);
