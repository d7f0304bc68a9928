#include "foundation/Cookies.h"

#include "foundation/CurlShare.h"

#include <QDateTime>

#include <optional>

namespace SyncHttp {

QVariantMap Cookie::properties() const
{
    QVariantMap p{{QStringLiteral("Name"), name},
                  {QStringLiteral("Value"), value},
                  {QStringLiteral("Domain"), includeSubdomains ? QLatin1Char('.') + domain : domain},
                  {QStringLiteral("Path"), path}};
    if (secure)
        p.insert(QStringLiteral("Secure"), true);
    if (expires)
        p.insert(QStringLiteral("Expires"), QDateTime::fromSecsSinceEpoch(expires, Qt::UTC));
    return p;
}

namespace {

// Netscape cookie-file line, as libcurl lists and accepts them.
std::optional<Cookie> parseCookieLine(QByteArray line)
{
    if (line.startsWith("#HttpOnly_"))
        line = line.mid(10);
    const QList<QByteArray> f = line.split('\t');
    if (f.size() < 7)
        return std::nullopt;
    Cookie c;
    c.domain = QString::fromUtf8(f[0]);
    if (c.domain.startsWith(QLatin1Char('.')))
        c.domain.remove(0, 1);
    c.includeSubdomains = f[1] == "TRUE";
    c.path = QString::fromUtf8(f[2]);
    c.secure = f[3] == "TRUE";
    c.expires = f[4].toLongLong();
    c.name = QString::fromUtf8(f[5]);
    c.value = QString::fromUtf8(f[6]);
    return c;
}

QByteArray cookieLine(const Cookie &c, qint64 expires)
{
    const QByteArray domain = (c.includeSubdomains ? "." : "") + c.domain.toUtf8();
    return domain + '\t' + (c.includeSubdomains ? "TRUE" : "FALSE") + '\t' + c.path.toUtf8() + '\t'
           + (c.secure ? "TRUE" : "FALSE") + '\t' + QByteArray::number(expires) + '\t' + c.name.toUtf8() + '\t'
           + c.value.toUtf8();
}

void cookieCommand(const QByteArray &command)
{
    // The global set-up (curl_global_init) comes before any handle.
    CURLSH *share = curlShare();
    EasyHandle h;
    curl_easy_setopt(h.curl, CURLOPT_SHARE, share);
    curl_easy_setopt(h.curl, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(h.curl, CURLOPT_COOKIELIST, command.constData());
}

} // namespace

QList<Cookie> allCookies()
{
    CURLSH *share = curlShare();
    EasyHandle h;
    curl_easy_setopt(h.curl, CURLOPT_SHARE, share);
    curl_easy_setopt(h.curl, CURLOPT_COOKIEFILE, "");
    curl_slist *list = nullptr;
    QList<Cookie> cookies;
    if (curl_easy_getinfo(h.curl, CURLINFO_COOKIELIST, &list) == CURLE_OK) {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (curl_slist *item = list; item; item = item->next)
            if (auto c = parseCookieLine(QByteArray(item->data)); c && (!c->expires || c->expires > now))
                cookies.append(*c);
        curl_slist_free_all(list);
    }
    return cookies;
}

QList<Cookie> cookiesForUrl(const QUrl &url)
{
    const QString host = url.host().toLower();
    QString path = url.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    const bool https = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    QList<Cookie> matching;
    for (const Cookie &c : allCookies()) {
        const QString domain = c.domain.toLower();
        const bool domainMatches = host == domain || (c.includeSubdomains && host.endsWith(QLatin1Char('.') + domain));
        const bool pathMatches = path == c.path
                                 || (path.startsWith(c.path)
                                     && (c.path.endsWith(QLatin1Char('/'))
                                         || path.at(c.path.size()) == QLatin1Char('/')));
        if (domainMatches && pathMatches && (!c.secure || https))
            matching.append(c);
    }
    return matching;
}

void deleteCookie(const Cookie &cookie)
{
    // An already-expired copy replaces the cookie and is dropped by the store.
    cookieCommand(cookieLine(cookie, 1));
}

void clearCookies()
{
    cookieCommand("ALL");
}

} // namespace SyncHttp
