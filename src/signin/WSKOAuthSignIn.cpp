#include "signin/WSKOAuthSignIn.h"

#include "signin/WSKHTTPFetcher.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QDebug>

#include <utility>

namespace {

Error oauthError(long code, const char *description, const QByteArray &reply = {})
{
    QVariantMap userInfo;
    if (!reply.isEmpty())
        userInfo.insert(QStringLiteral("data"), reply);
    return Error(QString::fromLatin1(kWSKOAuthErrorDomain), code, localizedString(description), {}, {}, userInfo);
}

Error cannotSignError()
{
    return oauthError(kWSKOAuthErrorCodeCannotAuthorize, "The sign-in request could not be signed.");
}

} // namespace

WSKOAuthSignIn::WSKOAuthSignIn(std::shared_ptr<WSKOAuthAuthentication> auth, const QUrl &requestTokenURL,
                               const QUrl &authorizeTokenURL, const QUrl &accessTokenURL,
                               WSKOAuthSignInDelegate *delegate, QObject *parent)
    : QObject(parent), m_auth(std::move(auth)), m_requestURL(requestTokenURL), m_authorizeURL(authorizeTokenURL),
      m_accessURL(accessTokenURL), m_delegate(delegate), m_reachabilityFactory(WSKSystemReachability)
{
    Q_ASSERT_X(m_auth, "WSKOAuthSignIn", "authentication object required");
    m_networkLossTimer.setSingleShot(true);
    connect(&m_networkLossTimer, &QTimer::timeout, this, &WSKOAuthSignIn::reachabilityTimerFired);
}

WSKOAuthSignIn::~WSKOAuthSignIn()
{
    stopReachabilityCheck();
    if (m_pendingFetcher)
        m_pendingFetcher->stopFetching();
}

bool WSKOAuthSignIn::startSigningIn()
{
    m_auth->reset();
    HttpRequest request(m_requestURL.toString(QUrl::FullyEncoded));
    if (!m_auth->addRequestTokenHeaderToRequest(request)) {
        invokeFinalCallbackWithError(cannotSignError());
        return false;
    }
    std::shared_ptr<WSKHTTPFetcher> fetcher = fetcherWithRequest(request, QStringLiteral("request token for %1"));
    // With this sign-in as delegate, a fetch outliving it calls nobody.
    const bool began = fetcher->beginFetchWithDelegate(
        this, [this](WSKHTTPFetcher &f, const QByteArray &data, const OptionalError &error) {
            requestFetcher(f, data, error);
        });
    if (began)
        setPendingFetcher(fetcher, QString::fromLatin1(kWSKOAuthFetchTypeRequest));
    return began;
}

std::shared_ptr<WSKHTTPFetcher> WSKOAuthSignIn::fetcherWithRequest(const HttpRequest &request, const QString &comment)
{
    std::shared_ptr<WSKHTTPFetcher> fetcher = WSKHTTPFetcher::fetcherWithRequest(request);
    fetcher->setCommentWithFormat(comment, QUrl(request.url).host());
    return fetcher;
}

void WSKOAuthSignIn::requestFetcher(WSKHTTPFetcher &fetcher, const QByteArray &data, const OptionalError &error)
{
    if (&fetcher == m_pendingFetcher.get())
        setPendingFetcher(nullptr, {});
    if (error) {
        invokeFinalCallbackWithError(error);
        return;
    }
    m_auth->setKeysForResponseData(data);
    // Without a token there is no page to show: end rather than wait forever.
    if (m_auth->token().isEmpty()) {
        invokeFinalCallbackWithError(
            oauthError(kWSKOAuthErrorCodeNoRequestToken, "The sign-in service sent no request token.", data));
        return;
    }
    post(kWSKOAuthUserWillSignIn);
    emit userWillSignIn();
    startWebRequest();
}

void WSKOAuthSignIn::startWebRequest()
{
    if (m_auth->token().isEmpty() || !m_delegate)
        return;
    HttpRequest request(m_authorizeURL.toString(QUrl::FullyEncoded));
    m_auth->addAuthorizeTokenParamsToRequest(request);
    m_delegate->signIn(this, request);
    // The delegate may have cancelled from inside its call.
    if (m_delegate)
        startReachabilityCheck();
}

bool WSKOAuthSignIn::isCallbackURL(const QUrl &url, const QString &callback)
{
    if (callback.isEmpty())
        return false;
    const QUrl callbackURL(callback);
    return url.host() == callbackURL.host() && url.path(QUrl::FullyEncoded) == callbackURL.path(QUrl::FullyEncoded);
}

bool WSKOAuthSignIn::requestRedirectedToRequest(const QUrl &url)
{
    const QString callback = m_auth->callback();
    Q_ASSERT_X(!callback.isEmpty(), "WSKOAuthSignIn", "WSKOAuthSignIn: No authentication callback specified");
    if (!isCallbackURL(url, callback))
        return false;
    // A sign-in that has ended takes nothing from a late redirect.
    if (!m_delegate)
        return true;

    closeTheWindow();
    post(kWSKOAuthUserHasSignedIn);
    emit userHasSignedIn();
    m_auth->setKeysForResponseString(url.query(QUrl::FullyEncoded));

    HttpRequest request(m_accessURL.toString(QUrl::FullyEncoded));
    if (!m_auth->addAccessTokenHeaderToRequest(request)) {
        invokeFinalCallbackWithError(cannotSignError());
        return true;
    }
    std::shared_ptr<WSKHTTPFetcher> fetcher = fetcherWithRequest(request, QStringLiteral("access token for %1"));
    // Pending before it begins: a fetch that fails at once calls back inside
    // the begin and must find itself pending.
    setPendingFetcher(fetcher, QString::fromLatin1(kWSKOAuthFetchTypeAccess));
    fetcher->beginFetchWithDelegate(this, [this](WSKHTTPFetcher &f, const QByteArray &data,
                                                 const OptionalError &error) { accessFetcher(f, data, error); });
    return true;
}

void WSKOAuthSignIn::accessFetcher(WSKHTTPFetcher &fetcher, const QByteArray &data, const OptionalError &error)
{
    if (&fetcher == m_pendingFetcher.get())
        setPendingFetcher(nullptr, {});
    if (error) {
        invokeFinalCallbackWithError(error);
        return;
    }
    // The record still holds the authorised request token: it must not pass
    // for the access token when the reply brings none.
    m_auth->setToken({});
    m_auth->setTokenSecret({});
    m_auth->setKeysForResponseData(data);
    if (m_auth->token().isEmpty()) {
        invokeFinalCallbackWithError(
            oauthError(kWSKOAuthErrorCodeNoAccessToken, "The sign-in service sent no access token.", data));
        return;
    }
    if (m_requiresUserEmail && m_auth->userEmail().isEmpty()) {
        invokeFinalCallbackWithError(
            oauthError(kWSKOAuthErrorCodeNoUserEmail, "The sign-in service sent no address for your notes.", data));
        return;
    }
    m_auth->setHasAccessToken(true);
    invokeFinalCallbackWithError(std::nullopt);
}

void WSKOAuthSignIn::closeTheWindow()
{
    stopReachabilityCheck();
    if (!m_delegate)
        return;
    // A window closed from here is not closed by the user, whatever the
    // delegate makes of it.
    const bool wasClosing = std::exchange(m_closingTheWindow, true);
    m_delegate->signIn(this, std::optional<HttpRequest>());
    m_closingTheWindow = wasClosing;
}

void WSKOAuthSignIn::invokeFinalCallbackWithError(const OptionalError &error)
{
    stopReachabilityCheck();
    // Cleared before the call, so that nothing the delegate does from inside
    // it can bring a second one.
    if (WSKOAuthSignInDelegate *delegate = std::exchange(m_delegate, nullptr))
        delegate->signIn(this, m_auth, error);
}

void WSKOAuthSignIn::windowWasClosed()
{
    if (m_closingTheWindow)
        return;
    stopReachabilityCheck();
    stopPendingFetch();
    invokeFinalCallbackWithError(oauthError(kWSKOAuthErrorCodeWindowClosed, "The sign-in window was closed."));
}

void WSKOAuthSignIn::cancelSigningIn()
{
    stopPendingFetch();
    closeTheWindow();
    m_delegate = nullptr;
}

void WSKOAuthSignIn::stopPendingFetch()
{
    if (std::shared_ptr<WSKHTTPFetcher> fetcher = m_pendingFetcher) {
        fetcher->stopFetching();
        setPendingFetcher(nullptr, {});
    }
}

void WSKOAuthSignIn::setPendingFetcher(std::shared_ptr<WSKHTTPFetcher> fetcher, const QString &fetchType)
{
    if (fetcher != m_pendingFetcher && m_pendingFetcher && !m_pendingFetchType.isEmpty())
        notifyFetchIsRunning(false, m_pendingFetchType);
    if (fetcher) {
        fetcher->setProperty(fetchType, QString::fromLatin1(kWSKOAuthFetchTypeKey));
        notifyFetchIsRunning(true, fetchType);
    }
    m_pendingFetchType = fetcher ? fetchType : QString();
    m_pendingFetcher = std::move(fetcher);
}

void WSKOAuthSignIn::notifyFetchIsRunning(bool running, const QString &fetchType)
{
    post(running ? kWSKOAuthFetchStarted : kWSKOAuthFetchStopped,
         {{QString::fromLatin1(kWSKOAuthFetchTypeKey), fetchType}});
    if (running)
        emit fetchStarted(fetchType);
    else
        emit fetchStopped(fetchType);
}

void WSKOAuthSignIn::post(const char *name, const QVariantMap &userInfo)
{
    emit notificationPosted(QString::fromLatin1(name), userInfo);
}

void WSKOAuthSignIn::startReachabilityCheck()
{
    if (m_networkLossTimeoutInterval <= 0 || m_reachability || !m_reachabilityFactory)
        return;
    m_reachability = m_reachabilityFactory(m_authorizeURL.host());
    if (m_reachability)
        connect(m_reachability.get(), &WSKReachabilitySource::reachabilityChanged, this,
                &WSKOAuthSignIn::reachabilityTarget);
}

void WSKOAuthSignIn::stopReachabilityCheck()
{
    destroyUnreachabilityTimer();
    m_reachability.reset();
}

void WSKOAuthSignIn::reachabilityTarget(bool reachable)
{
    if (reachable) {
        destroyUnreachabilityTimer();
        if (m_hasNotifiedNetworkLoss) {
            m_hasNotifiedNetworkLoss = false;
            post(kWSKOAuthNetworkFound);
            emit networkFound();
        }
        return;
    }
    if (!m_networkLossTimer.isActive() && m_networkLossTimeoutInterval > 0 && !m_hasNotifiedNetworkLoss)
        m_networkLossTimer.start(qMax(1, qRound(m_networkLossTimeoutInterval * 1000)));
}

void WSKOAuthSignIn::reachabilityTimerFired()
{
    if (!m_hasNotifiedNetworkLoss) {
        m_hasNotifiedNetworkLoss = true;
        post(kWSKOAuthNetworkLost);
        emit networkLost();
    }
    destroyUnreachabilityTimer();
}

void WSKOAuthSignIn::destroyUnreachabilityTimer()
{
    m_networkLossTimer.stop();
}
