#include "signin/WSKHTTPFetcher.h"

#include "foundation/SyncHttp.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMetaMethod>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSet>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <atomic>

namespace {

const QString kCookieHeader = QStringLiteral("Cookie");
const QString kAuthorizationHeader = QStringLiteral("Authorization");
const QString kMethodOverrideHeader = QStringLiteral("X-HTTP-Method-Override");

std::atomic<quint32> temporaryFileCounter{0};

WSKConnectionClass &currentConnectionClass()
{
    static WSKConnectionClass connectionClass = WSKNetworkConnectionClass();
    return connectionClass;
}

QUrl urlOf(const QString &text)
{
    return QUrl::fromEncoded(text.toUtf8());
}

// Scheme, host and port: what a credential or a caller's cookie was meant for.
bool sameOrigin(const QString &a, const QString &b)
{
    const QUrl ua = urlOf(a), ub = urlOf(b);
    const auto defaultPort = [](const QUrl &url) {
        return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
    };
    return ua.scheme().compare(ub.scheme(), Qt::CaseInsensitive) == 0
           && ua.host().compare(ub.host(), Qt::CaseInsensitive) == 0 && defaultPort(ua) == defaultPort(ub);
}

Error statusError(int status, const QByteArray &body)
{
    QVariantMap userInfo;
    if (!body.isEmpty())
        userInfo.insert(QString::fromLatin1(kWSKHTTPFetcherStatusDataKey), body);
    return Error(QString::fromLatin1(kWSKHTTPFetcherStatusDomain), status,
                 localizedString("The server answered with HTTP status %1.").arg(status), {}, {}, userInfo);
}

Error fileError(const QFileDevice &file)
{
    return Error(QString::fromLatin1(kWSKFileErrorDomain), file.error(), file.errorString(), {}, {},
                 {{QStringLiteral("path"), file.fileName()}});
}

bool isRetryableError(const Error &error)
{
    const QString statusDomain = QString::fromLatin1(kWSKHTTPFetcherStatusDomain);
    return error.is(statusDomain, 408) || error.is(statusDomain, 503) || error.is(statusDomain, 504)
           || error.is(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorTimedOut)
           || error.is(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorNetworkConnectionLost);
}

QString pointerText(const void *p)
{
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(p), 16);
}

// The main thread's running fetches, stopped when the application is torn
// down: nothing would ever end them, and each keeps itself alive.
struct RunningFetches
{
    QMutex lock;
    QSet<WSKHTTPFetcher *> fetches;
};

RunningFetches &runningFetches()
{
    // Never destroyed: a fetcher may outlive the other statics.
    static RunningFetches *const running = new RunningFetches;
    return *running;
}

void unregisterRunningFetch(WSKHTTPFetcher *fetcher)
{
    RunningFetches &running = runningFetches();
    QMutexLocker locker(&running.lock);
    running.fetches.remove(fetcher);
}

bool isApplicationThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void stopRunningFetches();

void registerRunningFetch(WSKHTTPFetcher *fetcher)
{
    if (!isApplicationThread())
        return;
    static QPointer<QCoreApplication> routineAddedFor;
    if (routineAddedFor != QCoreApplication::instance()) {
        qAddPostRoutine(stopRunningFetches);
        routineAddedFor = QCoreApplication::instance();
    }
    RunningFetches &running = runningFetches();
    QMutexLocker locker(&running.lock);
    running.fetches.insert(fetcher);
}

void stopRunningFetches()
{
    std::vector<std::shared_ptr<WSKHTTPFetcher>> fetchers;
    {
        RunningFetches &running = runningFetches();
        QMutexLocker locker(&running.lock);
        // A running fetch is kept alive by its connection.
        for (WSKHTTPFetcher *fetcher : std::as_const(running.fetches))
            if (auto alive = fetcher->weak_from_this().lock())
                fetchers.push_back(std::move(alive));
        running.fetches.clear();
    }
    for (const auto &fetcher : fetchers)
        fetcher->stopFetching();
}

} // namespace

// Forwards a connection's events to the fetcher and, while the fetch runs,
// keeps the fetcher alive. The fetcher owns its connection, so it detaches
// the relay as soon as the fetch ends (finished, failed, stopped or
// retried): the two never keep each other alive, even when the connection
// itself is only deleted later.
class WSKHTTPFetcher::ConnectionRelay final : public WSKURLConnectionDelegate
{
public:
    explicit ConnectionRelay(std::shared_ptr<WSKURLConnectionDelegate> fetcher) : m_fetcher(std::move(fetcher)) {}

    void detach()
    {
        // The fetcher may go with this reference, after the lock is released.
        std::shared_ptr<WSKURLConnectionDelegate> gone;
        QMutexLocker locker(&m_lock);
        gone.swap(m_fetcher);
    }

    std::optional<HttpRequest> connectionWillSendRequest(WSKURLConnection *connection, const HttpRequest &request,
                                                         const WSKURLResponse *redirectResponse) override
    {
        const auto fetcher = target();
        return fetcher ? fetcher->connectionWillSendRequest(connection, request, redirectResponse) : std::nullopt;
    }
    void connectionDidReceiveResponse(WSKURLConnection *connection, const WSKURLResponse &response) override
    {
        if (const auto fetcher = target())
            fetcher->connectionDidReceiveResponse(connection, response);
    }
    void connectionDidReceiveData(WSKURLConnection *connection, const QByteArray &data) override
    {
        if (const auto fetcher = target())
            fetcher->connectionDidReceiveData(connection, data);
    }
    void connectionDidSendBodyData(WSKURLConnection *connection, qint64 bytesWritten, qint64 totalBytesWritten,
                                   qint64 totalBytesExpectedToWrite) override
    {
        if (const auto fetcher = target())
            fetcher->connectionDidSendBodyData(connection, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
    }
    void connectionDidFinishLoading(WSKURLConnection *connection) override
    {
        if (const auto fetcher = target())
            fetcher->connectionDidFinishLoading(connection);
    }
    void connectionDidFailWithError(WSKURLConnection *connection, const Error &error) override
    {
        if (const auto fetcher = target())
            fetcher->connectionDidFailWithError(connection, error);
    }
    void connectionDidReceiveAuthenticationChallenge(WSKURLConnection *connection,
                                                     const WSKAuthenticationChallenge &challenge) override
    {
        if (const auto fetcher = target())
            fetcher->connectionDidReceiveAuthenticationChallenge(connection, challenge);
    }

private:
    std::shared_ptr<WSKURLConnectionDelegate> target()
    {
        QMutexLocker locker(&m_lock);
        return m_fetcher;
    }

    QMutex m_lock;
    std::shared_ptr<WSKURLConnectionDelegate> m_fetcher;
};

void WSKHTTPFetcher::LaterDeleter::operator()(QObject *object) const
{
    if (QCoreApplication::closingDown() && object->thread() == QThread::currentThread())
        delete object;
    else
        object->deleteLater();
}

void WSKHTTPFetcher::releaseConnection()
{
    unregisterRunningFetch(this);
    if (m_relay) {
        m_relay->detach();
        m_relay.reset();
    }
    m_connection.reset();
}

// --- Notifier ------------------------------------------------------------------

WSKHTTPFetcherNotifier *WSKHTTPFetcherNotifier::instance()
{
    static WSKHTTPFetcherNotifier notifier;
    return &notifier;
}

void WSKHTTPFetcherNotifier::post(const char *name, WSKHTTPFetcher *fetcher)
{
    const QByteArrayView n(name);
    emit notificationPosted(QString::fromLatin1(name), fetcher);
    if (n == kWSKHTTPFetcherStartedNotification)
        emit fetcherStarted(fetcher);
    else if (n == kWSKHTTPFetcherStoppedNotification)
        emit fetcherStopped(fetcher);
    else if (n == kWSKHTTPFetcherRetryDelayStartedNotification)
        emit retryDelayStarted(fetcher);
    else if (n == kWSKHTTPFetcherRetryDelayStoppedNotification)
        emit retryDelayStopped(fetcher);
}

// --- Creation ------------------------------------------------------------------

std::shared_ptr<WSKHTTPFetcher> WSKHTTPFetcher::fetcherWithRequest(std::optional<HttpRequest> request)
{
    return std::make_shared<WSKHTTPFetcher>(Passkey{}, std::move(request));
}

std::shared_ptr<WSKHTTPFetcher> WSKHTTPFetcher::fetcherWithURL(const QUrl &url)
{
    return fetcherWithRequest(HttpRequest(url.toString(QUrl::FullyEncoded)));
}

std::shared_ptr<WSKHTTPFetcher> WSKHTTPFetcher::fetcherWithURLString(const QString &urlString)
{
    return fetcherWithURL(QUrl(urlString));
}

WSKHTTPFetcher::WSKHTTPFetcher(Passkey, std::optional<HttpRequest> request) : m_request(std::move(request))
{
    setCookieStorageMethod(staticCookieStorage() ? cookieStorageMethodStatic : cookieStorageMethodSystemDefault);
}

WSKHTTPFetcher::~WSKHTTPFetcher()
{
    unregisterRunningFetch(this);
    if (m_isStopNotificationNeeded) {
        const QString url = m_request ? m_request->url : QString();
        qWarning().noquote() << "unbalanced fetcher notification for" << url;
        Q_ASSERT_X(false, "~WSKHTTPFetcher", "unbalanced fetcher notification");
    }
}

std::shared_ptr<WSKCookieStorage> WSKHTTPFetcher::staticCookieStorage()
{
    static const std::shared_ptr<WSKCookieStorage> jar = std::make_shared<WSKCookieStorage>();
    return jar;
}

WSKConnectionClass WSKHTTPFetcher::connectionClass()
{
    return currentConnectionClass();
}

void WSKHTTPFetcher::setConnectionClass(WSKConnectionClass connectionClass)
{
    currentConnectionClass() = connectionClass.create ? std::move(connectionClass) : WSKNetworkConnectionClass();
}

std::shared_ptr<WSKURLConnectionDelegate> WSKHTTPFetcher::asConnectionDelegate()
{
    return std::shared_ptr<WSKURLConnectionDelegate>(shared_from_this(), static_cast<WSKURLConnectionDelegate *>(this));
}

QString WSKHTTPFetcher::description() const
{
    return QStringLiteral("WSKHTTPFetcher %1 (%2)").arg(pointerText(this), m_request ? m_request->url : QString());
}

// --- Starting ------------------------------------------------------------------

bool WSKHTTPFetcher::beginFetchWithDelegate(QObject *delegate, FinishedSelector didFinishSelector)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    m_delegate = delegate;
    m_finishedSel = std::move(didFinishSelector);
    // A Cookie header the fetcher did not write is the caller's own.
    if (m_request && !m_connection) {
        const QString cookie = m_request->header(kCookieHeader);
        if (m_callerURL.isNull() || cookie != m_writtenCookieHeader) {
            m_callerCookieHeader = cookie;
            m_callerURL = m_request->url;
        }
    }
    return beginFetchMayDelay(true, true);
}

bool WSKHTTPFetcher::beginFetchWithCompletionHandler(CompletionBlock handler)
{
    m_completionBlock = std::move(handler);
    return beginFetchWithDelegate(m_delegate, nullptr);
}

bool WSKHTTPFetcher::beginFetchMayDelay(bool mayDelay, bool mayAuthorize)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    if (m_connection) {
        qWarning().noquote() << "fetch object" << description() << "being reused; this should never happen";
        return failToBeginFetchWithError(std::nullopt);
    }
    if (!m_request) {
        qWarning("beginFetchWithDelegate requires a request");
        return failToBeginFetchWithError(std::nullopt);
    }

    m_downloadedData.clear();
    m_downloadedLength = 0;

    if (mayDelay && m_service && !m_service->fetcherShouldBeginFetching(*this))
        return true;

    const QString effectiveMethod = m_request->hasHeader(kMethodOverrideHeader)
                                        ? m_request->header(kMethodOverrideHeader)
                                        : m_request->method;
    bool isGet = effectiveMethod.isEmpty() || effectiveMethod == QLatin1String("GET");

    std::shared_ptr<QIODevice> bodyStream;
    if (!m_postData.isNull() || m_postStream) {
        if (isGet) {
            m_request->method = QStringLiteral("POST");
            isGet = false;
        }
        if (!m_postData.isNull())
            m_request->body = m_postData;
        else
            bodyStream = m_postStream;
    }

    if (mayAuthorize && m_authorizer && !m_authorizer->isAuthorizedRequest(*m_request))
        return authorizeRequest();

    if (m_fetchHistory)
        m_fetchHistory->updateRequest(*m_request, isGet);

    if (m_isRetryEnabled && m_maxRetryInterval <= -1)
        m_maxRetryInterval = (isGet || effectiveMethod == QLatin1String("HEAD")) ? 60.0 : 600.0;

    addCookiesToRequest(*m_request);

    if (!m_downloadPath.isEmpty()) {
        QString directory = QFileInfo(m_downloadPath).absolutePath();
        if (!QDir(directory).exists())
            directory = QDir::tempPath();
        // Beside the target, so the finished file can be renamed into place.
        const QString name = QStringLiteral("wskhttpfetcher_%1_%2")
                                 .arg(++temporaryFileCounter)
                                 .arg(QRandomGenerator::global()->generate());
        auto file = std::make_unique<QFile>(QDir(directory).filePath(name));
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return failToBeginFetchWithError(fileError(*file));
        m_temporaryDownloadPath = file->fileName();
        m_downloadFileHandle = std::move(file);
    }

    const WSKConnectionClass connectionClass = WSKHTTPFetcher::connectionClass();
    if (m_delegateQueue && !connectionClass.takesDelegateQueue)
        m_delegateQueue = nullptr;

    WSKConnectionRequest connectionRequest{*m_request, bodyStream,
                                           m_cookieStorageMethod == cookieStorageMethodSystemDefault};
    m_relay = std::make_shared<ConnectionRelay>(asConnectionDelegate());
    m_connection.reset(connectionClass.create(connectionRequest, m_relay));
    m_hasConnectionEnded = false;
    if (!m_connection) {
        releaseConnection();
        qWarning("beginFetchWithDelegate could not create a connection");
        return failToBeginFetchWithError(std::nullopt);
    }
    if (m_delegateQueue)
        m_connection->setDelegateQueue(m_delegateQueue);
    if (!m_downloadFileHandle)
        m_downloadedData = QByteArray("");

    registerRunningFetch(this);
    m_isStopNotificationNeeded = true;
    WSKHTTPFetcherNotifier::instance()->post(kWSKHTTPFetcherStartedNotification, this);
    m_connection->start();
    return true;
}

bool WSKHTTPFetcher::authorizeRequest()
{
    const auto self = shared_from_this();
    m_authorizer->authorizeRequest(*m_request, [self](WSKFetcherAuthorizationProtocol *, HttpRequest &,
                                                      const OptionalError &error) { self->authorizerFinished(error); });
    return true;
}

void WSKHTTPFetcher::authorizerFinished(const OptionalError &error)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    if (error)
        failToBeginFetchWithError(error);
    else
        beginFetchMayDelay(false, false);
}

bool WSKHTTPFetcher::failToBeginFetchWithError(OptionalError error)
{
    const auto self = shared_from_this();
    if (!error)
        error = Error(QString::fromLatin1(kWSKHTTPFetcherErrorDomain), kWSKHTTPFetcherErrorDownloadFailed,
                      localizedString("The request could not be started."));

    if (m_delegateQueue) {
        // The callbacks go with the operation: they are released below.
        QPointer<QObject> delegate = m_delegate;
        FinishedSelector selector = m_finishedSel;
        CompletionBlock block = m_completionBlock;
        QMetaObject::invokeMethod(
            m_delegateQueue.data(),
            [self, delegate, selector, block, error] {
                if (delegate && selector)
                    selector(*self, QByteArray(), error);
                if (block)
                    block(QByteArray(), error);
            },
            Qt::QueuedConnection);
    } else {
        invokeFinishedCallbacks(QByteArray(), error);
    }

    releaseCallbacks();
    if (m_service)
        m_service->fetcherDidStop(*this);
    m_authorizer = nullptr;
    removeTemporaryDownloadFile();
    return false;
}

// --- Cookies -------------------------------------------------------------------

void WSKHTTPFetcher::addCookiesToRequest(HttpRequest &request)
{
    // Built afresh for each URL: a caller's cookie stays with its own origin
    // and the jar's cookies are never sent twice.
    QStringList parts;
    if (!m_callerCookieHeader.isEmpty() && sameOrigin(request.url, m_callerURL))
        parts.append(m_callerCookieHeader);
    const bool usesJar = m_cookieStorage
                         && (m_cookieStorageMethod == cookieStorageMethodStatic
                             || m_cookieStorageMethod == cookieStorageMethodFetchHistory);
    if (usesJar) {
        const QList<QNetworkCookie> cookies = m_cookieStorage->cookiesForURL(urlOf(request.url));
        if (!cookies.isEmpty())
            parts.append(QString::fromUtf8(cookieHeaderForCookies(cookies)));
    }
    m_writtenCookieHeader = parts.isEmpty() ? QString() : parts.join(QStringLiteral("; "));
    if (parts.isEmpty())
        request.removeHeader(kCookieHeader);
    else
        request.setHeader(kCookieHeader, m_writtenCookieHeader);
}

void WSKHTTPFetcher::handleCookiesForResponse(const WSKURLResponse &response)
{
    const bool usesJar = m_cookieStorage
                         && (m_cookieStorageMethod == cookieStorageMethodStatic
                             || m_cookieStorageMethod == cookieStorageMethodFetchHistory);
    if (!usesJar || !response.hasHeaderFields)
        return;
    const QList<QNetworkCookie> cookies = cookiesFromSetCookieHeaders(response.headerValues("Set-Cookie"),
                                                                      response.url);
    if (!cookies.isEmpty())
        m_cookieStorage->setCookies(cookies);
}

void WSKHTTPFetcher::setCookieStorageMethod(qint64 method)
{
    m_cookieStorageMethod = method;
    switch (method) {
    case cookieStorageMethodStatic: m_cookieStorage = staticCookieStorage(); break;
    case cookieStorageMethodFetchHistory:
        m_cookieStorage = m_fetchHistory ? m_fetchHistory->cookieStorage() : nullptr;
        if (!m_cookieStorage)
            qWarning("cookie storage requires WSKHTTPFetchHistory");
        break;
    default:
        // Method 2 leaves cookies to the network layer; any other value sends none.
        m_cookieStorage = nullptr;
        break;
    }
}

void WSKHTTPFetcher::setFetchHistory(std::shared_ptr<WSKHTTPFetchHistoryProtocol> history)
{
    m_fetchHistory = std::move(history);
    if (m_fetchHistory)
        setCookieStorageMethod(cookieStorageMethodFetchHistory);
    else if (m_cookieStorageMethod == cookieStorageMethodFetchHistory)
        setCookieStorageMethod(cookieStorageMethodStatic);
}

// --- Connection events ---------------------------------------------------------

std::optional<HttpRequest> WSKHTTPFetcher::connectionWillSendRequest(WSKURLConnection *connection,
                                                                     const HttpRequest &request,
                                                                     const WSKURLResponse *redirectResponse)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    if (!redirectResponse)
        return request;
    if (!isCurrent(connection))
        return std::nullopt;

    handleCookiesForResponse(*redirectResponse);

    // Method, body and headers carry over.
    HttpRequest newRequest = *m_request;
    const QUrl current = urlOf(m_request->url);
    const QUrl redirect = urlOf(request.url);
    // http may become https; https never becomes http.
    QString scheme = current.scheme();
    if (scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
        && redirect.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        scheme = redirect.scheme();
    const qsizetype colon = request.url.indexOf(QLatin1Char(':'));
    newRequest.url = scheme + QLatin1Char(':') + request.url.mid(colon + 1);

    for (const auto &[name, value] : request.headers())
        if (name.compare(kCookieHeader, Qt::CaseInsensitive) != 0)
            newRequest.setHeader(name, value);
    // Credentials stay with the server they were meant for.
    if (!sameOrigin(m_request->url, newRequest.url))
        newRequest.removeHeader(kAuthorizationHeader);
    addCookiesToRequest(newRequest);

    m_response = *redirectResponse;
    m_request = newRequest;
    return newRequest;
}

void WSKHTTPFetcher::connectionDidReceiveResponse(WSKURLConnection *connection, const WSKURLResponse &response)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    if (!isCurrent(connection))
        return;
    if (m_downloadFileHandle) {
        m_downloadFileHandle->resize(0);
        m_downloadFileHandle->seek(0);
    } else {
        m_downloadedData = QByteArray("");
    }
    m_downloadedLength = 0;
    m_response = response;
    handleCookiesForResponse(response);
}

void WSKHTTPFetcher::connectionDidReceiveData(WSKURLConnection *connection, const QByteArray &data)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    if (!isCurrent(connection))
        return;
    if (m_downloadFileHandle) {
        if (m_downloadFileHandle->write(data) != data.size() || !m_downloadFileHandle->flush()) {
            const Error error(QString::fromLatin1(kWSKHTTPFetcherStatusDomain), kWSKHTTPFetcherErrorFileWriteFailed,
                              m_downloadFileHandle->errorString());
            connection->cancel();
            connectionFailed(error);
            return;
        }
        m_downloadedLength = quint64(m_downloadFileHandle->pos());
    } else {
        m_downloadedData.append(data);
        m_downloadedLength = quint64(m_downloadedData.size());
    }

    if (m_delegate && m_receivedDataSel) {
        const auto selector = m_receivedDataSel;
        selector(*this, m_downloadedData);
    }
    if (m_receivedDataBlock) {
        const auto block = m_receivedDataBlock;
        block(m_downloadedData);
    }
}

void WSKHTTPFetcher::connectionDidSendBodyData(WSKURLConnection *connection, qint64 bytesWritten,
                                               qint64 totalBytesWritten, qint64 totalBytesExpectedToWrite)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    if (!isCurrent(connection))
        return;
    if (m_delegate && m_sentDataSel) {
        const auto selector = m_sentDataSel;
        selector(*this, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
    }
    if (m_sentDataBlock) {
        const auto block = m_sentDataBlock;
        block(bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
    }
}

int WSKHTTPFetcher::statusAfterHandlingNotModifiedError()
{
    int status = statusCode();
    if (status != kWSKHTTPFetcherStatusNotModified || !m_fetchHistory || !m_fetchHistory->shouldCacheETaggedData())
        return status;
    const std::optional<QByteArray> cached = m_fetchHistory->cachedDataForRequest(*m_request);
    if (!cached)
        return status;
    if (m_downloadFileHandle) {
        const bool written = m_downloadFileHandle->seek(0) && m_downloadFileHandle->resize(0)
                             && m_downloadFileHandle->write(*cached) == cached->size() && m_downloadFileHandle->flush();
        m_downloadedLength = quint64(m_downloadFileHandle->pos());
        if (!written)
            return int(kWSKHTTPFetcherErrorFileWriteFailed);
    } else {
        m_downloadedData = *cached;
        m_downloadedLength = quint64(cached->size());
    }
    return 200;
}

void WSKHTTPFetcher::connectionDidFinishLoading(WSKURLConnection *connection)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    if (!isCurrent(connection))
        return;
    m_hasConnectionEnded = true;

    if (m_fetchHistory) {
        if (m_downloadFileHandle)
            m_fetchHistory->removeCachedDataForRequest(*m_request);
        else
            m_fetchHistory->updateFetchHistoryWithRequest(*m_request, m_response.value_or(WSKURLResponse{}),
                                                          m_downloadedData);
    }

    const int status = statusAfterHandlingNotModifiedError();
    sendStopNotificationIfNeeded();

    OptionalError error;
    if (status < 0 || status >= 300) {
        if (shouldRetryNowForStatus(status, std::nullopt)) {
            beginRetryTimer();
            return;
        }
        error = statusError(status, m_downloadedData);
    } else if (!m_downloadPath.isEmpty() && m_downloadFileHandle) {
        m_downloadFileHandle->close();
        const std::unique_ptr<QFile> file = std::move(m_downloadFileHandle);
        QFile::remove(m_downloadPath);
        if (file->rename(m_downloadPath))
            m_temporaryDownloadPath.clear();
        else
            error = fileError(*file);
    }

    invokeFinishedCallbacks(m_downloadedData, error);
    stopFetchReleasingCallbacks(true);
}

void WSKHTTPFetcher::connectionDidFailWithError(WSKURLConnection *connection, const Error &error)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    // Already handled, or the echo of a challenge being cancelled.
    if (!isCurrent(connection) || m_isCancellingChallenge)
        return;
    connectionFailed(error);
}

void WSKHTTPFetcher::connectionFailed(const Error &error)
{
    const auto self = shared_from_this();
    m_hasConnectionEnded = true;
    sendStopNotificationIfNeeded();
    if (shouldRetryNowForStatus(0, error)) {
        beginRetryTimer();
        return;
    }
    invokeFinishedCallbacks(QByteArray(), error);
    stopFetchReleasingCallbacks(true);
}

void WSKHTTPFetcher::connectionDidReceiveAuthenticationChallenge(WSKURLConnection *connection,
                                                                 const WSKAuthenticationChallenge &challenge)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    if (!isCurrent(connection))
        return;
    if (challenge.previousFailureCount <= 2) {
        const std::optional<WSKURLCredential> &answer = (challenge.isProxy && m_proxyCredential) ? m_proxyCredential
                                                                                                 : m_credential;
        if (answer) {
            connection->useCredential(*answer, challenge);
            return;
        }
    }
    const Error error(QString::fromLatin1(kWSKHTTPFetcherErrorDomain),
                      kWSKHTTPFetcherErrorAuthenticationChallengeFailed,
                      localizedString("The server asked for credentials that could not be given."), {}, {},
                      {{QString::fromLatin1(kWSKHTTPFetcherErrorChallengeKey), QVariant::fromValue(challenge)}});
    Q_ASSERT_X(!m_isCancellingChallenge, "challenge", "m_isCancellingChallenge unexpected");
    m_isCancellingChallenge = true;
    connection->cancelAuthenticationChallenge(challenge);
    m_isCancellingChallenge = false;
    connectionFailed(error);
}

// --- Callbacks and stopping ------------------------------------------------------

void WSKHTTPFetcher::invokeFinishedCallbacks(const QByteArray &data, const OptionalError &error)
{
    const auto self = shared_from_this();
    if (m_delegate && m_finishedSel) {
        const auto selector = m_finishedSel;
        selector(*this, data, error);
    }
    // Not after a stop from the first callback.
    if (m_completionBlock) {
        const auto block = m_completionBlock;
        block(data, error);
    }
}

void WSKHTTPFetcher::sendStopNotificationIfNeeded()
{
    if (!m_isStopNotificationNeeded)
        return;
    m_isStopNotificationNeeded = false;
    WSKHTTPFetcherNotifier::instance()->post(kWSKHTTPFetcherStoppedNotification, this);
}

void WSKHTTPFetcher::stopFetching()
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    stopFetchReleasingCallbacks(true);
}

void WSKHTTPFetcher::stopFetchReleasingCallbacks(bool shouldReleaseCallbacks)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    destroyRetryTimer();
    if (m_connection) {
        const std::unique_ptr<WSKURLConnection, LaterDeleter> old = std::move(m_connection);
        if (!m_hasConnectionEnded)
            old->cancel();
        releaseConnection();
    }
    sendStopNotificationIfNeeded();
    if (m_authorizer)
        m_authorizer->stopAuthorization();
    if (shouldReleaseCallbacks) {
        releaseCallbacks();
        m_authorizer = nullptr;
    }
    if (m_service)
        m_service->fetcherDidStop(*this);
    removeTemporaryDownloadFile();
}

void WSKHTTPFetcher::releaseCallbacks()
{
    m_delegate = nullptr;
    m_delegateQueue = nullptr;
    m_finishedSel = nullptr;
    m_completionBlock = nullptr;
    m_sentDataBlock = nullptr;
    m_receivedDataBlock = nullptr;
    m_retryBlock = nullptr;
}

void WSKHTTPFetcher::removeTemporaryDownloadFile()
{
    m_downloadFileHandle.reset();
    if (!m_temporaryDownloadPath.isEmpty()) {
        QFile::remove(m_temporaryDownloadPath);
        m_temporaryDownloadPath.clear();
    }
}

bool WSKHTTPFetcher::isFetching() const
{
    QMutexLocker locker(&m_lock);
    if (m_connection || m_retryTimer)
        return true;
    if (m_authorizer && m_request && m_authorizer->isAuthorizingRequest(*m_request))
        return true;
    return m_service && m_service->isDelayingFetcher(*this);
}

bool WSKHTTPFetcher::waitForCompletionWithTimeout(double timeoutSeconds)
{
    const auto self = shared_from_this();
    const auto running = [this] { return isFetching() || m_completionBlock || (m_delegate && m_finishedSel); };
    QElapsedTimer elapsed;
    elapsed.start();
    // Wakes the loop at least once a millisecond.
    QTimer tick;
    tick.start(1);
    QEventLoop loop;
    while (running() && elapsed.elapsed() < qint64(timeoutSeconds * 1000))
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return !running();
}

// --- Retries -------------------------------------------------------------------

void WSKHTTPFetcher::setRetryEnabled(bool enabled)
{
    if (enabled && !m_isRetryEnabled) {
        setMinRetryInterval(0);
        setMaxRetryInterval(0);
        m_retryFactor = 2.0;
        m_lastRetryInterval = 0;
    }
    m_isRetryEnabled = enabled;
}

void WSKHTTPFetcher::setMaxRetryInterval(double seconds)
{
    m_maxRetryInterval = seconds > 0 ? seconds : -1;
}

void WSKHTTPFetcher::setMinRetryInterval(double seconds)
{
    if (seconds > 0)
        m_minRetryInterval = seconds;
    else
        m_minRetryInterval = 1.0 + double(QRandomGenerator::global()->generate() & 0xFFFF) / 65535.0;
}

double WSKHTTPFetcher::nextRetryInterval() const
{
    double seconds = m_lastRetryInterval * m_retryFactor;
    seconds = std::min(seconds, m_maxRetryInterval);
    return std::max(seconds, m_minRetryInterval);
}

bool WSKHTTPFetcher::shouldRetryNowForStatus(int status, OptionalError error)
{
    bool isAuthRetry = false;
    if (m_authorizer && !m_hasAttemptedAuthRefresh && status == 401 && m_authorizer->primeForRefresh()) {
        m_hasAttemptedAuthRefresh = true;
        m_request->removeHeader(kAuthorizationHeader);
        isAuthRetry = true;
    }
    const bool canRetryAfterInterval = m_isRetryEnabled && nextRetryInterval() < m_maxRetryInterval;
    if (!isAuthRetry && !canRetryAfterInterval)
        return false;

    if (!error)
        error = statusError(status, m_downloadedData);
    bool willRetry = isAuthRetry || isRetryableError(*error);
    if (m_delegate && m_retrySel) {
        const auto selector = m_retrySel;
        willRetry = selector(*this, willRetry, *error);
    }
    if (m_retryBlock) {
        const auto block = m_retryBlock;
        willRetry = block(willRetry, *error);
    }
    return willRetry;
}

void WSKHTTPFetcher::beginRetryTimer()
{
    const auto self = shared_from_this();
    QCoreApplication *app = QCoreApplication::instance();
    if (m_delegateQueue && app && QThread::currentThread() != app->thread()) {
        // The timer lives on the main thread's loop.
        QMetaObject::invokeMethod(
            app, [self] { self->beginRetryTimer(); }, Qt::QueuedConnection);
        return;
    }
    const double interval = std::min(nextRetryInterval(), m_maxRetryInterval);
    primeRetryTimerWithNewTimeInterval(interval);
}

void WSKHTTPFetcher::primeRetryTimerWithNewTimeInterval(double seconds)
{
    destroyRetryTimer();
    m_lastRetryInterval = seconds;
    m_retryTimer.reset(new QTimer);
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setTimerType(Qt::PreciseTimer);
    const auto self = shared_from_this();
    QObject::connect(m_retryTimer.get(), &QTimer::timeout, m_retryTimer.get(), [self] { self->retryTimerFired(); });
    m_retryTimer->start(std::max(0, int(seconds * 1000)));
    WSKHTTPFetcherNotifier::instance()->post(kWSKHTTPFetcherRetryDelayStartedNotification, this);
}

void WSKHTTPFetcher::retryTimerFired()
{
    const auto self = shared_from_this();
    QMutexLocker locker(&m_lock);
    destroyRetryTimer();
    ++m_retryCount;
    stopFetchReleasingCallbacks(false);
    beginFetchWithDelegate(m_delegate, m_finishedSel);
}

void WSKHTTPFetcher::destroyRetryTimer()
{
    if (!m_retryTimer)
        return;
    m_retryTimer->stop();
    // The timer holds the fetcher through its slot until it is gone.
    QObject::disconnect(m_retryTimer.get(), nullptr, nullptr, nullptr);
    m_retryTimer.reset();
    WSKHTTPFetcherNotifier::instance()->post(kWSKHTTPFetcherRetryDelayStoppedNotification, this);
}

// --- Accessors -----------------------------------------------------------------

int WSKHTTPFetcher::statusCode() const
{
    return m_response && m_response->hasHeaderFields ? m_response->statusCode : 0;
}

std::optional<QList<std::pair<QByteArray, QByteArray>>> WSKHTTPFetcher::responseHeaders() const
{
    if (!m_response || !m_response->hasHeaderFields)
        return std::nullopt;
    return m_response->headerFields;
}

void WSKHTTPFetcher::setProperty(const QVariant &value, const QString &key)
{
    if (value.isValid())
        m_properties.insert(key, value);
    else
        m_properties.remove(key);
}

void WSKHTTPFetcher::addPropertiesFromDictionary(const QVariantMap &dictionary)
{
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it)
        m_properties.insert(it.key(), it.value());
}

// --- Free functions ------------------------------------------------------------

bool WSKAssertSelectorNilOrImplementedWithArgs(const QObject *object, const char *selector,
                                               std::initializer_list<const char *> typeNames)
{
    if (!object || !selector)
        return true;
    const QMetaObject *metaObject = object->metaObject();
    const char *className = metaObject->className();
    QMetaMethod method;
    for (int i = 0; i < metaObject->methodCount() && !method.isValid(); ++i)
        if (metaObject->method(i).name() == selector)
            method = metaObject->method(i);
    if (!method.isValid()) {
        qWarning("\"%s\" selector \"%s\" is unimplemented or misnamed", className, selector);
        Q_ASSERT_X(false, "WSKAssertSelectorNilOrImplementedWithArgs", "callback selector unimplemented or misnamed");
        return false;
    }
    const QList<QByteArray> actual = method.parameterTypes();
    int index = 0;
    for (const char *expected : typeNames) {
        if (index >= actual.size())
            break;
        if (!actual.at(index).startsWith(expected)) {
            // Counted as the receiver and selector were arguments 0 and 1.
            qWarning("\"%s\" selector \"%s\" argument %d should be type %s", className, selector, index + 2, expected);
            Q_ASSERT_X(false, "WSKAssertSelectorNilOrImplementedWithArgs", "callback selector argument type mistake");
            return false;
        }
        ++index;
    }
    if (actual.size() != qsizetype(typeNames.size())) {
        qWarning("\"%s\" selector \"%s\" should have %d arguments", className, selector, int(typeNames.size()));
        Q_ASSERT_X(false, "WSKAssertSelectorNilOrImplementedWithArgs", "callback selector arguments incorrect");
        return false;
    }
    return true;
}

QString WSKCleanedUserAgentString(const QString &string)
{
    if (string.isNull())
        return {};
    static const QString separators = QStringLiteral("()<>@,;:\\\"/[]?={}");
    QString cleaned = string;
    cleaned.replace(QLatin1Char(' '), QLatin1Char('_'));
    cleaned.removeIf([](QChar c) { return c.isSpace() || separators.contains(c); });
    return cleaned;
}

QString WSKSystemVersionString()
{
    static const QString version = [] {
        QString product = WSKCleanedUserAgentString(QSysInfo::productType());
        QString number = WSKCleanedUserAgentString(QSysInfo::productVersion());
        if (product.isEmpty())
            product = QStringLiteral("unknown");
        if (number.isEmpty() || number == QLatin1String("unknown"))
            number = QStringLiteral("?");
        return product + QLatin1Char('/') + number;
    }();
    return version;
}

QString WSKApplicationIdentifier()
{
    static const QString identifier = [] {
        QString name = QCoreApplication::applicationName();
        if (name.isEmpty())
            name = QStringLiteral("proc_") + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        QString result = WSKCleanedUserAgentString(name);
        const QString version = WSKCleanedUserAgentString(QCoreApplication::applicationVersion());
        if (!version.isEmpty())
            result += QLatin1Char('/') + version;
        return result;
    }();
    return identifier;
}
