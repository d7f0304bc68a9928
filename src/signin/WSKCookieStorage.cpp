#include "signin/WSKCookieStorage.h"

#include <QDateTime>
#include <QDebug>
#include <QHostAddress>
#include <QMutexLocker>

#include <libpsl.h>

#include <algorithm>
#include <memory>

namespace {

bool isComplete(const QNetworkCookie &cookie)
{
    return !cookie.name().isEmpty() && !cookie.domain().isEmpty() && !cookie.path().isEmpty();
}

bool sameIdentity(const QNetworkCookie &a, const QNetworkCookie &b)
{
    return a.name() == b.name() && a.domain() == b.domain() && a.path() == b.path();
}

bool hasExpired(const QNetworkCookie &cookie, const QDateTime &now)
{
    return !cookie.isSessionCookie() && cookie.expirationDate() <= now;
}

bool isIPAddress(const QString &host)
{
    return !QHostAddress(host).isNull();
}

// RFC 6265 5.1.3: identical, or the host ends in "." + domain and is a name.
bool domainMatches(const QString &host, const QString &domain)
{
    if (host == domain)
        return true;
    return !domain.isEmpty() && host.endsWith(domain) && host.at(host.size() - domain.size() - 1) == QLatin1Char('.')
           && !isIPAddress(host);
}

// RFC 6265 5.1.4: "/foo" matches "/foo" and "/foo/bar", never "/foobar".
bool pathMatches(const QString &requestPath, const QString &cookiePath)
{
    if (requestPath == cookiePath)
        return true;
    if (!requestPath.startsWith(cookiePath))
        return false;
    return cookiePath.endsWith(QLatin1Char('/')) || requestPath.at(cookiePath.size()) == QLatin1Char('/');
}

bool cookieDomainMatchesHost(const QString &cookieDomain, const QString &host)
{
    if (cookieDomain.startsWith(QLatin1Char('.')))
        return domainMatches(host, cookieDomain.mid(1));
    return cookieDomain == host;
}

// RFC 6265 4.1.1: no control character in a name or value; one would be
// echoed into the Cookie header of every later request.
bool hasControlCharacter(const QByteArray &bytes)
{
    return std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7F; });
}

bool isSendable(const QNetworkCookie &cookie)
{
    return !hasControlCharacter(cookie.name()) && !hasControlCharacter(cookie.value());
}

// The newest list the system has, else the one built into the library.
const psl_ctx_t *publicSuffixList()
{
    static const std::unique_ptr<psl_ctx_t, void (*)(psl_ctx_t *)> latest(psl_latest(nullptr), psl_free);
    return latest ? latest.get() : psl_builtin();
}

// A name no one registers under (com, co.uk, or a top-level name the list
// does not know): a cookie for it would go to every site below it.
bool isPublicSuffix(const QString &domain)
{
    const psl_ctx_t *list = publicSuffixList();
    const QByteArray ace = QUrl::toAce(domain);
    return list && !ace.isEmpty() && psl_is_public_suffix(list, ace.constData());
}

// RFC 6265 5.1.4 default-path: the path up to, not including, its last "/".
QString defaultPath(const QUrl &url)
{
    const QString path = url.path();
    if (!path.startsWith(QLatin1Char('/')))
        return QStringLiteral("/");
    const qsizetype lastSlash = path.lastIndexOf(QLatin1Char('/'));
    return lastSlash <= 0 ? QStringLiteral("/") : path.left(lastSlash);
}

} // namespace

void WSKCookieStorage::setCookies(const QList<QNetworkCookie> &cookies)
{
    QMutexLocker locker(&m_lock);
    removeExpiredCookies();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QNetworkCookie &cookie : cookies) {
        if (!isComplete(cookie)) {
            qWarning().noquote() << "Cookie incomplete:" << cookie.toRawForm();
            continue;
        }
        if (!isSendable(cookie))
            continue;
        const qsizetype old = indexOfCookieMatching(cookie);
        if (old >= 0)
            m_cookies.removeAt(old);
        // An expired cookie is how a server deletes one.
        if (!hasExpired(cookie, now))
            m_cookies.append(cookie);
    }
}

QList<QNetworkCookie> WSKCookieStorage::cookiesForURL(const QUrl &url)
{
    QMutexLocker locker(&m_lock);
    removeExpiredCookies();

    const QString host = url.host().toLower();
    if (host.isEmpty())
        return {};
    const bool isLocalhost = host == QLatin1String("localhost");
    QString path = url.path();
    if (path.isEmpty())
        path = QStringLiteral("/");
    const bool isSecureScheme = url.scheme() == QLatin1String("https");

    QList<QNetworkCookie> result;
    for (const QNetworkCookie &cookie : std::as_const(m_cookies)) {
        const QString domain = cookie.domain().toLower();
        const bool domainOK = isLocalhost
                                  ? (domain == QLatin1String("localhost") || domain == QLatin1String("localhost.local"))
                                  : cookieDomainMatchesHost(domain, host);
        if (domainOK && pathMatches(path, cookie.path()) && (!cookie.isSecure() || isSecureScheme))
            result.append(cookie);
    }
    return result;
}

void WSKCookieStorage::deleteCookie(const QNetworkCookie &cookie)
{
    QMutexLocker locker(&m_lock);
    const qsizetype index = indexOfCookieMatching(cookie);
    if (index >= 0)
        m_cookies.removeAt(index);
}

void WSKCookieStorage::removeAllCookies()
{
    QMutexLocker locker(&m_lock);
    m_cookies.clear();
}

QList<QNetworkCookie> WSKCookieStorage::cookies() const
{
    QMutexLocker locker(&m_lock);
    return m_cookies;
}

std::optional<QNetworkCookie> WSKCookieStorage::cookieMatchingCookie(const QNetworkCookie &cookie) const
{
    QMutexLocker locker(&m_lock);
    Q_ASSERT_X(isComplete(cookie), "cookieMatchingCookie",
               qPrintable(QStringLiteral("Invalid cookie (name:%1 domain:%2 path:%3)")
                              .arg(QString::fromUtf8(cookie.name()), cookie.domain(), cookie.path())));
    const qsizetype index = indexOfCookieMatching(cookie);
    if (index < 0)
        return std::nullopt;
    return m_cookies.at(index);
}

void WSKCookieStorage::removeExpiredCookies()
{
    QMutexLocker locker(&m_lock);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (qsizetype i = m_cookies.size() - 1; i >= 0; --i)
        if (hasExpired(m_cookies.at(i), now))
            m_cookies.removeAt(i);
}

qsizetype WSKCookieStorage::indexOfCookieMatching(const QNetworkCookie &cookie) const
{
    for (qsizetype i = 0; i < m_cookies.size(); ++i)
        if (sameIdentity(m_cookies.at(i), cookie))
            return i;
    return -1;
}

QList<QNetworkCookie> cookiesFromSetCookieHeaders(const QList<QByteArray> &setCookieValues, const QUrl &url)
{
    const QString host = url.host().toLower();
    QList<QNetworkCookie> result;
    if (host.isEmpty())
        return result;
    for (const QByteArray &value : setCookieValues) {
        for (QNetworkCookie cookie : QNetworkCookie::parseCookies(value)) {
            if (!isSendable(cookie))
                continue;
            QString domain = cookie.domain().toLower();
            if (domain.startsWith(QLatin1Char('.')))
                domain.remove(0, 1);
            if (domain.isEmpty()) {
                domain = host;
            } else if (!domainMatches(host, domain)) {
                continue; // a server may not set cookies for another site
            } else if (isPublicSuffix(domain)) {
                // RFC 6265 5.3 step 5: only the suffix's own host may name
                // it, and then the cookie stays with that host.
                if (domain != host)
                    continue;
            } else if (!isIPAddress(domain)) {
                domain.prepend(QLatin1Char('.'));
            }
            cookie.setDomain(domain);
            if (!cookie.path().startsWith(QLatin1Char('/')))
                cookie.setPath(defaultPath(url));
            result.append(cookie);
        }
    }
    return result;
}

QByteArray cookieHeaderForCookies(const QList<QNetworkCookie> &cookies)
{
    QByteArray header;
    for (const QNetworkCookie &cookie : cookies) {
        if (!isSendable(cookie))
            continue;
        if (!header.isEmpty())
            header += "; ";
        header += cookie.name() + '=' + cookie.value();
    }
    return header;
}
