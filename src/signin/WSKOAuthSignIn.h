#pragma once

#include "foundation/Error.h"
#include "signin/HttpRequest.h"
#include "signin/WSKReachability.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariant>

#include <memory>
#include <optional>

class WSKHTTPFetcher;
class WSKOAuthAuthentication;
class WSKOAuthSignIn;

// Names of what the sign-in posts, each equal to its own name; see
// WSKOAuthSignIn::notificationPosted.
inline constexpr char kWSKOAuthFetchStarted[] = "kWSKOAuthFetchStarted";
inline constexpr char kWSKOAuthFetchStopped[] = "kWSKOAuthFetchStopped";
inline constexpr char kWSKOAuthUserWillSignIn[] = "kWSKOAuthUserWillSignIn";
inline constexpr char kWSKOAuthUserHasSignedIn[] = "kWSKOAuthUserHasSignedIn";
inline constexpr char kWSKOAuthNetworkLost[] = "kWSKOAuthNetworkLost";
inline constexpr char kWSKOAuthNetworkFound[] = "kWSKOAuthNetworkFound";

// The fetch type kept on each token fetcher, and the user-info key under
// which kWSKOAuthFetchStarted and kWSKOAuthFetchStopped carry it.
inline constexpr char kWSKOAuthFetchTypeKey[] = "FetchType";
inline constexpr char kWSKOAuthFetchTypeRequest[] = "request";
inline constexpr char kWSKOAuthFetchTypeAccess[] = "access";
inline constexpr char kWSKOAuthFetchTypeUserInfo[] = "userInfo";

// Codes of kWSKOAuthErrorDomain besides -1 and -1000. Each error of these
// carries the reply body under "data".
// The request-token reply held no token.
inline constexpr long kWSKOAuthErrorCodeNoRequestToken = -1001;
// The access-token reply held no token.
inline constexpr long kWSKOAuthErrorCodeNoAccessToken = -1002;
// The access-token reply held no NoteStore URL although one was required.
inline constexpr long kWSKOAuthErrorCodeNoUserEmail = -1003;

// What the sign-in asks of the window that shows its page.
class WSKOAuthSignInDelegate
{
public:
    virtual ~WSKOAuthSignInDelegate() = default;
    // Shows the page and loads `request`; closes the page when there is none.
    virtual void signIn(WSKOAuthSignIn *signIn, const std::optional<HttpRequest> &request) = 0;
    // The one final callback: the record, and the error or nothing.
    virtual void signIn(WSKOAuthSignIn *signIn, const std::shared_ptr<WSKOAuthAuthentication> &auth,
                        const OptionalError &error) = 0;
};

// Drives a three-step OAuth 1.0 sign-in: request token, the authorisation
// page shown by the delegate, access token. Runs on the thread that starts
// it; calls the delegate's final callback at most once and never after
// cancelSigningIn().
class WSKOAuthSignIn : public QObject
{
    Q_OBJECT
public:
    WSKOAuthSignIn(std::shared_ptr<WSKOAuthAuthentication> auth, const QUrl &requestTokenURL,
                   const QUrl &authorizeTokenURL, const QUrl &accessTokenURL, WSKOAuthSignInDelegate *delegate,
                   QObject *parent = nullptr);
    ~WSKOAuthSignIn() override;

    // Starts the request-token fetch; false when it did not begin, in which
    // case the final callback has already run.
    bool startSigningIn();
    // Ends without a final callback.
    void cancelSigningIn();
    // The user closed the page before the callback: ends with -1000. Not
    // taken from inside a close this sign-in asked for.
    void windowWasClosed();
    // The delegate passes every main-frame request of its page. True means it
    // is the callback: the access-token fetch has started and the page must
    // not load it.
    bool requestRedirectedToRequest(const QUrl &url);

    // Whether `url` is the callback: same host and same path as `callback`.
    static bool isCallbackURL(const QUrl &url, const QString &callback);

    WSKOAuthSignInDelegate *delegate() const { return m_delegate; }
    std::shared_ptr<WSKOAuthAuthentication> authentication() const { return m_auth; }
    QUrl requestTokenURL() const { return m_requestURL; }
    QUrl authorizeTokenURL() const { return m_authorizeURL; }
    QUrl accessTokenURL() const { return m_accessURL; }
    QVariant userData() const { return m_userData; }
    void setUserData(const QVariant &data) { m_userData = data; }

    // Seconds the authorisation host may stay unreachable before networkLost;
    // 0 or less switches the watch off.
    double networkLossTimeoutInterval() const { return m_networkLossTimeoutInterval; }
    void setNetworkLossTimeoutInterval(double seconds) { m_networkLossTimeoutInterval = seconds; }
    // Where the watch gets its source; QNetworkInformation unless replaced.
    void setReachabilityFactory(WSKReachabilityFactory factory) { m_reachabilityFactory = std::move(factory); }

    // When set, an access-token reply without a NoteStore URL ("ruru_noteStoreUrl")
    // ends the sign-in with kWSKOAuthErrorCodeNoUserEmail.
    bool requiresUserEmail() const { return m_requiresUserEmail; }
    void setRequiresUserEmail(bool on) { m_requiresUserEmail = on; }

    bool isWatchingReachability() const { return m_reachability != nullptr; }

signals:
    // Every notification, under its name (kWSKOAuth...), with its user info;
    // each also comes as the signal of its own below.
    void notificationPosted(const QString &name, const QVariantMap &userInfo);
    void fetchStarted(const QString &fetchType);
    void fetchStopped(const QString &fetchType);
    void userWillSignIn();
    void userHasSignedIn();
    void networkLost();
    void networkFound();

private:
    std::shared_ptr<WSKHTTPFetcher> fetcherWithRequest(const HttpRequest &request, const QString &comment);
    void requestFetcher(WSKHTTPFetcher &fetcher, const QByteArray &data, const OptionalError &error);
    void accessFetcher(WSKHTTPFetcher &fetcher, const QByteArray &data, const OptionalError &error);
    void startWebRequest();
    void closeTheWindow();
    void invokeFinalCallbackWithError(const OptionalError &error);
    void setPendingFetcher(std::shared_ptr<WSKHTTPFetcher> fetcher, const QString &fetchType);
    void notifyFetchIsRunning(bool running, const QString &fetchType);
    void post(const char *name, const QVariantMap &userInfo = {});
    void stopPendingFetch();
    void startReachabilityCheck();
    void stopReachabilityCheck();
    void reachabilityTarget(bool reachable);
    void reachabilityTimerFired();
    void destroyUnreachabilityTimer();

    std::shared_ptr<WSKOAuthAuthentication> m_auth;
    QUrl m_requestURL;
    QUrl m_authorizeURL;
    QUrl m_accessURL;
    WSKOAuthSignInDelegate *m_delegate = nullptr;
    std::shared_ptr<WSKHTTPFetcher> m_pendingFetcher;
    QString m_pendingFetchType;
    WSKReachabilityFactory m_reachabilityFactory;
    std::unique_ptr<WSKReachabilitySource> m_reachability;
    QTimer m_networkLossTimer;
    double m_networkLossTimeoutInterval = 30.0;
    bool m_hasNotifiedNetworkLoss = false;
    bool m_closingTheWindow = false;
    bool m_requiresUserEmail = false;
    QVariant m_userData;
};
