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
inline constexpr qint64 cookieStorageMethodStatic = 0; // the process-wide jar
inline constexpr qint64 cookieStorageMethodFetchHistory = 1; // the fetch history's jar
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
    using FinishedSelector =
        std::function<void(WSKHTTPFetcher &fetcher, const QByteArray &data, const OptionalError &error)>;
    using ReceivedDataSelector = std::function<void(WSKHTTPFetcher &fetcher, const QByteArray &dataSoFar)>;
    using SentDataSelector = std::function<void(WSKHTTPFetcher &fetcher, qint64 bytesWritten, qint64 totalBytesWritten,
                                                qint64 totalBytesExpectedToWrite)>;
    // Returns whether to retry; `willRetry` is the fetcher's own suggestion.
    using RetrySelector = std::function<bool(WSKHTTPFetcher &fetcher, bool willRetry, const Error &error)>;

    using CompletionBlock = std::function<void(const QByteArray &data, const OptionalError &error)>;
    using ReceivedDataBlock = std::function<void(const QByteArray &dataSoFar)>;
    using SentDataBlock =
        std::function<void(qint64 bytesWritten, qint64 totalBytesWritten, qint64 totalBytesExpectedToWrite)>;
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
    HttpRequest *mutableRequest() { return m_request ? &*m_request : nullptr; }
    const HttpRequest *mutableRequest() const { return m_request ? &*m_request : nullptr; }
    void setMutableRequest(std::optional<HttpRequest> request) { m_request = std::move(request); }
    const std::optional<WSKURLResponse> &response() const { return m_response; }
    // 0 when there is no HTTP response.
    int statusCode() const;
    // Null when the response has no header fields.
    std::optional<QList<std::pair<QByteArray, QByteArray>>> responseHeaders() const;
    const QByteArray &downloadedData() const { return m_downloadedData; }
    quint64 downloadedLength() const { return m_downloadedLength; }

    const QByteArray &postData() const { return m_postData; }
    void setPostData(const QByteArray &data) { m_postData = data; }
    const std::shared_ptr<QIODevice> &postStream() const { return m_postStream; }
    void setPostStream(std::shared_ptr<QIODevice> stream) { m_postStream = std::move(stream); }

    // Download to a file instead of memory: written to a temporary file next
    // to `path` and moved into place when the fetch succeeds.
    const QString &downloadPath() const { return m_downloadPath; }
    void setDownloadPath(const QString &path) { m_downloadPath = path; }
    const QString &temporaryDownloadPath() const { return m_temporaryDownloadPath; }
    QFile *downloadFileHandle() const { return m_downloadFileHandle.get(); }

    const std::optional<WSKURLCredential> &credential() const { return m_credential; }
    void setCredential(std::optional<WSKURLCredential> credential) { m_credential = std::move(credential); }
    const std::optional<WSKURLCredential> &proxyCredential() const { return m_proxyCredential; }
    void setProxyCredential(std::optional<WSKURLCredential> credential) { m_proxyCredential = std::move(credential); }

    // --- Collaborators ----------------------------------------------------
    const std::shared_ptr<WSKFetcherAuthorizationProtocol> &authorizer() const { return m_authorizer; }
    void setAuthorizer(std::shared_ptr<WSKFetcherAuthorizationProtocol> authorizer)
    {
        m_authorizer = std::move(authorizer);
    }
    const std::shared_ptr<WSKHTTPFetcherServiceProtocol> &service() const { return m_service; }
    void setService(std::shared_ptr<WSKHTTPFetcherServiceProtocol> service) { m_service = std::move(service); }
    const std::shared_ptr<WSKHTTPFetchHistoryProtocol> &fetchHistory() const { return m_fetchHistory; }
    // A history switches the cookies to its jar; removing it, back to the static jar.
    void setFetchHistory(std::shared_ptr<WSKHTTPFetchHistoryProtocol> history);
    qint64 cookieStorageMethod() const { return m_cookieStorageMethod; }
    void setCookieStorageMethod(qint64 method);
    const std::shared_ptr<WSKCookieStorageProtocol> &cookieStorage() const { return m_cookieStorage; }
    void setCookieStorage(std::shared_ptr<WSKCookieStorageProtocol> storage) { m_cookieStorage = std::move(storage); }

    // --- Callbacks --------------------------------------------------------
    QObject *delegate() const { return m_delegate; }
    void setDelegate(QObject *delegate) { m_delegate = delegate; }
    const CompletionBlock &completionBlock() const { return m_completionBlock; }
    void setCompletionBlock(CompletionBlock block) { m_completionBlock = std::move(block); }
    void setReceivedDataSelector(ReceivedDataSelector selector) { m_receivedDataSel = std::move(selector); }
    const ReceivedDataSelector &receivedDataSelector() const { return m_receivedDataSel; }
    void setReceivedDataBlock(ReceivedDataBlock block) { m_receivedDataBlock = std::move(block); }
    const ReceivedDataBlock &receivedDataBlock() const { return m_receivedDataBlock; }
    void setSentDataSelector(SentDataSelector selector) { m_sentDataSel = std::move(selector); }
    const SentDataSelector &sentDataSelector() const { return m_sentDataSel; }
    void setSentDataBlock(SentDataBlock block) { m_sentDataBlock = std::move(block); }
    const SentDataBlock &sentDataBlock() const { return m_sentDataBlock; }
    void setRetrySelector(RetrySelector selector) { m_retrySel = std::move(selector); }
    const RetrySelector &retrySelector() const { return m_retrySel; }
    void setRetryBlock(RetryBlock block) { m_retryBlock = std::move(block); }
    const RetryBlock &retryBlock() const { return m_retryBlock; }
    // A context object whose thread gets the callbacks, for connection
    // classes that can deliver there; dropped at begin otherwise.
    QObject *delegateQueue() const { return m_delegateQueue; }
    void setDelegateQueue(QObject *queue) { m_delegateQueue = queue; }
    // Kept for callers; Qt's event loop has a single mode.
    const QStringList &runLoopModes() const { return m_runLoopModes; }
    void setRunLoopModes(const QStringList &modes) { m_runLoopModes = modes; }

    // --- Retries ----------------------------------------------------------
    bool isRetryEnabled() const { return m_isRetryEnabled; }
    void setRetryEnabled(bool enabled);
    // Seconds; -1 when unset (then 60 for GET and HEAD, 600 otherwise).
    double maxRetryInterval() const { return m_maxRetryInterval; }
    void setMaxRetryInterval(double seconds);
    double minRetryInterval() const { return m_minRetryInterval; }
    // Zero or less picks a random value from 1 to 2 seconds.
    void setMinRetryInterval(double seconds);
    double retryFactor() const { return m_retryFactor; }
    void setRetryFactor(double factor) { m_retryFactor = factor; }
    quint64 retryCount() const { return m_retryCount; }
    double nextRetryInterval() const;

    // --- Caller's data ----------------------------------------------------
    const QVariant &userData() const { return m_userData; }
    void setUserData(const QVariant &data) { m_userData = data; }
    const QVariantMap &properties() const { return m_properties; }
    void setProperties(const QVariantMap &properties) { m_properties = properties; }
    // A null value removes the key.
    void setProperty(const QVariant &value, const QString &key);
    QVariant propertyForKey(const QString &key) const { return m_properties.value(key); }
    void addPropertiesFromDictionary(const QVariantMap &dictionary);
    const QString &comment() const { return m_comment; }
    void setComment(const QString &comment) { m_comment = comment; }
    // setCommentWithFormat("access token for %1", host); a null format gives a null comment.
    template<typename... Args>
    void setCommentWithFormat(const QString &format, Args &&...args)
    {
        if constexpr (sizeof...(Args) == 0)
            m_comment = format;
        else
            m_comment = format.isNull() ? QString() : format.arg(std::forward<Args>(args)...);
    }
    const QString &log() const { return m_log; }
    void setLog(const QString &log) { m_log = log; }

    // Stored for a service; the fetcher does not use them.
    const QString &serviceHost() const { return m_serviceHost; }
    void setServiceHost(const QString &host) { m_serviceHost = host; }
    qint64 servicePriority() const { return m_servicePriority; }
    void setServicePriority(qint64 priority) { m_servicePriority = priority; }
    QThread *thread() const { return m_thread; }
    void setThread(QThread *thread) { m_thread = thread; }
    bool shouldFetchInBackground() const { return m_shouldFetchInBackground; }
    void setShouldFetchInBackground(bool background) { m_shouldFetchInBackground = background; }

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
    bool isCurrent(WSKURLConnection *connection) const { return connection && connection == m_connection.get(); }

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

    mutable QRecursiveMutex m_lock;
    std::optional<HttpRequest> m_request;
    std::unique_ptr<WSKURLConnection, LaterDeleter> m_connection;
    std::shared_ptr<ConnectionRelay> m_relay;
    QByteArray m_downloadedData;
    QString m_downloadPath;
    QString m_temporaryDownloadPath;
    std::unique_ptr<QFile> m_downloadFileHandle;
    quint64 m_downloadedLength = 0;
    std::optional<WSKURLCredential> m_credential;
    std::optional<WSKURLCredential> m_proxyCredential;
    QByteArray m_postData;
    std::shared_ptr<QIODevice> m_postStream;
    std::optional<WSKURLResponse> m_response;
    QPointer<QObject> m_delegate;
    FinishedSelector m_finishedSel;
    SentDataSelector m_sentDataSel;
    ReceivedDataSelector m_receivedDataSel;
    CompletionBlock m_completionBlock;
    ReceivedDataBlock m_receivedDataBlock;
    SentDataBlock m_sentDataBlock;
    RetryBlock m_retryBlock;
    bool m_hasConnectionEnded = false;
    bool m_isCancellingChallenge = false;
    bool m_isStopNotificationNeeded = false;
    bool m_shouldFetchInBackground = false;
    QVariant m_userData;
    QVariantMap m_properties;
    QStringList m_runLoopModes;
    QPointer<QObject> m_delegateQueue;
    std::shared_ptr<WSKHTTPFetchHistoryProtocol> m_fetchHistory;
    qint64 m_cookieStorageMethod = cookieStorageMethodNone;
    std::shared_ptr<WSKCookieStorageProtocol> m_cookieStorage;
    std::shared_ptr<WSKFetcherAuthorizationProtocol> m_authorizer;
    std::shared_ptr<WSKHTTPFetcherServiceProtocol> m_service;
    QString m_serviceHost;
    qint64 m_servicePriority = 0;
    QThread *m_thread = nullptr;
    bool m_isRetryEnabled = false;
    RetrySelector m_retrySel;
    std::unique_ptr<QTimer, LaterDeleter> m_retryTimer;
    quint64 m_retryCount = 0;
    double m_maxRetryInterval = -1;
    double m_minRetryInterval = 0;
    double m_retryFactor = 2.0;
    double m_lastRetryInterval = 0;
    bool m_hasAttemptedAuthRefresh = false;
    QString m_comment;
    QString m_log;
    // The Cookie header the caller gave and the URL it was meant for: the jar's
    // cookies are added to it afresh for every URL the fetch goes to.
    QString m_callerCookieHeader;
    QString m_callerURL;
    QString m_writtenCookieHeader;
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
