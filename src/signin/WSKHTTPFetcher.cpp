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
            fetcher->connectionDidSendBodyData(connection, bytesWritten, totalBytesWritten,
                                               totalBytesExpectedToWrite);
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
    if (relay_) {
        relay_->detach();
        relay_.reset();
    }
    connection_.reset();
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

WSKHTTPFetcher::WSKHTTPFetcher(Passkey, std::optional<HttpRequest> request) : request_(std::move(request))
{
    setCookieStorageMethod(staticCookieStorage() ? cookieStorageMethodStatic : cookieStorageMethodSystemDefault);
}

WSKHTTPFetcher::~WSKHTTPFetcher()
{
    unregisterRunningFetch(this);
    if (isStopNotificationNeeded_) {
        const QString url = request_ ? request_->url : QString();
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
    return QStringLiteral("WSKHTTPFetcher %1 (%2)").arg(pointerText(this), request_ ? request_->url : QString());
}

// --- Starting ------------------------------------------------------------------

bool WSKHTTPFetcher::beginFetchWithDelegate(QObject *delegate, FinishedSelector didFinishSelector)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    delegate_ = delegate;
    finishedSel_ = std::move(didFinishSelector);
    // A Cookie header the fetcher did not write is the caller's own.
    if (request_ && !connection_) {
        const QString cookie = request_->header(kCookieHeader);
        if (callerURL_.isNull() || cookie != writtenCookieHeader_) {
            callerCookieHeader_ = cookie;
            callerURL_ = request_->url;
        }
    }
    return beginFetchMayDelay(true, true);
}

bool WSKHTTPFetcher::beginFetchWithCompletionHandler(CompletionBlock handler)
{
    completionBlock_ = std::move(handler);
    return beginFetchWithDelegate(delegate_, nullptr);
}

bool WSKHTTPFetcher::beginFetchMayDelay(bool mayDelay, bool mayAuthorize)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    if (connection_) {
        qWarning().noquote() << "fetch object" << description() << "being reused; this should never happen";
        return failToBeginFetchWithError(std::nullopt);
    }
    if (!request_) {
        qWarning("beginFetchWithDelegate requires a request");
        return failToBeginFetchWithError(std::nullopt);
    }

    downloadedData_.clear();
    downloadedLength_ = 0;

    if (mayDelay && service_ && !service_->fetcherShouldBeginFetching(*this))
        return true;

    const QString effectiveMethod =
        request_->hasHeader(kMethodOverrideHeader) ? request_->header(kMethodOverrideHeader) : request_->method;
    bool isGet = effectiveMethod.isEmpty() || effectiveMethod == QLatin1String("GET");

    std::shared_ptr<QIODevice> bodyStream;
    if (!postData_.isNull() || postStream_) {
        if (isGet) {
            request_->method = QStringLiteral("POST");
            isGet = false;
        }
        if (!postData_.isNull())
            request_->body = postData_;
        else
            bodyStream = postStream_;
    }

    if (mayAuthorize && authorizer_ && !authorizer_->isAuthorizedRequest(*request_))
        return authorizeRequest();

    if (fetchHistory_)
        fetchHistory_->updateRequest(*request_, isGet);

    if (isRetryEnabled_ && maxRetryInterval_ <= -1)
        maxRetryInterval_ = (isGet || effectiveMethod == QLatin1String("HEAD")) ? 60.0 : 600.0;

    addCookiesToRequest(*request_);

    if (!downloadPath_.isEmpty()) {
        QString directory = QFileInfo(downloadPath_).absolutePath();
        if (!QDir(directory).exists())
            directory = QDir::tempPath();
        // Beside the target, so the finished file can be renamed into place.
        const QString name = QStringLiteral("wskhttpfetcher_%1_%2")
                                 .arg(++temporaryFileCounter)
                                 .arg(QRandomGenerator::global()->generate());
        auto file = std::make_unique<QFile>(QDir(directory).filePath(name));
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return failToBeginFetchWithError(fileError(*file));
        temporaryDownloadPath_ = file->fileName();
        downloadFileHandle_ = std::move(file);
    }

    const WSKConnectionClass connectionClass = WSKHTTPFetcher::connectionClass();
    if (delegateQueue_ && !connectionClass.takesDelegateQueue)
        delegateQueue_ = nullptr;

    WSKConnectionRequest connectionRequest{*request_, bodyStream,
                                           cookieStorageMethod_ == cookieStorageMethodSystemDefault};
    relay_ = std::make_shared<ConnectionRelay>(asConnectionDelegate());
    connection_.reset(connectionClass.create(connectionRequest, relay_));
    hasConnectionEnded_ = false;
    if (!connection_) {
        releaseConnection();
        qWarning("beginFetchWithDelegate could not create a connection");
        return failToBeginFetchWithError(std::nullopt);
    }
    if (delegateQueue_)
        connection_->setDelegateQueue(delegateQueue_);
    if (!downloadFileHandle_)
        downloadedData_ = QByteArray("");

    registerRunningFetch(this);
    isStopNotificationNeeded_ = true;
    WSKHTTPFetcherNotifier::instance()->post(kWSKHTTPFetcherStartedNotification, this);
    connection_->start();
    return true;
}

bool WSKHTTPFetcher::authorizeRequest()
{
    const auto self = shared_from_this();
    authorizer_->authorizeRequest(*request_, [self](WSKFetcherAuthorizationProtocol *, HttpRequest &,
                                                    const OptionalError &error) {
        self->authorizerFinished(error);
    });
    return true;
}

void WSKHTTPFetcher::authorizerFinished(const OptionalError &error)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
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

    if (delegateQueue_) {
        // The callbacks go with the operation: they are released below.
        QPointer<QObject> delegate = delegate_;
        FinishedSelector selector = finishedSel_;
        CompletionBlock block = completionBlock_;
        QMetaObject::invokeMethod(
            delegateQueue_.data(),
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
    if (service_)
        service_->fetcherDidStop(*this);
    authorizer_ = nullptr;
    removeTemporaryDownloadFile();
    return false;
}

// --- Cookies -------------------------------------------------------------------

void WSKHTTPFetcher::addCookiesToRequest(HttpRequest &request)
{
    // Built afresh for each URL: a caller's cookie stays with its own origin
    // and the jar's cookies are never sent twice.
    QStringList parts;
    if (!callerCookieHeader_.isEmpty() && sameOrigin(request.url, callerURL_))
        parts.append(callerCookieHeader_);
    const bool usesJar = cookieStorage_ && (cookieStorageMethod_ == cookieStorageMethodStatic
                                            || cookieStorageMethod_ == cookieStorageMethodFetchHistory);
    if (usesJar) {
        const QList<QNetworkCookie> cookies = cookieStorage_->cookiesForURL(urlOf(request.url));
        if (!cookies.isEmpty())
            parts.append(QString::fromUtf8(cookieHeaderForCookies(cookies)));
    }
    writtenCookieHeader_ = parts.isEmpty() ? QString() : parts.join(QStringLiteral("; "));
    if (parts.isEmpty())
        request.removeHeader(kCookieHeader);
    else
        request.setHeader(kCookieHeader, writtenCookieHeader_);
}

void WSKHTTPFetcher::handleCookiesForResponse(const WSKURLResponse &response)
{
    const bool usesJar = cookieStorage_ && (cookieStorageMethod_ == cookieStorageMethodStatic
                                            || cookieStorageMethod_ == cookieStorageMethodFetchHistory);
    if (!usesJar || !response.hasHeaderFields)
        return;
    const QList<QNetworkCookie> cookies = cookiesFromSetCookieHeaders(response.headerValues("Set-Cookie"), response.url);
    if (!cookies.isEmpty())
        cookieStorage_->setCookies(cookies);
}

void WSKHTTPFetcher::setCookieStorageMethod(qint64 method)
{
    cookieStorageMethod_ = method;
    switch (method) {
    case cookieStorageMethodStatic:
        cookieStorage_ = staticCookieStorage();
        break;
    case cookieStorageMethodFetchHistory:
        cookieStorage_ = fetchHistory_ ? fetchHistory_->cookieStorage() : nullptr;
        if (!cookieStorage_)
            qWarning("cookie storage requires WSKHTTPFetchHistory");
        break;
    default:
        // Method 2 leaves cookies to the network layer; any other value sends none.
        cookieStorage_ = nullptr;
        break;
    }
}

void WSKHTTPFetcher::setFetchHistory(std::shared_ptr<WSKHTTPFetchHistoryProtocol> history)
{
    fetchHistory_ = std::move(history);
    if (fetchHistory_)
        setCookieStorageMethod(cookieStorageMethodFetchHistory);
    else if (cookieStorageMethod_ == cookieStorageMethodFetchHistory)
        setCookieStorageMethod(cookieStorageMethodStatic);
}

// --- Connection events ---------------------------------------------------------

std::optional<HttpRequest> WSKHTTPFetcher::connectionWillSendRequest(WSKURLConnection *connection,
                                                                     const HttpRequest &request,
                                                                     const WSKURLResponse *redirectResponse)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    if (!redirectResponse)
        return request;
    if (!isCurrent(connection))
        return std::nullopt;

    handleCookiesForResponse(*redirectResponse);

    // Method, body and headers carry over.
    HttpRequest newRequest = *request_;
    const QUrl current = urlOf(request_->url);
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
    if (!sameOrigin(request_->url, newRequest.url))
        newRequest.removeHeader(kAuthorizationHeader);
    addCookiesToRequest(newRequest);

    response_ = *redirectResponse;
    request_ = newRequest;
    return newRequest;
}

void WSKHTTPFetcher::connectionDidReceiveResponse(WSKURLConnection *connection, const WSKURLResponse &response)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    if (!isCurrent(connection))
        return;
    if (downloadFileHandle_) {
        downloadFileHandle_->resize(0);
        downloadFileHandle_->seek(0);
    } else {
        downloadedData_ = QByteArray("");
    }
    downloadedLength_ = 0;
    response_ = response;
    handleCookiesForResponse(response);
}

void WSKHTTPFetcher::connectionDidReceiveData(WSKURLConnection *connection, const QByteArray &data)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    if (!isCurrent(connection))
        return;
    if (downloadFileHandle_) {
        if (downloadFileHandle_->write(data) != data.size() || !downloadFileHandle_->flush()) {
            const Error error(QString::fromLatin1(kWSKHTTPFetcherStatusDomain), kWSKHTTPFetcherErrorFileWriteFailed,
                              downloadFileHandle_->errorString());
            connection->cancel();
            connectionFailed(error);
            return;
        }
        downloadedLength_ = quint64(downloadFileHandle_->pos());
    } else {
        downloadedData_.append(data);
        downloadedLength_ = quint64(downloadedData_.size());
    }

    if (delegate_ && receivedDataSel_) {
        const auto selector = receivedDataSel_;
        selector(*this, downloadedData_);
    }
    if (receivedDataBlock_) {
        const auto block = receivedDataBlock_;
        block(downloadedData_);
    }
}

void WSKHTTPFetcher::connectionDidSendBodyData(WSKURLConnection *connection, qint64 bytesWritten,
                                               qint64 totalBytesWritten, qint64 totalBytesExpectedToWrite)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    if (!isCurrent(connection))
        return;
    if (delegate_ && sentDataSel_) {
        const auto selector = sentDataSel_;
        selector(*this, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
    }
    if (sentDataBlock_) {
        const auto block = sentDataBlock_;
        block(bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
    }
}

int WSKHTTPFetcher::statusAfterHandlingNotModifiedError()
{
    int status = statusCode();
    if (status != kWSKHTTPFetcherStatusNotModified || !fetchHistory_ || !fetchHistory_->shouldCacheETaggedData())
        return status;
    const std::optional<QByteArray> cached = fetchHistory_->cachedDataForRequest(*request_);
    if (!cached)
        return status;
    if (downloadFileHandle_) {
        const bool written = downloadFileHandle_->seek(0) && downloadFileHandle_->resize(0)
                             && downloadFileHandle_->write(*cached) == cached->size() && downloadFileHandle_->flush();
        downloadedLength_ = quint64(downloadFileHandle_->pos());
        if (!written)
            return int(kWSKHTTPFetcherErrorFileWriteFailed);
    } else {
        downloadedData_ = *cached;
        downloadedLength_ = quint64(cached->size());
    }
    return 200;
}

void WSKHTTPFetcher::connectionDidFinishLoading(WSKURLConnection *connection)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    if (!isCurrent(connection))
        return;
    hasConnectionEnded_ = true;

    if (fetchHistory_) {
        if (downloadFileHandle_)
            fetchHistory_->removeCachedDataForRequest(*request_);
        else
            fetchHistory_->updateFetchHistoryWithRequest(*request_, response_.value_or(WSKURLResponse{}),
                                                         downloadedData_);
    }

    const int status = statusAfterHandlingNotModifiedError();
    sendStopNotificationIfNeeded();

    OptionalError error;
    if (status < 0 || status >= 300) {
        if (shouldRetryNowForStatus(status, std::nullopt)) {
            beginRetryTimer();
            return;
        }
        error = statusError(status, downloadedData_);
    } else if (!downloadPath_.isEmpty() && downloadFileHandle_) {
        downloadFileHandle_->close();
        const std::unique_ptr<QFile> file = std::move(downloadFileHandle_);
        QFile::remove(downloadPath_);
        if (file->rename(downloadPath_))
            temporaryDownloadPath_.clear();
        else
            error = fileError(*file);
    }

    invokeFinishedCallbacks(downloadedData_, error);
    stopFetchReleasingCallbacks(true);
}

void WSKHTTPFetcher::connectionDidFailWithError(WSKURLConnection *connection, const Error &error)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    // Already handled, or the echo of a challenge being cancelled.
    if (!isCurrent(connection) || isCancellingChallenge_)
        return;
    connectionFailed(error);
}

void WSKHTTPFetcher::connectionFailed(const Error &error)
{
    const auto self = shared_from_this();
    hasConnectionEnded_ = true;
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
    QMutexLocker locker(&lock_);
    if (!isCurrent(connection))
        return;
    if (challenge.previousFailureCount <= 2) {
        const std::optional<WSKURLCredential> &answer =
            (challenge.isProxy && proxyCredential_) ? proxyCredential_ : credential_;
        if (answer) {
            connection->useCredential(*answer, challenge);
            return;
        }
    }
    const Error error(QString::fromLatin1(kWSKHTTPFetcherErrorDomain),
                      kWSKHTTPFetcherErrorAuthenticationChallengeFailed,
                      localizedString("The server asked for credentials that could not be given."), {}, {},
                      {{QString::fromLatin1(kWSKHTTPFetcherErrorChallengeKey), QVariant::fromValue(challenge)}});
    Q_ASSERT_X(!isCancellingChallenge_, "challenge", "isCancellingChallenge_ unexpected");
    isCancellingChallenge_ = true;
    connection->cancelAuthenticationChallenge(challenge);
    isCancellingChallenge_ = false;
    connectionFailed(error);
}

// --- Callbacks and stopping ------------------------------------------------------

void WSKHTTPFetcher::invokeFinishedCallbacks(const QByteArray &data, const OptionalError &error)
{
    const auto self = shared_from_this();
    if (delegate_ && finishedSel_) {
        const auto selector = finishedSel_;
        selector(*this, data, error);
    }
    // Not after a stop from the first callback.
    if (completionBlock_) {
        const auto block = completionBlock_;
        block(data, error);
    }
}

void WSKHTTPFetcher::sendStopNotificationIfNeeded()
{
    if (!isStopNotificationNeeded_)
        return;
    isStopNotificationNeeded_ = false;
    WSKHTTPFetcherNotifier::instance()->post(kWSKHTTPFetcherStoppedNotification, this);
}

void WSKHTTPFetcher::stopFetching()
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    stopFetchReleasingCallbacks(true);
}

void WSKHTTPFetcher::stopFetchReleasingCallbacks(bool shouldReleaseCallbacks)
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    destroyRetryTimer();
    if (connection_) {
        const std::unique_ptr<WSKURLConnection, LaterDeleter> old = std::move(connection_);
        if (!hasConnectionEnded_)
            old->cancel();
        releaseConnection();
    }
    sendStopNotificationIfNeeded();
    if (authorizer_)
        authorizer_->stopAuthorization();
    if (shouldReleaseCallbacks) {
        releaseCallbacks();
        authorizer_ = nullptr;
    }
    if (service_)
        service_->fetcherDidStop(*this);
    removeTemporaryDownloadFile();
}

void WSKHTTPFetcher::releaseCallbacks()
{
    delegate_ = nullptr;
    delegateQueue_ = nullptr;
    finishedSel_ = nullptr;
    completionBlock_ = nullptr;
    sentDataBlock_ = nullptr;
    receivedDataBlock_ = nullptr;
    retryBlock_ = nullptr;
}

void WSKHTTPFetcher::removeTemporaryDownloadFile()
{
    downloadFileHandle_.reset();
    if (!temporaryDownloadPath_.isEmpty()) {
        QFile::remove(temporaryDownloadPath_);
        temporaryDownloadPath_.clear();
    }
}

bool WSKHTTPFetcher::isFetching() const
{
    QMutexLocker locker(&lock_);
    if (connection_ || retryTimer_)
        return true;
    if (authorizer_ && request_ && authorizer_->isAuthorizingRequest(*request_))
        return true;
    return service_ && service_->isDelayingFetcher(*this);
}

bool WSKHTTPFetcher::waitForCompletionWithTimeout(double timeoutSeconds)
{
    const auto self = shared_from_this();
    const auto running = [this] { return isFetching() || completionBlock_ || (delegate_ && finishedSel_); };
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
    if (enabled && !isRetryEnabled_) {
        setMinRetryInterval(0);
        setMaxRetryInterval(0);
        retryFactor_ = 2.0;
        lastRetryInterval_ = 0;
    }
    isRetryEnabled_ = enabled;
}

void WSKHTTPFetcher::setMaxRetryInterval(double seconds)
{
    maxRetryInterval_ = seconds > 0 ? seconds : -1;
}

void WSKHTTPFetcher::setMinRetryInterval(double seconds)
{
    if (seconds > 0)
        minRetryInterval_ = seconds;
    else
        minRetryInterval_ = 1.0 + double(QRandomGenerator::global()->generate() & 0xFFFF) / 65535.0;
}

double WSKHTTPFetcher::nextRetryInterval() const
{
    double seconds = lastRetryInterval_ * retryFactor_;
    seconds = std::min(seconds, maxRetryInterval_);
    return std::max(seconds, minRetryInterval_);
}

bool WSKHTTPFetcher::shouldRetryNowForStatus(int status, OptionalError error)
{
    bool isAuthRetry = false;
    if (authorizer_ && !hasAttemptedAuthRefresh_ && status == 401 && authorizer_->primeForRefresh()) {
        hasAttemptedAuthRefresh_ = true;
        request_->removeHeader(kAuthorizationHeader);
        isAuthRetry = true;
    }
    const bool canRetryAfterInterval = isRetryEnabled_ && nextRetryInterval() < maxRetryInterval_;
    if (!isAuthRetry && !canRetryAfterInterval)
        return false;

    if (!error)
        error = statusError(status, downloadedData_);
    bool willRetry = isAuthRetry || isRetryableError(*error);
    if (delegate_ && retrySel_) {
        const auto selector = retrySel_;
        willRetry = selector(*this, willRetry, *error);
    }
    if (retryBlock_) {
        const auto block = retryBlock_;
        willRetry = block(willRetry, *error);
    }
    return willRetry;
}

void WSKHTTPFetcher::beginRetryTimer()
{
    const auto self = shared_from_this();
    QCoreApplication *app = QCoreApplication::instance();
    if (delegateQueue_ && app && QThread::currentThread() != app->thread()) {
        // The timer lives on the main thread's loop.
        QMetaObject::invokeMethod(app, [self] { self->beginRetryTimer(); }, Qt::QueuedConnection);
        return;
    }
    const double interval = std::min(nextRetryInterval(), maxRetryInterval_);
    primeRetryTimerWithNewTimeInterval(interval);
}

void WSKHTTPFetcher::primeRetryTimerWithNewTimeInterval(double seconds)
{
    destroyRetryTimer();
    lastRetryInterval_ = seconds;
    retryTimer_.reset(new QTimer);
    retryTimer_->setSingleShot(true);
    retryTimer_->setTimerType(Qt::PreciseTimer);
    const auto self = shared_from_this();
    QObject::connect(retryTimer_.get(), &QTimer::timeout, retryTimer_.get(), [self] { self->retryTimerFired(); });
    retryTimer_->start(std::max(0, int(seconds * 1000)));
    WSKHTTPFetcherNotifier::instance()->post(kWSKHTTPFetcherRetryDelayStartedNotification, this);
}

void WSKHTTPFetcher::retryTimerFired()
{
    const auto self = shared_from_this();
    QMutexLocker locker(&lock_);
    destroyRetryTimer();
    ++retryCount_;
    stopFetchReleasingCallbacks(false);
    beginFetchWithDelegate(delegate_, finishedSel_);
}

void WSKHTTPFetcher::destroyRetryTimer()
{
    if (!retryTimer_)
        return;
    retryTimer_->stop();
    // The timer holds the fetcher through its slot until it is gone.
    QObject::disconnect(retryTimer_.get(), nullptr, nullptr, nullptr);
    retryTimer_.reset();
    WSKHTTPFetcherNotifier::instance()->post(kWSKHTTPFetcherRetryDelayStoppedNotification, this);
}

// --- Accessors -----------------------------------------------------------------

int WSKHTTPFetcher::statusCode() const
{
    return response_ && response_->hasHeaderFields ? response_->statusCode : 0;
}

std::optional<QList<std::pair<QByteArray, QByteArray>>> WSKHTTPFetcher::responseHeaders() const
{
    if (!response_ || !response_->hasHeaderFields)
        return std::nullopt;
    return response_->headerFields;
}

void WSKHTTPFetcher::setProperty(const QVariant &value, const QString &key)
{
    if (value.isValid())
        properties_.insert(key, value);
    else
        properties_.remove(key);
}

void WSKHTTPFetcher::addPropertiesFromDictionary(const QVariantMap &dictionary)
{
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it)
        properties_.insert(it.key(), it.value());
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
