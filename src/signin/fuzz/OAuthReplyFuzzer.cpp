// Arbitrary bytes as a token reply of the sign-in (request token, then
// access token), the way the sign-in takes them in. Properties: the signed
// Authorization header holds no control character, and the record written
// to the keychain reads back with the same values.
#include "signin/WSKOAuthAuthentication.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));

    WSKOAuthAuthentication auth = WSKOAuthAuthentication::authForInstalledApp();
    auth.setCallback(QStringLiteral("https://h.test/OAuthCallback"));
    auth.setTimestamp(QStringLiteral("1"));
    auth.setNonce(QStringLiteral("n"));
    auth.setKeysForResponseData(reply); // the request-token reply
    auth.setKeysForResponseString(QString::fromUtf8(reply)); // the callback's query
    HttpRequest access(QStringLiteral("https://h.test/oauth"));
    if (auth.addAccessTokenHeaderToRequest(access)
        && hasControlCharacter(access.header(QStringLiteral("Authorization"))))
        abort();

    auth.setKeysForResponseData(reply); // the access-token reply
    auth.setHasAccessToken(true);
    HttpRequest resource(QStringLiteral("https://h.test/ruru/notestore?a=1"), QStringLiteral("POST"));
    if (auth.authorizeRequest(resource) && hasControlCharacter(resource.header(QStringLiteral("Authorization"))))
        abort();

    WSKOAuthAuthentication stored = WSKOAuthAuthentication::authForInstalledApp();
    const bool hasToken = stored.setKeysForPersistenceResponseString(auth.persistenceResponseString());
    if (hasToken != !auth.token().isEmpty() || stored.token() != auth.token()
        || stored.tokenSecret() != auth.tokenSecret() || stored.userEmail() != auth.userEmail()
        || stored.serviceProvider() != auth.serviceProvider()
        || stored.userEmailIsVerified() != auth.userEmailIsVerified())
        abort();
    return 0;
}
