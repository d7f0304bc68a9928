#include "signin/WSKOAuthAuthentication.h"

#include <QDateTime>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <algorithm>

namespace {

QString str(const char *latin1)
{
    return QString::fromLatin1(latin1);
}

// An empty, non-null text: a decoded "" is a value, not an absent one.
QString emptyText()
{
    return QString::fromLatin1("", 0);
}

// The parts of an absolute URL text, each as written.
struct UrlText
{
    QString scheme;
    QString host; // with brackets for an IPv6 literal
    int port = -1; // -1: none written
    QString path;
    std::optional<QString> query;
};

bool isSchemeChar(QChar c, bool first)
{
    const char16_t u = c.unicode();
    const bool alpha = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
    if (first)
        return alpha;
    return alpha || (u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.';
}

// Splits "scheme://[userinfo@]host[:port]path[?query][#fragment]" without
// touching any escape. Nothing when the text has no scheme or no host.
std::optional<UrlText> splitUrl(const QString &text)
{
    UrlText url;
    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    for (qsizetype i = 0; i < colon; ++i) {
        if (!isSchemeChar(text[i], i == 0))
            return std::nullopt;
    }
    url.scheme = text.left(colon);
    if (text.mid(colon + 1, 2) != u"//")
        return std::nullopt;

    const qsizetype authorityStart = colon + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < text.size() && text[authorityEnd] != u'/' && text[authorityEnd] != u'?'
           && text[authorityEnd] != u'#')
        ++authorityEnd;
    QString authority = text.mid(authorityStart, authorityEnd - authorityStart);
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0)
        authority = authority.mid(at + 1);

    QString portText;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        url.host = authority.left(close + 1);
        const QString rest = authority.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(u':'))
                return std::nullopt;
            portText = rest.mid(1);
        }
    } else {
        const qsizetype portColon = authority.indexOf(u':');
        url.host = portColon < 0 ? authority : authority.left(portColon);
        if (portColon >= 0)
            portText = authority.mid(portColon + 1);
    }
    if (url.host.isEmpty())
        return std::nullopt;
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port > 65535 || !std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit(); }))
            return std::nullopt;
        url.port = int(port);
    }

    QString rest = text.mid(authorityEnd);
    const qsizetype hash = rest.indexOf(u'#');
    if (hash >= 0)
        rest.truncate(hash);
    const qsizetype question = rest.indexOf(u'?');
    if (question >= 0) {
        url.query = rest.mid(question + 1);
        rest.truncate(question);
    }
    url.path = rest;
    return url;
}

// The query as written, or nothing; works for texts splitUrl rejects too.
std::optional<QString> rawQuery(const QString &text)
{
    QString rest = text;
    const qsizetype hash = rest.indexOf(u'#');
    if (hash >= 0)
        rest.truncate(hash);
    const qsizetype question = rest.indexOf(u'?');
    if (question < 0)
        return std::nullopt;
    return rest.mid(question + 1);
}

bool isUnreserved(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
           || c == '_' || c == '~';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (i + length > n)
            return false;
        if (p[i + 1] < low || p[i + 1] > high)
            return false;
        for (int k = 2; k < length; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return false;
        }
        i += length;
    }
    return true;
}

// QString::fromUtf8 of an empty array may be null; a decoded "" is a value.
QString fromValidUtf8(const QByteArray &bytes)
{
    return bytes.isEmpty() ? emptyText() : QString::fromUtf8(bytes);
}

QString joinEncoded(const OAuthParameterList &params, const QString &joiner, bool quote)
{
    QStringList pieces;
    pieces.reserve(params.size());
    for (const OAuthParameter &param : params)
        pieces.append(quote ? param.quotedEncodedParam() : param.encodedParam());
    return pieces.join(joiner);
}

// False when the key list asks for a signature that could not be made.
bool hasWantedSignature(const QStringList &keys, const OAuthParameterList &params)
{
    if (!keys.contains(QLatin1String(kOAuthSignatureKey)))
        return true;
    return std::any_of(params.begin(), params.end(),
                       [](const OAuthParameter &p) { return p.name() == QLatin1String(kOAuthSignatureKey); });
}

bool formOrder(const OAuthParameter &a, const OAuthParameter &b)
{
    const QString nameA = a.encodedName(), nameB = b.encodedName();
    if (nameA != nameB)
        return nameA < nameB;
    return a.encodedValue() < b.encodedValue();
}

} // namespace

// ---------------------------------------------------------------- OAuthParameter

QString OAuthParameter::encodedName() const
{
    return WSKOAuthAuthentication::encodedOAuthParameterForString(m_name);
}

QString OAuthParameter::encodedValue() const
{
    return WSKOAuthAuthentication::encodedOAuthParameterForString(m_value);
}

QString OAuthParameter::encodedParam() const
{
    return encodedName() + u'=' + encodedValue();
}

QString OAuthParameter::quotedEncodedParam() const
{
    return encodedName() + QStringLiteral("=\"") + encodedValue() + u'"';
}

OAuthParameter::Ordering OAuthParameter::sortDescriptors()
{
    return &formOrder;
}

// ---------------------------------------------------------------- creation and state

WSKOAuthAuthentication::WSKOAuthAuthentication(const QString &signatureMethod, const QString &consumerKey,
                                               const QString &privateKey)
{
    setConsumerKey(consumerKey);
    setSignatureMethod(signatureMethod);
    setPrivateKey(privateKey);
    setVersion(QStringLiteral("1.0"));
}

WSKOAuthAuthentication WSKOAuthAuthentication::authForInstalledApp()
{
    return WSKOAuthAuthentication(str(kWSKOAuthSignatureMethodHMAC_SHA1), QStringLiteral("quillmark"),
                                  QStringLiteral("quillmark"));
}

void WSKOAuthAuthentication::reset()
{
    m_hasAccessToken = false;
    setToken({});
    setTokenSecret({});
    setUserEmail({});
    setUserEmailIsVerified({});
}

void WSKOAuthAuthentication::setValue(const char *key, const QString &value)
{
    if (value.isNull())
        m_paramValues.remove(str(key));
    else
        m_paramValues.insert(str(key), value);
}

QString WSKOAuthAuthentication::timestamp() const
{
    if (!m_timestamp.isEmpty())
        return m_timestamp;
    return QString::number(quint64(QDateTime::currentSecsSinceEpoch()));
}

QString WSKOAuthAuthentication::nonce() const
{
    if (!m_nonce.isEmpty())
        return m_nonce;
    QRandomGenerator *random = QRandomGenerator::system();
    const quint64 high = random->generate();
    const quint64 low = random->generate();
    return QString::number((high << 32) | low);
}

bool WSKOAuthAuthentication::hasAccessToken() const
{
    return m_hasAccessToken && !token().isEmpty();
}

QString WSKOAuthAuthentication::accessToken() const
{
    return m_hasAccessToken ? token() : QString();
}

void WSKOAuthAuthentication::setAccessToken(const QString &token)
{
    setToken(token);
    m_hasAccessToken = true;
}

// ---------------------------------------------------------------- key lists

QStringList WSKOAuthAuthentication::tokenRequestKeys()
{
    return {str(kOAuthConsumerKey), str(kOAuthSignatureMethodKey), str(kOAuthSignatureKey), str(kOAuthTimestampKey),
            str(kOAuthNonceKey),    str(kOAuthVersionKey),         str(kOAuthCallbackKey),  str(kOAuthScopeKey)};
}

QStringList WSKOAuthAuthentication::tokenAuthorizeKeys()
{
    return {str(kOAuthTokenKey),    str(kOAuthDomainKey), str(kOAuthHostedDomainKey),
            str(kOAuthLanguageKey), str(kOAuthMobileKey), str(kOAuthScopeKey)};
}

QStringList WSKOAuthAuthentication::tokenAccessKeys()
{
    return {str(kOAuthConsumerKey),  str(kOAuthTokenKey), str(kOAuthSignatureMethodKey), str(kOAuthSignatureKey),
            str(kOAuthTimestampKey), str(kOAuthNonceKey), str(kOAuthVersionKey),         str(kOAuthVerifierKey)};
}

QStringList WSKOAuthAuthentication::tokenResourceKeys()
{
    return {str(kOAuthConsumerKey),  str(kOAuthTokenKey), str(kOAuthSignatureMethodKey), str(kOAuthSignatureKey),
            str(kOAuthTimestampKey), str(kOAuthNonceKey), str(kOAuthVersionKey)};
}

// ---------------------------------------------------------------- decoration

bool WSKOAuthAuthentication::addRequestTokenHeaderToRequest(HttpRequest &request) const
{
    return addAuthorizationHeaderToRequest(request, tokenRequestKeys());
}

bool WSKOAuthAuthentication::addRequestTokenParamsToRequest(HttpRequest &request) const
{
    return addParamsForKeys(tokenRequestKeys(), request);
}

bool WSKOAuthAuthentication::addAuthorizeTokenHeaderToRequest(HttpRequest &request) const
{
    return addAuthorizationHeaderToRequest(request, tokenAuthorizeKeys());
}

bool WSKOAuthAuthentication::addAuthorizeTokenParamsToRequest(HttpRequest &request) const
{
    return addParamsForKeys(tokenAuthorizeKeys(), request);
}

bool WSKOAuthAuthentication::addAccessTokenHeaderToRequest(HttpRequest &request) const
{
    return addAuthorizationHeaderToRequest(request, tokenAccessKeys());
}

bool WSKOAuthAuthentication::addAccessTokenParamsToRequest(HttpRequest &request) const
{
    return addParamsForKeys(tokenAccessKeys(), request);
}

bool WSKOAuthAuthentication::addResourceTokenHeaderToRequest(HttpRequest &request) const
{
    return addAuthorizationHeaderToRequest(request, tokenResourceKeys());
}

bool WSKOAuthAuthentication::addResourceTokenParamsToRequest(HttpRequest &request) const
{
    return addParamsForKeys(tokenResourceKeys(), request);
}

bool WSKOAuthAuthentication::addAuthorizationHeaderToRequest(HttpRequest &request, const QStringList &keys) const
{
    const OAuthParameterList params = paramsForKeys(keys, &request);
    if (!hasWantedSignature(keys, params))
        return false;

    OAuthParameterList headerParams, queryParams;
    for (const OAuthParameter &param : params) {
        if (param.name().startsWith(QLatin1String("oauth_")))
            headerParams.append(param);
        else
            queryParams.append(param);
    }
    QString realmPart;
    if (!m_realm.isEmpty())
        realmPart = QStringLiteral("realm=\"%1\", ").arg(encodedOAuthParameterForString(m_realm));
    request.setHeader(QStringLiteral("Authorization"),
                      QStringLiteral("OAuth ") + realmPart + joinEncoded(headerParams, QStringLiteral(", "), true));
    if (!queryParams.isEmpty())
        addParams(queryParams, request);
    return true;
}

bool WSKOAuthAuthentication::addParamsForKeys(const QStringList &keys, HttpRequest &request) const
{
    const OAuthParameterList params = paramsForKeys(keys, &request);
    if (!hasWantedSignature(keys, params))
        return false;
    addParams(params, request);
    return true;
}

void WSKOAuthAuthentication::addParams(const OAuthParameterList &params, HttpRequest &request)
{
    QString paramString = joinEncoded(params, QStringLiteral("&"), false);
    const std::optional<UrlText> url = splitUrl(request.url);
    if (!url) {
        // Not an absolute URL: append to the text as it is.
        QString text = request.url;
        const qsizetype hash = text.indexOf(u'#');
        if (hash >= 0)
            text.truncate(hash);
        if (!paramString.isEmpty())
            text += (text.contains(u'?') ? (text.endsWith(u'?') ? QString() : QStringLiteral("&"))
                                         : QStringLiteral("?"))
                    + paramString;
        request.url = text;
        return;
    }
    if (url->query && !url->query->isEmpty())
        paramString = paramString.isEmpty() ? *url->query : *url->query + u'&' + paramString;
    QString text = url->scheme + QStringLiteral("://") + url->host;
    if (url->port >= 0)
        text += u':' + QString::number(url->port);
    // The path as written: decoding it would turn %2F, %3F, %23 or %25 into
    // characters that change where the request goes.
    text += url->path;
    if (!paramString.isEmpty())
        text += u'?' + paramString;
    request.url = text;
}

// ---------------------------------------------------------------- signing

OAuthParameterList WSKOAuthAuthentication::paramsForKeys(const QStringList &keys, const HttpRequest *request) const
{
    OAuthParameterList params;
    for (const QString &key : keys) {
        const QString value = m_paramValues.value(key);
        if (!value.isEmpty())
            params.append(OAuthParameter(key, value));
    }
    if (keys.contains(str(kOAuthNonceKey)))
        params.append(OAuthParameter(str(kOAuthNonceKey), nonce()));
    if (keys.contains(str(kOAuthTimestampKey)))
        params.append(OAuthParameter(str(kOAuthTimestampKey), timestamp()));
    if (keys.contains(str(kOAuthSignatureKey))) {
        const QString signature = signatureForParams(params, request);
        if (!signature.isNull())
            params.append(OAuthParameter(str(kOAuthSignatureKey), signature));
    }
    return params;
}

QString WSKOAuthAuthentication::signatureForParams(const OAuthParameterList &params, const HttpRequest *request) const
{
    if (!request || signatureMethod() != QLatin1String(kWSKOAuthSignatureMethodHMAC_SHA1))
        return {};
    const QString url = normalizedRequestURLStringForRequest(*request);
    if (url.isNull())
        return {};
    const QString method = request->effectiveMethod();

    OAuthParameterList all = params;
    // A pair that cannot be decoded cannot be signed the way the server
    // will read it; no signature beats a wrong one.
    if (!addQueryFromRequest(*request, all))
        return {};
    if (method != QLatin1String("GET") && !addBodyFromRequest(*request, all))
        return {};
    std::stable_sort(all.begin(), all.end(), OAuthParameter::sortDescriptors());

    const QString base = method + u'&' + encodedOAuthParameterForString(url) + u'&'
                         + encodedOAuthParameterForString(paramStringForParams(all, QStringLiteral("&"), false, false));
    return HMACSHA1HashForConsumerSecret(m_privateKey, tokenSecret(), base);
}

QString WSKOAuthAuthentication::normalizedRequestURLStringForRequest(const HttpRequest &request)
{
    const std::optional<UrlText> url = splitUrl(request.url);
    if (!url)
        return {};
    const QString scheme = url->scheme.toLower();
    const int port = url->port < 0 ? 0 : url->port;
    QString portPart;
    if (!(port == 0 || (port == 80 && scheme == u"http") || (port == 443 && scheme == u"https")))
        portPart = u':' + QString::number(port);
    const QString path = url->path.isEmpty() ? QStringLiteral("/") : url->path;
    return scheme + QStringLiteral("://") + url->host.toLower() + portPart + path;
}

QString WSKOAuthAuthentication::paramStringForParams(const OAuthParameterList &params, const QString &joiner,
                                                     bool shouldQuote, bool shouldSort)
{
    if (!shouldSort)
        return joinEncoded(params, joiner, shouldQuote);
    OAuthParameterList sorted = params;
    std::stable_sort(sorted.begin(), sorted.end(), OAuthParameter::sortDescriptors());
    return joinEncoded(sorted, joiner, shouldQuote);
}

bool WSKOAuthAuthentication::addQueryString(const QString &query, OAuthParameterList &params)
{
    if (query.isEmpty())
        return true;
    QString text = query;
    text.replace(u'+', u' ');
    bool allDecoded = true;
    for (const QString &piece : text.split(u'&')) {
        const qsizetype equals = piece.indexOf(u'=');
        const QString name = equals < 0 ? piece : piece.left(equals);
        const QString value = equals < 0 ? QString() : piece.mid(equals + 1);
        const std::optional<QString> decodedName = unencodedOAuthParameterForString(name);
        const std::optional<QString> decodedValue = unencodedOAuthParameterForString(value.isNull() ? emptyText()
                                                                                                    : value);
        if (decodedName && decodedValue) {
            params.append(OAuthParameter(*decodedName, *decodedValue));
        } else {
            allDecoded = false;
            params.append(OAuthParameter(emptyText(), emptyText()));
        }
    }
    return allDecoded;
}

bool WSKOAuthAuthentication::addQueryFromRequest(const HttpRequest &request, OAuthParameterList &params)
{
    const std::optional<QString> query = rawQuery(request.url);
    return query ? addQueryString(*query, params) : true;
}

bool WSKOAuthAuthentication::addBodyFromRequest(const HttpRequest &request, OAuthParameterList &params)
{
    const QString type = request.header(QStringLiteral("Content-Type"));
    if (!type.startsWith(QLatin1String("application/x-www-form-urlencoded"), Qt::CaseInsensitive))
        return true;
    if (request.body.isEmpty() || !isValidUtf8(request.body))
        return true;
    return addQueryString(QString::fromUtf8(request.body), params);
}

QString WSKOAuthAuthentication::encodedOAuthParameterForString(const QString &string)
{
    if (string.isNull())
        return {};
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = string.toUtf8();
    QString out = emptyText();
    out.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        if (isUnreserved(c)) {
            out += QLatin1Char(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += u'%';
            out += QLatin1Char(hex[byte >> 4]);
            out += QLatin1Char(hex[byte & 0xF]);
        }
    }
    return out;
}

std::optional<QString> WSKOAuthAuthentication::unencodedOAuthParameterForString(const QString &string)
{
    if (string.isNull())
        return std::nullopt;
    const QByteArray in = string.toUtf8();
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out.append(in[i]);
            continue;
        }
        if (i + 2 >= in.size())
            return std::nullopt;
        const int high = hexValue(in[i + 1]), low = hexValue(in[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.append(char(high * 16 + low));
        i += 2;
    }
    if (!isValidUtf8(out))
        return std::nullopt;
    return fromValidUtf8(out);
}

QString WSKOAuthAuthentication::HMACSHA1HashForConsumerSecret(const QString &consumerSecret, const QString &tokenSecret,
                                                              const QString &body)
{
    const QString key = encodedOAuthParameterForString(consumerSecret.isNull() ? emptyText() : consumerSecret) + u'&'
                        + encodedOAuthParameterForString(tokenSecret.isNull() ? emptyText() : tokenSecret);
    return stringWithBase64ForData(
        QMessageAuthenticationCode::hash(body.toUtf8(), key.toUtf8(), QCryptographicHash::Sha1));
}

QString WSKOAuthAuthentication::stringWithBase64ForData(const QByteArray &data)
{
    if (data.isNull())
        return {};
    return QString::fromLatin1(data.toBase64());
}

// ---------------------------------------------------------------- replies

std::optional<OAuthResponseDictionary> WSKOAuthAuthentication::dictionaryWithResponseString(const QString &string)
{
    if (string.isNull())
        return std::nullopt;
    OAuthResponseDictionary dictionary;
    for (const QString &piece : string.split(u'&')) {
        if (piece.isEmpty() || piece.startsWith(u'='))
            continue;
        const qsizetype equals = piece.indexOf(u'=');
        const QString name = equals < 0 ? piece : piece.left(equals);
        const QString value = equals < 0 ? emptyText() : piece.mid(equals + 1);
        const std::optional<QString> decodedName = unencodedOAuthParameterForString(name);
        const std::optional<QString> decodedValue = unencodedOAuthParameterForString(value.isNull() ? emptyText()
                                                                                                    : value);
        // A mangled pair is dropped rather than taken as something it is not.
        if (decodedName && decodedValue)
            dictionary.insert(*decodedName, *decodedValue);
    }
    return dictionary;
}

std::optional<OAuthResponseDictionary> WSKOAuthAuthentication::dictionaryWithResponseData(const QByteArray &data)
{
    if (data.isNull() || !isValidUtf8(data))
        return std::nullopt;
    return dictionaryWithResponseString(fromValidUtf8(data));
}

void WSKOAuthAuthentication::setKeysForResponseDictionary(const OAuthResponseDictionary &dictionary)
{
    const std::pair<const char *, void (WSKOAuthAuthentication::*)(const QString &)> targets[] = {
        {kOAuthTokenKey, &WSKOAuthAuthentication::setToken},
        {kOAuthTokenSecretKey, &WSKOAuthAuthentication::setTokenSecret},
        {kOAuthCallbackConfirmedKey, &WSKOAuthAuthentication::setCallbackConfirmed},
        {kOAuthVerifierKey, &WSKOAuthAuthentication::setVerifier},
        {kServiceProviderKey, &WSKOAuthAuthentication::setServiceProvider},
        {kUserEmailKey, &WSKOAuthAuthentication::setUserEmail},
        {kUserEmailIsVerifiedKey, &WSKOAuthAuthentication::setUserEmailIsVerified},
    };
    for (const auto &[key, setter] : targets) {
        const auto found = dictionary.constFind(str(key));
        if (found != dictionary.constEnd())
            (this->*setter)(*found);
    }
}

void WSKOAuthAuthentication::setKeysForResponseData(const QByteArray &data)
{
    if (const auto dictionary = dictionaryWithResponseData(data))
        setKeysForResponseDictionary(*dictionary);
}

void WSKOAuthAuthentication::setKeysForResponseString(const QString &string)
{
    if (const auto dictionary = dictionaryWithResponseString(string))
        setKeysForResponseDictionary(*dictionary);
}

QString WSKOAuthAuthentication::persistenceResponseString() const
{
    const QStringList keys = {str(kOAuthTokenKey), str(kOAuthTokenSecretKey), str(kServiceProviderKey),
                              str(kUserEmailKey), str(kUserEmailIsVerifiedKey)};
    return paramStringForParams(paramsForKeys(keys, nullptr), QStringLiteral("&"), false, false);
}

bool WSKOAuthAuthentication::setKeysForPersistenceResponseString(const QString &string)
{
    const auto dictionary = dictionaryWithResponseString(string);
    if (!dictionary)
        return false;
    setKeysForResponseDictionary(*dictionary);
    return !dictionary->value(str(kOAuthTokenKey)).isEmpty();
}

// ---------------------------------------------------------------- helpers

QString WSKOAuthAuthentication::scopeWithStrings(const QStringList &strings)
{
    return strings.join(u' ');
}

QString WSKOAuthAuthentication::normalizeQueryString(const QString &query)
{
    OAuthParameterList params;
    addQueryString(query, params);
    return paramStringForParams(params, QStringLiteral("&"), false, true);
}

// ---------------------------------------------------------------- authoriser

void WSKOAuthAuthentication::authorizeRequest(HttpRequest &request, const FinishedCallback &finished)
{
    OptionalError error;
    if (!authorizeRequest(request))
        error = Error(str(kWSKOAuthErrorDomain), kWSKOAuthErrorCodeCannotAuthorize);
    if (finished)
        finished(this, request, error);
}

bool WSKOAuthAuthentication::authorizeRequest(HttpRequest &request)
{
    if (token().isEmpty())
        return false;
    return m_shouldUseParamsToAuthorize ? addResourceTokenParamsToRequest(request)
                                        : addResourceTokenHeaderToRequest(request);
}

bool WSKOAuthAuthentication::isAuthorizedRequest(const HttpRequest &request) const
{
    if (m_shouldUseParamsToAuthorize) {
        const std::optional<QString> query = rawQuery(request.url);
        if (!query)
            return false;
        const auto reply = dictionaryWithResponseString(*query);
        return reply && !reply->value(str(kOAuthTokenKey)).isEmpty();
    }
    return !request.header(QStringLiteral("Authorization")).isEmpty();
}
