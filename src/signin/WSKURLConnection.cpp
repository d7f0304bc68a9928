#include "signin/WSKURLConnection.h"

#include "foundation/SyncHttp.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSet>
#include <QThread>

namespace {

// The platform's own limit; a loop of redirects must end.
constexpr int kMaximumRedirects = 20;
// Without an answer for this long a request times out, as it would elsewhere.
constexpr int kTransferTimeoutMs = 60000;

// The network layer's own jar, shared by every connection that lets it
// handle cookies.
QNetworkCookieJar *systemCookieJar()
{
    static QNetworkCookieJar *jar = new QNetworkCookieJar;
    return jar;
}

bool isTransportError(QNetworkReply::NetworkError error)
{
    // Qt numbers connection, TLS and proxy failures below 200.
    return error != QNetworkReply::NoError && int(error) < 200;
}

Error transportError(QNetworkReply *reply, bool sawCertificateErrors)
{
    using namespace SyncHttp;
    long code = URLErrorUnknown;
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        code = URLErrorCannotConnectToHost;
        break;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
        code = URLErrorNetworkConnectionLost;
        break;
    case QNetworkReply::HostNotFoundError:
        code = URLErrorCannotFindHost;
        break;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        code = URLErrorTimedOut;
        break;
    case QNetworkReply::OperationCanceledError:
        code = URLErrorCancelled;
        break;
    case QNetworkReply::SslHandshakeFailedError:
        code = sawCertificateErrors ? URLErrorServerCertificateUntrusted : URLErrorSecureConnectionFailed;
        break;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        code = URLErrorNotConnectedToInternet;
        break;
    case QNetworkReply::TooManyRedirectsError:
        code = URLErrorHTTPTooManyRedirects;
        break;
    case QNetworkReply::ProtocolUnknownError:
        code = URLErrorUnsupportedURL;
        break;
    default:
        break;
    }
    return Error(kURLErrorDomain, code, reply->errorString(), {}, {},
                 {{kFailingURLStringKey, reply->url().toString()}});
}

class WSKNetworkConnection;

// A manager keeps its TLS connections open in a thread of its own, and
// closing one of them once the application object is gone trips Qt. A
// connection is dropped with deleteLater, which never happens when the
// application ends first, so the managers of the application's thread are
// closed as it is torn down, while it still exists.
QSet<WSKNetworkConnection *> &openConnections()
{
    static QSet<WSKNetworkConnection *> connections;
    return connections;
}

void closeOpenConnections();

// False for a connection of another thread: its manager goes with it there,
// at the latest when that thread ends.
bool registerOpenConnection(WSKNetworkConnection *connection)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return false;
    static QPointer<QCoreApplication> routineAddedFor;
    if (routineAddedFor != app) {
        qAddPostRoutine(closeOpenConnections);
        routineAddedFor = app;
    }
    openConnections().insert(connection);
    return true;
}

class WSKNetworkConnection : public WSKURLConnection
{
public:
    WSKNetworkConnection(WSKConnectionRequest request, std::shared_ptr<WSKURLConnectionDelegate> delegate)
        : request_(std::move(request)), delegate_(std::move(delegate)), manager_(new QNetworkAccessManager(this))
    {
        // A manager of its own: no credentials or TLS sessions cached by one
        // fetch reach another.
        manager_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        if (request_.shouldHandleCookies) {
            manager_->setCookieJar(systemCookieJar());
            systemCookieJar()->setParent(nullptr);
        }
        registered_ = registerOpenConnection(this);
    }

    ~WSKNetworkConnection() override
    {
        dropReply();
        if (registered_)
            openConnections().remove(this);
    }

    // Ends the connection without a word to its delegate and closes the
    // manager with its sockets now.
    void closeNetwork()
    {
        cancelled_ = true;
        if (reply_)
            disconnect(reply_, nullptr, this, nullptr);
        reply_ = nullptr;
        delete manager_.data();
        if (registered_) {
            openConnections().remove(this);
            registered_ = false;
        }
    }

    void start() override
    {
        if (!manager_)
            return;
        // Proxy challenges are not taken: Qt's signal for them does not say
        // which reply asks, and no proxy is configured.
        connect(manager_, &QNetworkAccessManager::authenticationRequired, this,
                &WSKNetworkConnection::onAuthenticationRequired);
        send();
    }

    void cancel() override
    {
        cancelled_ = true;
        dropReply();
    }

    void useCredential(const WSKURLCredential &credential, const WSKAuthenticationChallenge &) override
    {
        if (pendingAuthenticator_) {
            pendingAuthenticator_->setUser(credential.user);
            pendingAuthenticator_->setPassword(credential.password);
        }
    }

    // Leaving the authenticator empty makes Qt give up on the request; its
    // failure is no longer reported.
    void cancelAuthenticationChallenge(const WSKAuthenticationChallenge &) override { cancel(); }

private:
    void send()
    {
        const HttpRequest &request = request_.request;
        QNetworkRequest networkRequest(QUrl::fromEncoded(request.url.toUtf8()));
        networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        if (!request_.shouldHandleCookies) {
            networkRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
            networkRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        }
        networkRequest.setTransferTimeout(kTransferTimeoutMs);
        for (const auto &[name, value] : request.headers())
            networkRequest.setRawHeader(name.toLatin1(), value.toUtf8());

        QNetworkAccessManager *manager = manager_;
        if (!manager)
            return;
        const QByteArray verb = request.effectiveMethod().toLatin1();
        QNetworkReply *reply;
        if (request_.bodyStream)
            reply = manager->sendCustomRequest(networkRequest, verb, request_.bodyStream.get());
        else if (request.body.isEmpty() && verb == "GET")
            reply = manager->get(networkRequest);
        else if (request.body.isEmpty() && verb == "HEAD")
            reply = manager->head(networkRequest);
        else
            reply = manager->sendCustomRequest(networkRequest, verb, request.body);

        reply_ = reply;
        responseDelivered_ = false;
        isRedirect_ = false;
        sentSoFar_ = 0;
        sawCertificateErrors_ = false;
        connect(reply, &QNetworkReply::metaDataChanged, this, &WSKNetworkConnection::onMetaData);
        connect(reply, &QNetworkReply::readyRead, this, &WSKNetworkConnection::onReadyRead);
        connect(reply, &QNetworkReply::uploadProgress, this, &WSKNetworkConnection::onUploadProgress);
        connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError> &) {
            sawCertificateErrors_ = true; // never ignored
        });
        connect(reply, &QNetworkReply::finished, this, &WSKNetworkConnection::onFinished);
    }

    void dropReply()
    {
        if (!reply_)
            return;
        QNetworkReply *reply = reply_;
        reply_ = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        // Not from inside the reply's own signal.
        QMetaObject::invokeMethod(reply, [reply] {
            reply->abort();
            reply->deleteLater();
        }, Qt::QueuedConnection);
    }

    bool hasHTTPStatus() const
    {
        return reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    }

    WSKURLResponse currentResponse() const
    {
        WSKURLResponse response;
        response.url = reply_->url();
        const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid()) {
            response.hasHeaderFields = true;
            response.statusCode = status.toInt();
            response.headerFields = reply_->rawHeaderPairs();
        }
        return response;
    }

    void onMetaData()
    {
        if (!hasHTTPStatus())
            return;
        const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool redirectStatus = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        isRedirect_ = redirectStatus && reply_->hasRawHeader("Location");
        if (!isRedirect_)
            deliverResponse();
    }

    // Returns false when the delegate cancelled meanwhile.
    bool deliverResponse()
    {
        if (responseDelivered_)
            return true;
        responseDelivered_ = true;
        const auto keep = delegate_;
        keep->connectionDidReceiveResponse(this, currentResponse());
        return !cancelled_;
    }

    bool deliverData()
    {
        const QByteArray data = reply_->readAll();
        if (data.isEmpty())
            return true;
        const auto keep = delegate_;
        keep->connectionDidReceiveData(this, data);
        return !cancelled_;
    }

    void onReadyRead()
    {
        if (isRedirect_) {
            reply_->readAll(); // a redirect's own body is not the answer
            return;
        }
        if (deliverResponse())
            deliverData();
    }

    void onUploadProgress(qint64 sent, qint64 total)
    {
        if (sent <= sentSoFar_)
            return;
        const qint64 written = sent - sentSoFar_;
        sentSoFar_ = sent;
        const auto keep = delegate_;
        keep->connectionDidSendBodyData(this, written, sent, total);
    }

    void onAuthenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator)
    {
        if (reply != reply_ || cancelled_)
            return;
        WSKAuthenticationChallenge challenge;
        challenge.previousFailureCount = challengeCount_++;
        challenge.host = reply->url().host();
        challenge.port = reply->url().port();
        challenge.realm = authenticator->realm();
        pendingAuthenticator_ = authenticator;
        const auto keep = delegate_;
        keep->connectionDidReceiveAuthenticationChallenge(this, challenge);
        pendingAuthenticator_ = nullptr;
    }

    void onFinished()
    {
        if (cancelled_ || !reply_)
            return;
        const auto keep = delegate_;
        const bool transportFailure = isTransportError(reply_->error()) || (!hasHTTPStatus() && reply_->error() != QNetworkReply::NoError);
        if (transportFailure) {
            const Error error = transportError(reply_, sawCertificateErrors_);
            cancel();
            keep->connectionDidFailWithError(this, error);
            return;
        }
        if (isRedirect_) {
            if (++redirectCount_ > kMaximumRedirects) {
                Error error(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorHTTPTooManyRedirects,
                            localizedString("Too many redirects"), {}, {},
                            {{SyncHttp::kFailingURLStringKey, reply_->url().toString()}});
                cancel();
                keep->connectionDidFailWithError(this, error);
                return;
            }
            const WSKURLResponse redirectResponse = currentResponse();
            HttpRequest proposed = request_.request;
            proposed.url = reply_->url()
                               .resolved(QUrl::fromEncoded(reply_->rawHeader("Location")))
                               .toString(QUrl::FullyEncoded);
            const std::optional<HttpRequest> next = keep->connectionWillSendRequest(this, proposed, &redirectResponse);
            if (cancelled_)
                return;
            if (next) {
                dropReply();
                request_.request = *next;
                if (request_.bodyStream)
                    request_.bodyStream->reset();
                send();
                return;
            }
            isRedirect_ = false; // the redirect response becomes the answer
        }
        if (!deliverResponse() || !deliverData())
            return;
        dropReply();
        keep->connectionDidFinishLoading(this);
    }

    WSKConnectionRequest request_;
    std::shared_ptr<WSKURLConnectionDelegate> delegate_;
    QPointer<QNetworkAccessManager> manager_;
    QPointer<QNetworkReply> reply_;
    QAuthenticator *pendingAuthenticator_ = nullptr;
    bool registered_ = false;
    bool cancelled_ = false;
    bool responseDelivered_ = false;
    bool isRedirect_ = false;
    bool sawCertificateErrors_ = false;
    int redirectCount_ = 0;
    int challengeCount_ = 0;
    qint64 sentSoFar_ = 0;
};

void closeOpenConnections()
{
    const QSet<WSKNetworkConnection *> open = openConnections();
    for (WSKNetworkConnection *connection : open)
        connection->closeNetwork();
}

} // namespace

WSKConnectionClass WSKNetworkConnectionClass()
{
    WSKConnectionClass connectionClass;
    connectionClass.create = [](const WSKConnectionRequest &request,
                                std::shared_ptr<WSKURLConnectionDelegate> delegate) -> WSKURLConnection * {
        return new WSKNetworkConnection(request, std::move(delegate));
    };
    return connectionClass;
}
