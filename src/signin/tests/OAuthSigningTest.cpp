#include "signin/WSKOAuthAuthentication.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

WSKOAuthAuthentication makeAuth(const QString &key = "key", const QString &secret = "secret")
{
    return WSKOAuthAuthentication(kWSKOAuthSignatureMethodHMAC_SHA1, key, secret);
}

// Header parameters in the order they appear, values still encoded.
QStringList headerNames(const QString &header)
{
    QStringList names;
    QString rest = header.mid(QStringLiteral("OAuth ").size());
    for (const QString &piece : rest.split(QStringLiteral(", ")))
        names.append(piece.left(piece.indexOf(u'=')));
    return names;
}

QString headerValue(const QString &header, const QString &name)
{
    const QString marker = name + QStringLiteral("=\"");
    const qsizetype start = header.indexOf(marker);
    if (start < 0)
        return {};
    const qsizetype valueStart = start + marker.size();
    return header.mid(valueStart, header.indexOf(u'"', valueStart) - valueStart);
}

} // namespace

// ------------------------------------------------------------------ RFC 5849 section 1.2

struct RfcVector
{
    const char *method;
    const char *url;
    const char *token;
    const char *tokenSecret;
    const char *verifier;
    const char *callback;
    const char *nonce;
    const char *timestamp;
    QStringList keys;
    const char *signature;
};

TEST(OAuthSigning, ReproducesTheRfcExamples)
{
    const RfcVector vectors[] = {
        {"POST", "https://photos.example.net/initiate", nullptr, nullptr, nullptr, "http://printer.example.com/ready",
         "wIjqoS", "137131200",
         // The RFC prints "74KNZJeDHnMBp0EMJ9ZG5rtw41I=", which does not match
         // its own base string; this is the value from its published errata.
         WSKOAuthAuthentication::tokenRequestKeys(), "74KNZJeDHnMBp0EMJ9ZHt/XKycU="},
        {"POST", "https://photos.example.net/token", "hh5s93j4hdidpola", "hdhd0244k9j7ao03", "hfdp7dh39dks9884",
         nullptr, "walatlh", "137131201", WSKOAuthAuthentication::tokenAccessKeys(), "gKgrFCywp7rO0OXSjdot/IHF7IU="},
        {"GET", "http://photos.example.net/photos?file=vacation.jpg&size=original", "nnch734d00sl2jdk",
         "pfkkdhi9sl3r4s00", nullptr, nullptr, "chapoH", "137131202", WSKOAuthAuthentication::tokenResourceKeys(),
         "MdpQcU8iPSUjWoN/UDMsK2sui9I="},
    };
    for (const RfcVector &v : vectors) {
        SCOPED_TRACE(v.url);
        WSKOAuthAuthentication auth = makeAuth("dpf43f3p2l4k3l03", "kd94hf93k423kf44");
        auth.setVersion({}); // the examples carry no oauth_version
        auth.setRealm("Photos");
        if (v.token)
            auth.setToken(v.token);
        if (v.tokenSecret)
            auth.setTokenSecret(v.tokenSecret);
        if (v.verifier)
            auth.setVerifier(v.verifier);
        if (v.callback)
            auth.setCallback(v.callback);
        auth.setNonce(v.nonce);
        auth.setTimestamp(v.timestamp);

        HttpRequest request(v.url, v.method);
        ASSERT_TRUE(auth.addAuthorizationHeaderToRequest(request, v.keys));
        const QString header = request.header("Authorization");
        EXPECT_TRUE(header.startsWith("OAuth realm=\"Photos\", oauth_consumer_key=\"dpf43f3p2l4k3l03\""))
            << header.toStdString();
        EXPECT_EQ(headerValue(header, "oauth_signature"),
                  WSKOAuthAuthentication::encodedOAuthParameterForString(v.signature));
        EXPECT_EQ(request.url, QString(v.url));
    }
}

// ------------------------------------------------------------------ encoding

TEST(OAuthSigning, PercentEncodesUtf8BytesOutsideTheUnreservedSet)
{
    const std::pair<QString, QString> cases[] = {
        {"a b", "a%20b"},
        {"*", "%2A"},
        {"~9-._", "~9-._"},
        {QString::fromUtf8("\xC3\xA9"), "%C3%A9"},
        {"%!$&'()*+,/:;=?@", "%25%21%24%26%27%28%29%2A%2B%2C%2F%3A%3B%3D%3F%40"},
        {QString::fromUtf8("\xF0\x9F\x98\x80"), "%F0%9F%98%80"},
        {"", ""},
    };
    for (const auto &[plain, encoded] : cases) {
        EXPECT_EQ(WSKOAuthAuthentication::encodedOAuthParameterForString(plain), encoded);
        const auto back = WSKOAuthAuthentication::unencodedOAuthParameterForString(encoded);
        ASSERT_TRUE(back.has_value()) << encoded.toStdString();
        EXPECT_EQ(*back, plain);
    }
    EXPECT_TRUE(WSKOAuthAuthentication::encodedOAuthParameterForString(QString()).isNull());
}

TEST(OAuthSigning, DecodingIsStrict)
{
    const std::pair<const char *, const char *> good[] = {
        {"a+b", "a+b"}, // "+" is not a space here
        {"%7e%7E", "~~"}, // lower-case hex is accepted
        {"%EF%BB%BFx", "\xEF\xBB\xBFx"}, // a leading byte-order mark is kept
        {"%E2%82%AC", "\xE2\x82\xAC"},
    };
    for (const auto &[input, expected] : good) {
        const auto decoded = WSKOAuthAuthentication::unencodedOAuthParameterForString(input);
        ASSERT_TRUE(decoded.has_value()) << input;
        EXPECT_EQ(*decoded, QString::fromUtf8(expected)) << input;
    }
    const char *bad[] = {
        "%",
        "%4",
        "abc%",
        "%G1",
        "%%41",
        "%FF", // never valid in UTF-8
        "%C3", // truncated sequence
        "%C0%AF", // overlong "/"
        "%ED%A0%80", // a surrogate
        "%F4%90%80%80", // above U+10FFFF
        "%80", // a lone continuation byte
    };
    for (const char *input : bad)
        EXPECT_FALSE(WSKOAuthAuthentication::unencodedOAuthParameterForString(input).has_value()) << input;
}

// ------------------------------------------------------------------ base-string URL

TEST(OAuthSigning, NormalisesTheRequestUrl)
{
    const std::pair<const char *, const char *> cases[] = {
        {"http://Example.COM:80/a", "http://example.com/a"},
        {"HTTPS://example.com:443/a", "https://example.com/a"},
        {"https://example.com:80/a", "https://example.com:80/a"},
        {"http://example.com:8080", "http://example.com:8080/"},
        {"https://example.com?x=1#frag", "https://example.com/"},
        {"https://user:pw@example.com/p?q=1", "https://example.com/p"},
        // The path exactly as written: no escape decoded or re-cased.
        {"https://example.com/%7e/a%2Fb/%7E?x", "https://example.com/%7e/a%2Fb/%7E"},
        {"http://[::1]:8080/x", "http://[::1]:8080/x"},
    };
    for (const auto &[url, expected] : cases)
        EXPECT_EQ(WSKOAuthAuthentication::normalizedRequestURLStringForRequest(HttpRequest(url)), QString(expected))
            << url;
    for (const char *notAbsolute : {"/relative", "example.com/a", "mailto:x@y", "http://:80/"})
        EXPECT_TRUE(WSKOAuthAuthentication::normalizedRequestURLStringForRequest(HttpRequest(notAbsolute)).isNull())
            << notAbsolute;
}

// ------------------------------------------------------------------ parsing

TEST(OAuthSigning, ParsesSignedQueriesWithPlusAsSpace)
{
    OAuthParameterList params;
    EXPECT_TRUE(WSKOAuthAuthentication::addQueryString("a=1+2&b&c=&&d=%2B=x", params));
    const OAuthParameterList expected = {
        {"a", "1 2"}, {"b", ""}, {"c", ""}, {"", ""}, {"d", "+=x"},
    };
    EXPECT_EQ(params, expected);

    OAuthParameterList broken;
    EXPECT_FALSE(WSKOAuthAuthentication::addQueryString("x=1&y=%ZZ", broken));
    EXPECT_EQ(broken, (OAuthParameterList{{"x", "1"}, {"", ""}}));
}

TEST(OAuthSigning, ParsesRepliesWithPlusKept)
{
    const auto reply = WSKOAuthAuthentication::dictionaryWithResponseString(
        "oauth_token=a+b&=ignored&&flag&x=1&x=2&bad=%C3&ruru_noteStoreUrl=https%3A%2F%2Fh%2Fruru");
    ASSERT_TRUE(reply.has_value());
    const OAuthResponseDictionary expected = {
        {"oauth_token", "a+b"},
        {"flag", ""},
        {"x", "2"},
        {"ruru_noteStoreUrl", "https://h/ruru"},
    };
    EXPECT_EQ(*reply, expected);

    EXPECT_FALSE(WSKOAuthAuthentication::dictionaryWithResponseString(QString()).has_value());
    EXPECT_FALSE(WSKOAuthAuthentication::dictionaryWithResponseData(QByteArray()).has_value());
    EXPECT_FALSE(WSKOAuthAuthentication::dictionaryWithResponseData("oauth_token=\xFF").has_value());
    EXPECT_EQ(WSKOAuthAuthentication::dictionaryWithResponseData("a=%C3%A9")->value("a"),
              QString::fromUtf8("\xC3\xA9"));
}

TEST(OAuthSigning, NormalizesQueryStrings)
{
    EXPECT_EQ(WSKOAuthAuthentication::normalizeQueryString("b=2&a=z&a=y+1&c"), "a=y%201&a=z&b=2&c=");
    EXPECT_EQ(WSKOAuthAuthentication::scopeWithStrings({"a", "b c"}), "a b c");
}

// ------------------------------------------------------------------ decoration

TEST(OAuthSigning, RequestTokenHeaderKeepsGatheringOrderAndMovesScopeToTheQuery)
{
    WSKOAuthAuthentication auth = makeAuth();
    auth.setCallback("https://app.example/cb?x=1");
    auth.setScope("Full access");
    auth.setDisplayName("Leafhaul");
    HttpRequest request("https://Service.example/oauth");
    ASSERT_TRUE(auth.addRequestTokenHeaderToRequest(request));
    const QString header = request.header("Authorization");
    EXPECT_EQ(headerNames(header),
              (QStringList{"oauth_consumer_key", "oauth_signature_method", "oauth_version", "oauth_callback",
                           "oauth_nonce", "oauth_timestamp", "oauth_signature"}));
    EXPECT_EQ(headerValue(header, "oauth_callback"), "https%3A%2F%2Fapp.example%2Fcb%3Fx%3D1");
    EXPECT_FALSE(header.contains("Leafhaul"));
    EXPECT_EQ(request.url, "https://Service.example/oauth?scope=Full%20access");
}

TEST(OAuthSigning, AccessTokenHeaderCarriesTokenAndVerifierButNoEmptyValue)
{
    WSKOAuthAuthentication auth = makeAuth();
    auth.setToken("req");
    auth.setTokenSecret("");
    auth.setVerifier("ver");
    auth.setCallback(""); // empty values are never sent
    HttpRequest request("https://service.example/oauth");
    ASSERT_TRUE(auth.addAccessTokenHeaderToRequest(request));
    EXPECT_EQ(headerNames(request.header("Authorization")),
              (QStringList{"oauth_consumer_key", "oauth_token", "oauth_signature_method", "oauth_version",
                           "oauth_verifier", "oauth_nonce", "oauth_timestamp", "oauth_signature"}));
    EXPECT_EQ(request.url, "https://service.example/oauth");
}

TEST(OAuthSigning, AuthorizeQueryIsUnsignedAndAppendsToAnExistingQuery)
{
    WSKOAuthAuthentication auth = makeAuth();
    auth.setToken("t k");
    auth.setScope("Full access");
    auth.setLanguage("");
    HttpRequest request("https://service.example:8443/OAuth.action?a=1#top");
    ASSERT_TRUE(auth.addAuthorizeTokenParamsToRequest(request));
    EXPECT_EQ(request.url, "https://service.example:8443/OAuth.action?a=1&oauth_token=t%20k&scope=Full%20access");
    EXPECT_FALSE(request.hasHeader("Authorization"));
}

TEST(OAuthSigning, QueryDecorationKeepsTheEncodedPath)
{
    const char *paths[] = {"/a%2Fb", "/what%3F", "/tag%23x", "/100%25", "/caf%C3%A9/%7e"};
    for (const char *path : paths) {
        HttpRequest request(QStringLiteral("https://user:pw@h.example") + path + "#frag");
        WSKOAuthAuthentication::addParams({{"k", "v"}}, request);
        EXPECT_EQ(request.url, QStringLiteral("https://h.example") + path + "?k=v");
    }
    HttpRequest noPath("https://h.example");
    WSKOAuthAuthentication::addParams({}, noPath);
    EXPECT_EQ(noPath.url, "https://h.example");
}

TEST(OAuthSigning, EachSigningIsFresh)
{
    WSKOAuthAuthentication auth = makeAuth();
    auth.setAccessToken("tok");
    HttpRequest first("https://h.example/x"), second("https://h.example/x");
    ASSERT_TRUE(auth.addResourceTokenHeaderToRequest(first));
    ASSERT_TRUE(auth.addResourceTokenHeaderToRequest(second));
    for (const char *name : {"oauth_nonce", "oauth_signature"})
        EXPECT_NE(headerValue(first.header("Authorization"), name), headerValue(second.header("Authorization"), name));
}

TEST(OAuthSigning, RefusesToSignWhatItCannotSign)
{
    struct Case
    {
        QString method;
        QString url;
        QString contentType;
        QByteArray body;
        QString signatureMethod;
    };
    const Case cases[] = {
        {"GET", "https://h.example/x", {}, {}, "PLAINTEXT"},
        {"GET", "/relative", {}, {}, kWSKOAuthSignatureMethodHMAC_SHA1},
        {"GET", "https://h.example/x?q=%E9", {}, {}, kWSKOAuthSignatureMethodHMAC_SHA1},
        {"POST", "https://h.example/x", "application/x-www-form-urlencoded", "a=%", kWSKOAuthSignatureMethodHMAC_SHA1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        WSKOAuthAuthentication auth(c.signatureMethod, "key", "secret");
        auth.setAccessToken("tok");
        HttpRequest request(c.url, c.method);
        if (!c.contentType.isEmpty())
            request.setHeader("Content-Type", c.contentType);
        request.body = c.body;
        const HttpRequest before = request;
        EXPECT_FALSE(auth.addResourceTokenHeaderToRequest(request));
        EXPECT_FALSE(auth.addResourceTokenParamsToRequest(request));
        EXPECT_FALSE(auth.authorizeRequest(request));
        EXPECT_EQ(request, before);
    }
}

// ------------------------------------------------------------------ token record

TEST(OAuthSigning, AccessTokenFlagAndReset)
{
    WSKOAuthAuthentication auth = makeAuth();
    auth.setCallback("cb");
    auth.setScope("s");
    auth.setServiceProvider("Ravadido");
    auth.setToken("request-token");
    EXPECT_TRUE(auth.accessToken().isNull());
    EXPECT_FALSE(auth.canAuthorize());

    auth.setHasAccessToken(true);
    auth.setToken("");
    EXPECT_FALSE(auth.hasAccessToken());

    auth.setKeysForResponseString("oauth_token=acc&oauth_token_secret=sec&ruru_noteStoreUrl=https%3A%2F%2Fn%2F&"
                                  "isVerified=1&oauth_callback_confirmed=true&other=x");
    EXPECT_TRUE(auth.hasAccessToken());
    EXPECT_EQ(auth.accessToken(), "acc");
    EXPECT_EQ(auth.userEmail(), "https://n/");
    EXPECT_EQ(auth.callbackConfirmed(), "true");
    EXPECT_FALSE(auth.paramValues().contains("other"));

    auth.reset();
    EXPECT_FALSE(auth.canAuthorize());
    for (const char *gone : {kOAuthTokenKey, kOAuthTokenSecretKey, kUserEmailKey, kUserEmailIsVerifiedKey})
        EXPECT_FALSE(auth.paramValues().contains(gone)) << gone;
    EXPECT_EQ(auth.consumerKey(), "key");
    EXPECT_EQ(auth.privateKey(), "secret");
    EXPECT_EQ(auth.callback(), "cb");
    EXPECT_EQ(auth.scope(), "s");
    EXPECT_EQ(auth.serviceProvider(), "Ravadido");
    EXPECT_EQ(auth.version(), "1.0");
}

TEST(OAuthSigning, PersistedStringRoundTripsAndNeedsAToken)
{
    WSKOAuthAuthentication auth = makeAuth();
    auth.setAccessToken(QString::fromUtf8("tok=1:user=2&\xC3\xA9"));
    auth.setTokenSecret("");
    auth.setServiceProvider("Ravadido");
    auth.setUserEmail("https://n.example/ruru/notestore");
    const QString persisted = auth.persistenceResponseString();
    EXPECT_EQ(persisted, "oauth_token=tok%3D1%3Auser%3D2%26%C3%A9&serviceProvider=Ravadido&"
                         "ruru_noteStoreUrl=https%3A%2F%2Fn.example%2Fruru%2Fnotestore");

    WSKOAuthAuthentication loaded = makeAuth();
    EXPECT_TRUE(loaded.setKeysForPersistenceResponseString(persisted));
    loaded.setHasAccessToken(true);
    EXPECT_EQ(loaded.accessToken(), auth.accessToken());
    EXPECT_EQ(loaded.userEmail(), auth.userEmail());
    EXPECT_TRUE(loaded.tokenSecret().isNull());

    for (const char *tokenless :
         {"", "serviceProvider=Ravadido", "oauth_token=&ruru_noteStoreUrl=x", "oauth_token=%ZZ"}) {
        WSKOAuthAuthentication record = makeAuth();
        EXPECT_FALSE(record.setKeysForPersistenceResponseString(tokenless)) << tokenless;
    }
}

TEST(OAuthSigning, AuthorizesResourceRequestsOnlyWithAToken)
{
    WSKOAuthAuthentication auth = makeAuth();
    HttpRequest request("https://h.example/x");
    std::optional<OptionalError> reported;
    auth.authorizeRequest(request, [&](WSKFetcherAuthorizationProtocol *who, HttpRequest &, const OptionalError &e) {
        EXPECT_EQ(who, &auth);
        reported = e;
    });
    ASSERT_TRUE(reported.has_value() && reported->has_value());
    EXPECT_TRUE((*reported)->is(kWSKOAuthErrorDomain, -1));
    EXPECT_TRUE((*reported)->userInfo.isEmpty());
    EXPECT_FALSE(auth.isAuthorizedRequest(request));

    auth.setAccessToken("tok");
    reported.reset();
    auth.authorizeRequest(
        request, [&](WSKFetcherAuthorizationProtocol *, HttpRequest &, const OptionalError &e) { reported = e; });
    ASSERT_TRUE(reported.has_value());
    EXPECT_FALSE(reported->has_value());
    EXPECT_TRUE(auth.isAuthorizedRequest(request));
    EXPECT_FALSE(auth.isAuthorizingRequest(request));

    auth.setShouldUseParamsToAuthorize(true);
    EXPECT_FALSE(auth.isAuthorizedRequest(request)); // a header does not count in query mode
    ASSERT_TRUE(auth.authorizeRequest(request));
    EXPECT_TRUE(request.url.contains("oauth_token=tok"));
    EXPECT_TRUE(auth.isAuthorizedRequest(request));
}

// ------------------------------------------------------------------ independent check

TEST(OAuthSigning, SignaturesVerifyWithAnIndependentImplementation)
{
    struct Case
    {
        const char *method;
        QString url;
        QString body; // sent as a form
        QString consumerKey;
        QString consumerSecret;
        QString token;
        QString tokenSecret;
        enum { ResourceHeader, ResourceQuery, RequestTokenHeader } form;
    };
    const QString odd = QString::fromUtf8("caf\xC3\xA9 &=+%/?#*~\xE2\x82\xAC");
    const QString oddEncoded = WSKOAuthAuthentication::encodedOAuthParameterForString(odd);
    const Case cases[] = {
        {"GET",
         "https://api.example.com/photos?size=original&file=vacation.jpg",
         {},
         "ck",
         "cs",
         "tok",
         "ts",
         Case::ResourceHeader},
        {"GET", "https://api.example.com/photos?b=2&a=1&a=0", {}, "ck", "cs", {}, {}, Case::ResourceHeader},
        {"POST", "https://api.example.com:8443/form", "name=J%C3%BCrgen&note=a+b&empty=", "ck", "cs", "tok", "ts",
         Case::ResourceHeader},
        {"POST", "https://api.example.com/form?x=1", "y=2", "ck", "cs", {}, {}, Case::ResourceHeader},
        {"GET",
         "http://api.example.com:80/" + oddEncoded + "/a%2Fb?" + oddEncoded + "=" + oddEncoded,
         {},
         odd,
         odd,
         odd,
         odd,
         Case::ResourceHeader},
        {"POST", "https://API.example.com/" + oddEncoded, "k=" + oddEncoded + "&" + oddEncoded + "=v", odd, odd, odd,
         odd, Case::ResourceHeader},
        {"GET", "https://api.example.com/q?x=" + oddEncoded, {}, "ck", odd, "tok", odd, Case::ResourceQuery},
        {"GET", "https://api.example.com/oauth?x=1", {}, odd, odd, {}, {}, Case::RequestTokenHeader},
    };

    QJsonArray requests;
    for (const Case &c : cases) {
        WSKOAuthAuthentication auth(kWSKOAuthSignatureMethodHMAC_SHA1, c.consumerKey, c.consumerSecret);
        if (!c.token.isEmpty())
            auth.setAccessToken(c.token);
        auth.setTokenSecret(c.tokenSecret);
        HttpRequest request(c.url, c.method);
        if (!c.body.isEmpty()) {
            request.setHeader("Content-Type", "application/x-www-form-urlencoded; charset=utf-8");
            request.body = c.body.toUtf8();
        }
        bool signedOk = false;
        switch (c.form) {
        case Case::ResourceHeader: signedOk = auth.addResourceTokenHeaderToRequest(request); break;
        case Case::ResourceQuery: signedOk = auth.addResourceTokenParamsToRequest(request); break;
        case Case::RequestTokenHeader:
            // Scope is signed in the header's pass but travels in the query.
            auth.setCallback("https://app.example/cb?" + oddEncoded);
            auth.setScope(odd);
            signedOk = auth.addRequestTokenHeaderToRequest(request);
            EXPECT_TRUE(request.url.contains("&scope=" + oddEncoded));
            break;
        }
        ASSERT_TRUE(signedOk) << c.url.toStdString();
        QJsonObject headers;
        for (const auto &[name, value] : request.headers())
            headers.insert(name, value);
        requests.append(QJsonObject{{"method", c.method},
                                    {"uri", request.url},
                                    {"headers", headers},
                                    {"body", QString::fromUtf8(request.body)},
                                    {"client_secret", c.consumerSecret},
                                    {"token_secret", c.tokenSecret}});
    }

    QProcess python;
    python.start(
        QString::fromLocal8Bit(qgetenv("LEAFHAUL_PYTHON").isEmpty() ? LEAFHAUL_PYTHON : qgetenv("LEAFHAUL_PYTHON")),
        {QStringLiteral(TEST_DATA_DIR "/tests/oauth_verify.py")});
    ASSERT_TRUE(python.waitForStarted());
    python.write(QJsonDocument(requests).toJson());
    python.closeWriteChannel();
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QStringList verdicts = QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(verdicts.size(), qsizetype(std::size(cases)));
    for (qsizetype i = 0; i < verdicts.size(); ++i)
        EXPECT_EQ(verdicts[i], "ok") << cases[i].url.toStdString();
}

TEST(HttpRequest, HeadersIgnoreCaseAndKeepTheirPlace)
{
    HttpRequest request("https://h.example/", "post");
    EXPECT_EQ(request.effectiveMethod(), "POST");
    EXPECT_EQ(HttpRequest("https://h.example/").effectiveMethod(), "GET");
    request.setHeader("Content-Type", "text/plain");
    request.setHeader("Accept", "*/*");
    request.setHeader("content-type", "application/x-www-form-urlencoded");
    EXPECT_EQ(request.headers().size(), 2);
    EXPECT_EQ(request.headers().first().first, "Content-Type");
    EXPECT_EQ(request.header("CONTENT-TYPE"), "application/x-www-form-urlencoded");
    request.removeHeader("ACCEPT");
    EXPECT_FALSE(request.hasHeader("Accept"));
    EXPECT_TRUE(request.header("Accept").isNull());
}
