#pragma once

#include "signin/HttpRequest.h"
#include "signin/WSKFetcherAuthorizationProtocol.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// Wire names of the OAuth values.
inline constexpr char kOAuthConsumerKey[] = "oauth_consumer_key";
inline constexpr char kOAuthSignatureMethodKey[] = "oauth_signature_method";
inline constexpr char kOAuthVersionKey[] = "oauth_version";
inline constexpr char kOAuthCallbackKey[] = "oauth_callback";
inline constexpr char kOAuthScopeKey[] = "scope";
inline constexpr char kOAuthTokenKey[] = "oauth_token";
inline constexpr char kOAuthTokenSecretKey[] = "oauth_token_secret";
inline constexpr char kOAuthVerifierKey[] = "oauth_verifier";
inline constexpr char kOAuthCallbackConfirmedKey[] = "oauth_callback_confirmed";
inline constexpr char kOAuthDomainKey[] = "domain";
inline constexpr char kOAuthHostedDomainKey[] = "hd";
inline constexpr char kOAuthLanguageKey[] = "hl";
inline constexpr char kOAuthMobileKey[] = "btmpl";
inline constexpr char kOAuthDisplayNameKey[] = "xoauth_displayname";
inline constexpr char kOAuthIconURLKey[] = "iconUrl";
inline constexpr char kServiceProviderKey[] = "serviceProvider";
inline constexpr char kUserEmailKey[] = "ruru_noteStoreUrl";
inline constexpr char kUserEmailIsVerifiedKey[] = "isVerified";
// Made at signing time, never stored.
inline constexpr char kOAuthNonceKey[] = "oauth_nonce";
inline constexpr char kOAuthTimestampKey[] = "oauth_timestamp";
inline constexpr char kOAuthSignatureKey[] = "oauth_signature";

inline constexpr char kWSKOAuthSignatureMethodHMAC_SHA1[] = "HMAC-SHA1";
inline constexpr char kWSKOAuthErrorDomain[] = "com.websignkit.WSKOAuth";
// A request that cannot be authorised.
inline constexpr long kWSKOAuthErrorCodeCannotAuthorize = -1;
// The user closed the sign-in window.
inline constexpr long kWSKOAuthErrorCodeWindowClosed = -1000;

// One name/value pair of a request.
class OAuthParameter
{
public:
    OAuthParameter() = default;
    OAuthParameter(QString name, QString value) : m_name(std::move(name)), m_value(std::move(value)) {}
    static OAuthParameter parameterWithName(const QString &name, const QString &value)
    {
        return OAuthParameter(name, value);
    }

    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    QString value() const { return m_value; }
    void setValue(const QString &value) { m_value = value; }

    QString encodedName() const;
    QString encodedValue() const;
    // name=value, both percent-encoded.
    QString encodedParam() const;
    // name="value", both percent-encoded.
    QString quotedEncodedParam() const;
    QString description() const { return encodedParam(); }

    // The signing order: by encoded name, then encoded value, by byte value.
    using Ordering = bool (*)(const OAuthParameter &, const OAuthParameter &);
    static Ordering sortDescriptors();

    bool operator==(const OAuthParameter &) const = default;

private:
    QString m_name;
    QString m_value;
};

using OAuthParameterList = QList<OAuthParameter>;
// The pairs of a token endpoint's reply.
using OAuthResponseDictionary = QHash<QString, QString>;

// The OAuth 1.0 token record and request signer (HMAC-SHA1).
class WSKOAuthAuthentication : public WSKFetcherAuthorizationProtocol
{
public:
    WSKOAuthAuthentication(const QString &signatureMethod, const QString &consumerKey, const QString &privateKey);

    // A record with the installed-application consumer credentials.
    static WSKOAuthAuthentication authForInstalledApp();

    // Forgets the token, its secret and what came with it; consumer values,
    // callback, scope and service provider stay.
    void reset();

    // --- stored values -------------------------------------------------
    const QHash<QString, QString> &paramValues() const { return m_paramValues; }
    void setParamValues(const QHash<QString, QString> &values) { m_paramValues = values; }

    QString realm() const { return m_realm; }
    void setRealm(const QString &realm) { m_realm = realm; }
    // The consumer secret: keys the HMAC, never sent.
    QString privateKey() const { return m_privateKey; }
    void setPrivateKey(const QString &key) { m_privateKey = key; }
    // A set timestamp or nonce replaces the fresh one made for each signing.
    QString timestamp() const;
    void setTimestamp(const QString &timestamp) { m_timestamp = timestamp; }
    QString nonce() const;
    void setNonce(const QString &nonce) { m_nonce = nonce; }
    bool shouldUseParamsToAuthorize() const { return m_shouldUseParamsToAuthorize; }
    void setShouldUseParamsToAuthorize(bool on) { m_shouldUseParamsToAuthorize = on; }
    QVariant userData() const { return m_userData; }
    void setUserData(const QVariant &data) { m_userData = data; }

    // Each getter is a null string when the value is not stored; setting a
    // null string removes it.
    QString consumerKey() const { return value(kOAuthConsumerKey); }
    void setConsumerKey(const QString &v) { setValue(kOAuthConsumerKey, v); }
    QString signatureMethod() const { return value(kOAuthSignatureMethodKey); }
    void setSignatureMethod(const QString &v) { setValue(kOAuthSignatureMethodKey, v); }
    QString version() const { return value(kOAuthVersionKey); }
    void setVersion(const QString &v) { setValue(kOAuthVersionKey, v); }
    QString callback() const { return value(kOAuthCallbackKey); }
    void setCallback(const QString &v) { setValue(kOAuthCallbackKey, v); }
    QString scope() const { return value(kOAuthScopeKey); }
    void setScope(const QString &v) { setValue(kOAuthScopeKey, v); }
    QString token() const { return value(kOAuthTokenKey); }
    void setToken(const QString &v) { setValue(kOAuthTokenKey, v); }
    QString tokenSecret() const { return value(kOAuthTokenSecretKey); }
    void setTokenSecret(const QString &v) { setValue(kOAuthTokenSecretKey, v); }
    QString verifier() const { return value(kOAuthVerifierKey); }
    void setVerifier(const QString &v) { setValue(kOAuthVerifierKey, v); }
    QString callbackConfirmed() const { return value(kOAuthCallbackConfirmedKey); }
    void setCallbackConfirmed(const QString &v) { setValue(kOAuthCallbackConfirmedKey, v); }
    QString domain() const { return value(kOAuthDomainKey); }
    void setDomain(const QString &v) { setValue(kOAuthDomainKey, v); }
    QString hostedDomain() const { return value(kOAuthHostedDomainKey); }
    void setHostedDomain(const QString &v) { setValue(kOAuthHostedDomainKey, v); }
    QString language() const { return value(kOAuthLanguageKey); }
    void setLanguage(const QString &v) { setValue(kOAuthLanguageKey, v); }
    QString mobile() const { return value(kOAuthMobileKey); }
    void setMobile(const QString &v) { setValue(kOAuthMobileKey, v); }
    QString displayName() const { return value(kOAuthDisplayNameKey); }
    void setDisplayName(const QString &v) { setValue(kOAuthDisplayNameKey, v); }
    QString iconURLString() const { return value(kOAuthIconURLKey); }
    void setIconURLString(const QString &v) { setValue(kOAuthIconURLKey, v); }
    QString serviceProvider() const { return value(kServiceProviderKey); }
    void setServiceProvider(const QString &v) { setValue(kServiceProviderKey, v); }
    // Holds the user's NoteStore URL.
    QString userEmail() const override { return value(kUserEmailKey); }
    void setUserEmail(const QString &v) { setValue(kUserEmailKey, v); }
    QString userEmailIsVerified() const { return value(kUserEmailIsVerifiedKey); }
    void setUserEmailIsVerified(const QString &v) { setValue(kUserEmailIsVerifiedKey, v); }

    // True only when the access-token flag is set and the token is non-empty.
    bool hasAccessToken() const;
    void setHasAccessToken(bool on) { m_hasAccessToken = on; }
    bool canAuthorize() const { return hasAccessToken(); }
    // The token once it is an access token, else a null string.
    QString accessToken() const;
    // Stores the token and marks it as an access token.
    void setAccessToken(const QString &token);

    // --- key lists (order matters: the header keeps it) ----------------
    static QStringList tokenRequestKeys();
    static QStringList tokenAuthorizeKeys();
    static QStringList tokenAccessKeys();
    static QStringList tokenResourceKeys();

    // --- request decoration --------------------------------------------
    // Each returns false, leaving the request unchanged, when a signature is
    // asked for and cannot be made (a method other than HMAC-SHA1, a URL that
    // is not absolute, or a query or form body that does not decode).
    bool addRequestTokenHeaderToRequest(HttpRequest &request) const;
    bool addRequestTokenParamsToRequest(HttpRequest &request) const;
    bool addAuthorizeTokenHeaderToRequest(HttpRequest &request) const;
    bool addAuthorizeTokenParamsToRequest(HttpRequest &request) const;
    bool addAccessTokenHeaderToRequest(HttpRequest &request) const;
    bool addAccessTokenParamsToRequest(HttpRequest &request) const;
    bool addResourceTokenHeaderToRequest(HttpRequest &request) const;
    bool addResourceTokenParamsToRequest(HttpRequest &request) const;

    // Signs and sets the "Authorization" header; pairs not named "oauth_..."
    // go to the query.
    bool addAuthorizationHeaderToRequest(HttpRequest &request, const QStringList &keys) const;
    bool addParamsForKeys(const QStringList &keys, HttpRequest &request) const;
    // Appends the pairs, unsorted, to the URL's query. The path keeps its
    // escapes; user, password and fragment are dropped.
    static void addParams(const OAuthParameterList &params, HttpRequest &request);

    // Gathers the stored values of `keys` in list order, then nonce,
    // timestamp and signature when the list asks for them. `request` may be
    // null. Without a possible signature the pair is left out.
    OAuthParameterList paramsForKeys(const QStringList &keys, const HttpRequest *request) const;
    // Base64 HMAC-SHA1 signature, or a null string when none can be made.
    QString signatureForParams(const OAuthParameterList &params, const HttpRequest *request) const;
    // The base-string URL: lower-case scheme and host, the port only when it
    // is not the scheme's default, the path exactly as written. Null when
    // the URL text is not absolute.
    static QString normalizedRequestURLStringForRequest(const HttpRequest &request);

    static QString paramStringForParams(const OAuthParameterList &params, const QString &joiner, bool shouldQuote,
                                        bool shouldSort);
    // Appends the pairs of a query string or form body ("+" is a space).
    // False when some piece does not decode; that piece is appended with an
    // empty name and value.
    static bool addQueryString(const QString &query, OAuthParameterList &params);
    static bool addQueryFromRequest(const HttpRequest &request, OAuthParameterList &params);
    static bool addBodyFromRequest(const HttpRequest &request, OAuthParameterList &params);
    // RFC 3986 unreserved characters stay, every other UTF-8 byte becomes
    // %XX (upper case). A null string stays null.
    static QString encodedOAuthParameterForString(const QString &string);
    // Strict: nothing for a bad escape or bytes that are not UTF-8. "+" stays.
    static std::optional<QString> unencodedOAuthParameterForString(const QString &string);
    static QString HMACSHA1HashForConsumerSecret(const QString &consumerSecret, const QString &tokenSecret,
                                                 const QString &body);
    // Null for null data.
    static QString stringWithBase64ForData(const QByteArray &data);

    // --- replies and persistence ---------------------------------------
    // Nothing for a null string or data that is not UTF-8. Pairs that do not
    // decode are skipped.
    static std::optional<OAuthResponseDictionary> dictionaryWithResponseString(const QString &string);
    static std::optional<OAuthResponseDictionary> dictionaryWithResponseData(const QByteArray &data);
    void setKeysForResponseDictionary(const OAuthResponseDictionary &dictionary);
    void setKeysForResponseData(const QByteArray &data);
    void setKeysForResponseString(const QString &string);

    // Token, token secret, service provider, NoteStore URL, verified mark.
    QString persistenceResponseString() const;
    // Reads a persisted string back. True only when it carried a token, so a
    // stored string without one is never taken for a usable record.
    bool setKeysForPersistenceResponseString(const QString &string);

    // --- helpers offered for callers -----------------------------------
    static QString scopeWithStrings(const QStringList &strings);
    static QString normalizeQueryString(const QString &query);

    // --- WSKFetcherAuthorizationProtocol -------------------------------
    void authorizeRequest(HttpRequest &request, const FinishedCallback &finished) override;
    bool authorizeRequest(HttpRequest &request) override;
    void stopAuthorization() override {}
    bool isAuthorizingRequest(const HttpRequest &) const override { return false; }
    bool isAuthorizedRequest(const HttpRequest &request) const override;

private:
    QString value(const char *key) const { return m_paramValues.value(QString::fromLatin1(key)); }
    void setValue(const char *key, const QString &value);

    QHash<QString, QString> m_paramValues;
    QString m_realm;
    QString m_privateKey;
    QString m_timestamp;
    QString m_nonce;
    bool m_hasAccessToken = false;
    bool m_shouldUseParamsToAuthorize = false;
    QVariant m_userData;
};
