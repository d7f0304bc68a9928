#pragma once

#include "foundation/Error.h"
#include "signin/HttpRequest.h"
#include "signin/WSKCookieStorage.h"
#include "signin/WSKFetcherAuthorizationProtocol.h"
#include "signin/WSKHTTPFetchHistory.h"
#include "signin/WSKURLConnection.h"
#include "signin/WSKURLResponse.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>

inline constexpr char kWSKHTTPFetcherErrorDomain[] = "com.websignkit.WSKHTTPFetcher";
inline constexpr long kWSKHTTPFetcherErrorDownloadFailed = -1;
inline constexpr long kWSKHTTPFetcherErrorAuthenticationChallengeFailed = -2;
// userInfo key of a -2 error: the WSKAuthenticationChallenge.
inline constexpr char kWSKHTTPFetcherErrorChallengeKey[] = "challenge";

inline constexpr char kWSKHTTPFetcherStatusDomain[] = "com.websignkit.HTTPStatus";
inline constexpr long kWSKHTTPFetcherStatusNotModified = 304;
inline constexpr long kWSKHTTPFetcherErrorFileWriteFailed = -4;
// userInfo key of a status error: the response body (QByteArray), when not empty.
inline constexpr char kWSKHTTPFetcherStatusDataKey[] = "data";

// Failures of the local file system while downloading to a file.
inline constexpr char kWSKFileErrorDomain[] = "com.websignkit.File";

inline constexpr char kWSKHTTPFetcherStartedNotification[] = "kWSKHTTPFetcherStartedNotification";
inline constexpr char kWSKHTTPFetcherStoppedNotification[] = "kWSKHTTPFetcherStoppedNotification";
inline constexpr char kWSKHTTPFetcherRetryDelayStartedNotification[] = "kWSKHTTPFetcherRetryDelayStartedNotification";
inline constexpr char kWSKHTTPFetcherRetryDelayStoppedNotification[] = "kWSKHTTPFetcherRetryDelayStoppedNotification";

// Where a fetcher's cookies live.
inline constexpr qint64 cookieStorageMethodStatic = 0;        // the process-wide jar
inline constexpr qint64 cookieStorageMethodFetchHistory = 1;  // the fetch history's jar
inline constexpr qint64 cookieStorageMethodSystemDefault = 2; // the network layer's own jar
inline constexpr qint64 cookieStorageMethodNone = 3;

class WSKHTTPFetcher;

// The process-wide poster of the fetchers' notifications. Signals are
// emitted synchronously in the thread of the event.
class WSKHTTPFetcherNotifier : public QObject
{
    Q_OBJECT
public:
    static WSKHTTPFetcherNotifier *instance();

signals:
    // Every notification, under its name (kWSKHTTPFetcher...Notification).
    void notificationPosted(const QString &name, WSKHTTPFetcher *fetcher);
    void fetcherStarted(WSKHTTPFetcher *fetcher);
    void fetcherStopped(WSKHTTPFetcher *fetcher);
    void retryDelayStarted(WSKHTTPFetcher *fetcher);
    void retryDelayStopped(WSKHTTPFetcher *fetcher);

private:
    friend class WSKHTTPFetcher;
    void post(const char *name, WSKHTTPFetcher *fetcher);
};

// An optional scheduler that may hold fetches back. None exists in the
// application.
class WSKHTTPFetcherServiceProtocol
{
public:
    virtual ~WSKHTTPFetcherServiceProtocol() = default;
    // False defers the fetch: the service begins it later with
    // beginFetchMayDelay(false, true).
    virtual bool fetcherShouldBeginFetching(WSKHTTPFetcher &fetcher) = 0;
    virtual void fetcherDidStop(WSKHTTPFetcher &fetcher) = 0;
    virtual bool isDelayingFetcher(const WSKHTTPFetcher &fetcher) const = 0;
};

// One HTTP request, run asynchronously on the event loop of the thread that
// begins it, reported once to its finished callbacks.
//
// Fetchers are shared objects: a running fetch keeps its fetcher alive, and
// a caller may drop its reference or call stopFetching() inside any callback.
// After stopFetching() no callback runs. Fetches still running on the main
// thread when the application is torn down are stopped then. Status 0 to 299 is success (0 for a
// response that is not HTTP); any other status is an error of
// kWSKHTTPFetcherStatusDomain with the body under "data"; a failure to reach
// the server is an error of the URL-loading domain.
class WSKHTTPFetcher : public std::enable_shared_from_this<WSKHTTPFetcher>, private WSKURLConnectionDelegate
{
    struct Passkey
    {
    };

public:
    // The "selector" callbacks (those given the fetcher) run only while the
    // delegate object lives, and never without one; the "block" callbacks
    // need no delegate. Both kinds are released when the fetch ends.
    using FinishedSelector = std::function<void(WSKHTTPFetcher &fetcher, const QByteArray &data,
                                                const OptionalError &error)>;
    using ReceivedDataSelector = std::function<void(WSKHTTPFetcher &fetcher, const QByteArray &dataSoFar)>;
    using SentDataSelector = std::function<void(WSKHTTPFetcher &fetcher, qint64 bytesWritten,
                                                qint64 totalBytesWritten, qint64 totalBytesExpectedToWrite)>;
    // Returns whether to retry; `willRetry` is the fetcher's own suggestion.
    using RetrySelector = std::function<bool(WSKHTTPFetcher &fetcher, bool willRetry, const Error &error)>;

    using CompletionBlock = std::function<void(const QByteArray &data, const OptionalError &error)>;
    using ReceivedDataBlock = std::function<void(const QByteArray &dataSoFar)>;
    using SentDataBlock = std::function<void(qint64 bytesWritten, qint64 totalBytesWritten,
                                             qint64 totalBytesExpectedToWrite)>;
    using RetryBlock = std::function<bool(bool willRetry, const Error &error)>;

    static std::shared_ptr<WSKHTTPFetcher> fetcherWithRequest(std::optional<HttpRequest> request);
    static std::shared_ptr<WSKHTTPFetcher> fetcherWithURL(const QUrl &url);
    static std::shared_ptr<WSKHTTPFetcher> fetcherWithURLString(const QString &urlString);

    WSKHTTPFetcher(Passkey, std::optional<HttpRequest> request);
    ~WSKHTTPFetcher() override;
    WSKHTTPFetcher(const WSKHTTPFetcher &) = delete;
    WSKHTTPFetcher &operator=(const WSKHTTPFetcher &) = delete;

    // --- Starting and stopping -------------------------------------------
    // True: under way (or deferred by the service, or with the authoriser).
    // False: the finished callbacks have already run with the error.
    bool beginFetchWithDelegate(QObject *delegate, FinishedSelector didFinishSelector);
    bool beginFetchWithCompletionHandler(CompletionBlock handler);
    // The begin sequence itself; a service calls it for a deferred fetch.
    bool beginFetchMayDelay(bool mayDelay, bool mayAuthorize);
    void stopFetching();
    bool isFetching() const;
    // Runs the current thread's event loop until the fetch has ended and its
    // callbacks are released, or `timeoutSeconds` have passed; true when ended.
    bool waitForCompletionWithTimeout(double timeoutSeconds);

    // --- Request and response ---------------------------------------------
    // The request as it will be (or was last) sent; null without one.
    HttpRequest *mutableRequest() { return request_ ? &*request_ : nullptr; }
    const HttpRequest *mutableRequest() const { return request_ ? &*request_ : nullptr; }
    void setMutableRequest(std::optional<HttpRequest> request) { request_ = std::move(request); }
    const std::optional<WSKURLResponse> &response() const { return response_; }
    // 0 when there is no HTTP response.
    int statusCode() const;
    // Null when the response has no header fields.
    std::optional<QList<std::pair<QByteArray, QByteArray>>> responseHeaders() const;
    const QByteArray &downloadedData() const { return downloadedData_; }
    quint64 downloadedLength() const { return downloadedLength_; }

    const QByteArray &postData() const { return postData_; }
    void setPostData(const QByteArray &data) { postData_ = data; }
    const std::shared_ptr<QIODevice> &postStream() const { return postStream_; }
    void setPostStream(std::shared_ptr<QIODevice> stream) { postStream_ = std::move(stream); }

    // Download to a file instead of memory: written to a temporary file next
    // to `path` and moved into place when the fetch succeeds.
    const QString &downloadPath() const { return downloadPath_; }
    void setDownloadPath(const QString &path) { downloadPath_ = path; }
    const QString &temporaryDownloadPath() const { return temporaryDownloadPath_; }
    QFile *downloadFileHandle() const { return downloadFileHandle_.get(); }

    const std::optional<WSKURLCredential> &credential() const { return credential_; }
    void setCredential(std::optional<WSKURLCredential> credential) { credential_ = std::move(credential); }
    const std::optional<WSKURLCredential> &proxyCredential() const { return proxyCredential_; }
    void setProxyCredential(std::optional<WSKURLCredential> credential) { proxyCredential_ = std::move(credential); }

    // --- Collaborators ----------------------------------------------------
    const std::shared_ptr<WSKFetcherAuthorizationProtocol> &authorizer() const { return authorizer_; }
    void setAuthorizer(std::shared_ptr<WSKFetcherAuthorizationProtocol> authorizer) { authorizer_ = std::move(authorizer); }
    const std::shared_ptr<WSKHTTPFetcherServiceProtocol> &service() const { return service_; }
    void setService(std::shared_ptr<WSKHTTPFetcherServiceProtocol> service) { service_ = std::move(service); }
    const std::shared_ptr<WSKHTTPFetchHistoryProtocol> &fetchHistory() const { return fetchHistory_; }
    // A history switches the cookies to its jar; removing it, back to the static jar.
    void setFetchHistory(std::shared_ptr<WSKHTTPFetchHistoryProtocol> history);
    qint64 cookieStorageMethod() const { return cookieStorageMethod_; }
    void setCookieStorageMethod(qint64 method);
    const std::shared_ptr<WSKCookieStorageProtocol> &cookieStorage() const { return cookieStorage_; }
    void setCookieStorage(std::shared_ptr<WSKCookieStorageProtocol> storage) { cookieStorage_ = std::move(storage); }

    // --- Callbacks --------------------------------------------------------
    QObject *delegate() const { return delegate_; }
    void setDelegate(QObject *delegate) { delegate_ = delegate; }
    const CompletionBlock &completionBlock() const { return completionBlock_; }
    void setCompletionBlock(CompletionBlock block) { completionBlock_ = std::move(block); }
    void setReceivedDataSelector(ReceivedDataSelector selector) { receivedDataSel_ = std::move(selector); }
    const ReceivedDataSelector &receivedDataSelector() const { return receivedDataSel_; }
    void setReceivedDataBlock(ReceivedDataBlock block) { receivedDataBlock_ = std::move(block); }
    const ReceivedDataBlock &receivedDataBlock() const { return receivedDataBlock_; }
    void setSentDataSelector(SentDataSelector selector) { sentDataSel_ = std::move(selector); }
    const SentDataSelector &sentDataSelector() const { return sentDataSel_; }
    void setSentDataBlock(SentDataBlock block) { sentDataBlock_ = std::move(block); }
    const SentDataBlock &sentDataBlock() const { return sentDataBlock_; }
    void setRetrySelector(RetrySelector selector) { retrySel_ = std::move(selector); }
    const RetrySelector &retrySelector() const { return retrySel_; }
    void setRetryBlock(RetryBlock block) { retryBlock_ = std::move(block); }
    const RetryBlock &retryBlock() const { return retryBlock_; }
    // A context object whose thread gets the callbacks, for connection
    // classes that can deliver there; dropped at begin otherwise.
    QObject *delegateQueue() const { return delegateQueue_; }
    void setDelegateQueue(QObject *queue) { delegateQueue_ = queue; }
    // Kept for callers; Qt's event loop has a single mode.
    const QStringList &runLoopModes() const { return runLoopModes_; }
    void setRunLoopModes(const QStringList &modes) { runLoopModes_ = modes; }

    // --- Retries ----------------------------------------------------------
    bool isRetryEnabled() const { return isRetryEnabled_; }
    void setRetryEnabled(bool enabled);
    // Seconds; -1 when unset (then 60 for GET and HEAD, 600 otherwise).
    double maxRetryInterval() const { return maxRetryInterval_; }
    void setMaxRetryInterval(double seconds);
    double minRetryInterval() const { return minRetryInterval_; }
    // Zero or less picks a random value from 1 to 2 seconds.
    void setMinRetryInterval(double seconds);
    double retryFactor() const { return retryFactor_; }
    void setRetryFactor(double factor) { retryFactor_ = factor; }
    quint64 retryCount() const { return retryCount_; }
    double nextRetryInterval() const;

    // --- Caller's data ----------------------------------------------------
    const QVariant &userData() const { return userData_; }
    void setUserData(const QVariant &data) { userData_ = data; }
    const QVariantMap &properties() const { return properties_; }
    void setProperties(const QVariantMap &properties) { properties_ = properties; }
    // A null value removes the key.
    void setProperty(const QVariant &value, const QString &key);
    QVariant propertyForKey(const QString &key) const { return properties_.value(key); }
    void addPropertiesFromDictionary(const QVariantMap &dictionary);
    const QString &comment() const { return comment_; }
    void setComment(const QString &comment) { comment_ = comment; }
    // setCommentWithFormat("access token for %1", host); a null format gives a null comment.
    template <typename... Args>
    void setCommentWithFormat(const QString &format, Args &&...args)
    {
        if constexpr (sizeof...(Args) == 0)
            comment_ = format;
        else
            comment_ = format.isNull() ? QString() : format.arg(std::forward<Args>(args)...);
    }
    const QString &log() const { return log_; }
    void setLog(const QString &log) { log_ = log; }

    // Stored for a service; the fetcher does not use them.
    const QString &serviceHost() const { return serviceHost_; }
    void setServiceHost(const QString &host) { serviceHost_ = host; }
    qint64 servicePriority() const { return servicePriority_; }
    void setServicePriority(qint64 priority) { servicePriority_ = priority; }
    QThread *thread() const { return thread_; }
    void setThread(QThread *thread) { thread_ = thread; }
    bool shouldFetchInBackground() const { return shouldFetchInBackground_; }
    void setShouldFetchInBackground(bool background) { shouldFetchInBackground_ = background; }

    // "WSKHTTPFetcher 0x… (URL)".
    QString description() const;

    // --- Class-wide -------------------------------------------------------
    static WSKConnectionClass connectionClass();
    static void setConnectionClass(WSKConnectionClass connectionClass);
    static std::shared_ptr<WSKCookieStorage> staticCookieStorage();
    static bool doesSupportSentDataCallback() { return true; }

private:
    std::shared_ptr<WSKURLConnectionDelegate> asConnectionDelegate();
    bool authorizeRequest();
    void authorizerFinished(const OptionalError &error);
    bool failToBeginFetchWithError(OptionalError error);
    void addCookiesToRequest(HttpRequest &request);
    void handleCookiesForResponse(const WSKURLResponse &response);
    int statusAfterHandlingNotModifiedError();
    void connectionFailed(const Error &error);
    void stopFetchReleasingCallbacks(bool shouldReleaseCallbacks);
    void releaseCallbacks();
    void invokeFinishedCallbacks(const QByteArray &data, const OptionalError &error);
    void sendStopNotificationIfNeeded();
    bool shouldRetryNowForStatus(int status, OptionalError error);
    void beginRetryTimer();
    void primeRetryTimerWithNewTimeInterval(double seconds);
    void retryTimerFired();
    void destroyRetryTimer();
    void removeTemporaryDownloadFile();
    bool isCurrent(WSKURLConnection *connection) const { return connection && connection == connection_.get(); }

    // WSKURLConnectionDelegate
    std::optional<HttpRequest> connectionWillSendRequest(WSKURLConnection *connection, const HttpRequest &request,
                                                         const WSKURLResponse *redirectResponse) override;
    void connectionDidReceiveResponse(WSKURLConnection *connection, const WSKURLResponse &response) override;
    void connectionDidReceiveData(WSKURLConnection *connection, const QByteArray &data) override;
    void connectionDidSendBodyData(WSKURLConnection *connection, qint64 bytesWritten, qint64 totalBytesWritten,
                                   qint64 totalBytesExpectedToWrite) override;
    void connectionDidFinishLoading(WSKURLConnection *connection) override;
    void connectionDidFailWithError(WSKURLConnection *connection, const Error &error) override;
    void connectionDidReceiveAuthenticationChallenge(WSKURLConnection *connection,
                                                     const WSKAuthenticationChallenge &challenge) override;

    // Not from inside the connection's own events; at once while the
    // application is being torn down, when no event would delete it.
    struct LaterDeleter
    {
        void operator()(QObject *object) const;
    };
    // Stands between a connection and the fetcher; see the .cpp.
    class ConnectionRelay;
    void releaseConnection();

    mutable QRecursiveMutex lock_;
    std::optional<HttpRequest> request_;
    std::unique_ptr<WSKURLConnection, LaterDeleter> connection_;
    std::shared_ptr<ConnectionRelay> relay_;
    QByteArray downloadedData_;
    QString downloadPath_;
    QString temporaryDownloadPath_;
    std::unique_ptr<QFile> downloadFileHandle_;
    quint64 downloadedLength_ = 0;
    std::optional<WSKURLCredential> credential_;
    std::optional<WSKURLCredential> proxyCredential_;
    QByteArray postData_;
    std::shared_ptr<QIODevice> postStream_;
    std::optional<WSKURLResponse> response_;
    QPointer<QObject> delegate_;
    FinishedSelector finishedSel_;
    SentDataSelector sentDataSel_;
    ReceivedDataSelector receivedDataSel_;
    CompletionBlock completionBlock_;
    ReceivedDataBlock receivedDataBlock_;
    SentDataBlock sentDataBlock_;
    RetryBlock retryBlock_;
    bool hasConnectionEnded_ = false;
    bool isCancellingChallenge_ = false;
    bool isStopNotificationNeeded_ = false;
    bool shouldFetchInBackground_ = false;
    QVariant userData_;
    QVariantMap properties_;
    QStringList runLoopModes_;
    QPointer<QObject> delegateQueue_;
    std::shared_ptr<WSKHTTPFetchHistoryProtocol> fetchHistory_;
    qint64 cookieStorageMethod_ = cookieStorageMethodNone;
    std::shared_ptr<WSKCookieStorageProtocol> cookieStorage_;
    std::shared_ptr<WSKFetcherAuthorizationProtocol> authorizer_;
    std::shared_ptr<WSKHTTPFetcherServiceProtocol> service_;
    QString serviceHost_;
    qint64 servicePriority_ = 0;
    QThread *thread_ = nullptr;
    bool isRetryEnabled_ = false;
    RetrySelector retrySel_;
    std::unique_ptr<QTimer, LaterDeleter> retryTimer_;
    quint64 retryCount_ = 0;
    double maxRetryInterval_ = -1;
    double minRetryInterval_ = 0;
    double retryFactor_ = 2.0;
    double lastRetryInterval_ = 0;
    bool hasAttemptedAuthRefresh_ = false;
    QString comment_;
    QString log_;
    // The Cookie header the caller gave and the URL it was meant for: the jar's
    // cookies are added to it afresh for every URL the fetch goes to.
    QString callerCookieHeader_;
    QString callerURL_;
    QString writtenCookieHeader_;
};

// Checks that `object` has an invokable method or slot named `selector` whose
// parameter types begin with `typeNames`, in number too; logs and fails a
// debug assertion when not. Nothing to check when either is null.
bool WSKAssertSelectorNilOrImplementedWithArgs(const QObject *object, const char *selector,
                                               std::initializer_list<const char *> typeNames);

// `string` with spaces as "_" and white space and HTTP separators removed;
// null for null.
QString WSKCleanedUserAgentString(const QString &string);
// "<system>/<version>" of the running system, computed once.
QString WSKSystemVersionString();
// The application's name (or "proc_" and the program name) and, when known,
// "/" and its version, cleaned; computed once.
QString WSKApplicationIdentifier();
