#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QVariantMap>

// The one process-wide cookie store of SyncHttp: every request that uses
// cookies (Request::useCookies) reads and fills it.

namespace SyncHttp {

struct Cookie
{
    QString name;
    QString value;
    QString domain; // without a leading dot
    bool includeSubdomains = false;
    QString path;
    bool secure = false;
    qint64 expires = 0; // Unix time; 0 for a session cookie

    QVariantMap properties() const;
};

QList<Cookie> allCookies();
// The cookies the store would send with a request to the URL.
QList<Cookie> cookiesForUrl(const QUrl &url);
// Removes the cookie with the same name, domain and path.
void deleteCookie(const Cookie &cookie);
void clearCookies();

} // namespace SyncHttp
