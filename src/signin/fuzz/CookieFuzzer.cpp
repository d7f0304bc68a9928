// Arbitrary bytes as Set-Cookie header values (one per NUL-separated piece)
// of a response from one of a few hosts, stored in a jar and sent back.
// Properties: no control character ever reaches a Cookie header, and no
// stored cookie names a public suffix other than its own host.
#include "signin/WSKCookieStorage.h"

#include <libpsl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const char *const kResponseURLs[] = {
    "https://www.example.com/dir/page", "http://shop.co.uk/", "https://127.0.0.1:8443/a/b", "http://localhost/",
    "https://a.b.someone.github.io/x",  "http://h.test/",
};

bool hasControlCharacter(const QByteArray &bytes)
{
    for (const char c : bytes)
        if (uchar(c) < 0x20 || uchar(c) == 0x7F)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    constexpr size_t urlCount = sizeof kResponseURLs / sizeof *kResponseURLs;
    const QUrl url(QString::fromLatin1(kResponseURLs[data[0] % urlCount]));
    const QList<QByteArray> values =
        QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)).split('\0');

    WSKCookieStorage jar;
    jar.setCookies(cookiesFromSetCookieHeaders(values, url));

    static const psl_ctx_t *const list = psl_builtin();
    const QString host = url.host().toLower();
    for (const QNetworkCookie &cookie : jar.cookies()) {
        QString domain = cookie.domain();
        if (domain.startsWith(QLatin1Char('.')))
            domain.remove(0, 1);
        if (domain != host && psl_is_public_suffix(list, QUrl::toAce(domain).constData()))
            abort();
    }
    for (const char *const sentTo : kResponseURLs) {
        const QByteArray header = cookieHeaderForCookies(jar.cookiesForURL(QUrl(QString::fromLatin1(sentTo))));
        if (hasControlCharacter(header))
            abort();
    }
    return 0;
}
