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
    case QNetworkReply::ProxyNotFoundError: code = URLErrorCannotConnectToHost; break;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError: code = URLErrorNetworkConnectionLost; break;
    case QNetworkReply::HostNotFoundError: code = URLErrorCannotFindHost; break;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError: code = URLErrorTimedOut; break;
    case QNetworkReply::OperationCanceledError: code = URLErrorCancelled; break;
    case QNetworkReply::SslHandshakeFailedError:
        code = sawCertificateErrors ? URLErrorServerCertificateUntrusted : URLErrorSecureConnectionFailed;
        break;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError: code = URLErrorNotConnectedToInternet; break;
    case QNetworkReply::TooManyRedirectsError: code = URLErrorHTTPTooManyRedirects; break;
    case QNetworkReply::ProtocolUnknownError: code = URLErrorUnsupportedURL; break;
    default: break;
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
        : m_request(std::move(request)), m_delegate(std::move(delegate)), m_manager(new QNetworkAccessManager(this))
    {
        // A manager of its own: no credentials or TLS sessions cached by one
        // fetch reach another.
        m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        if (m_request.shouldHandleCookies) {
            m_manager->setCookieJar(systemCookieJar());
            systemCookieJar()->setParent(nullptr);
        }
        m_registered = registerOpenConnection(this);
    }

    ~WSKNetworkConnection() override
    {
        dropReply();
        if (m_registered)
            openConnections().remove(this);
    }

    // Ends the connection without a word to its delegate and closes the
    // manager with its sockets now.
    void closeNetwork()
    {
        m_cancelled = true;
        if (m_reply)
            disconnect(m_reply, nullptr, this, nullptr);
        m_reply = nullptr;
        delete m_manager.data();
        if (m_registered) {
            openConnections().remove(this);
            m_registered = false;
        }
    }

    void start() override
    {
        if (!m_manager)
            return;
        // Proxy challenges are not taken: Qt's signal for them does not say
        // which reply asks, and no proxy is configured.
        connect(m_manager, &QNetworkAccessManager::authenticationRequired, this,
                &WSKNetworkConnection::onAuthenticationRequired);
        send();
    }

    void cancel() override
    {
        m_cancelled = true;
        dropReply();
    }

    void useCredential(const WSKURLCredential &credential, const WSKAuthenticationChallenge &) override
    {
        if (m_pendingAuthenticator) {
            m_pendingAuthenticator->setUser(credential.user);
            m_pendingAuthenticator->setPassword(credential.password);
        }
    }

    // Leaving the authenticator empty makes Qt give up on the request; its
    // failure is no longer reported.
    void cancelAuthenticationChallenge(const WSKAuthenticationChallenge &) override { cancel(); }

private:
    void send()
    {
        const HttpRequest &request = m_request.request;
        QNetworkRequest networkRequest(QUrl::fromEncoded(request.url.toUtf8()));
        networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        if (!m_request.shouldHandleCookies) {
            networkRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
            networkRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        }
        networkRequest.setTransferTimeout(kTransferTimeoutMs);
        for (const auto &[name, value] : request.headers())
            networkRequest.setRawHeader(name.toLatin1(), value.toUtf8());

        QNetworkAccessManager *manager = m_manager;
        if (!manager)
            return;
        const QByteArray verb = request.effectiveMethod().toLatin1();
        QNetworkReply *reply;
        if (m_request.bodyStream)
            reply = manager->sendCustomRequest(networkRequest, verb, m_request.bodyStream.get());
        else if (request.body.isEmpty() && verb == "GET")
            reply = manager->get(networkRequest);
        else if (request.body.isEmpty() && verb == "HEAD")
            reply = manager->head(networkRequest);
        else
            reply = manager->sendCustomRequest(networkRequest, verb, request.body);

        m_reply = reply;
        m_responseDelivered = false;
        m_isRedirect = false;
        m_sentSoFar = 0;
        m_sawCertificateErrors = false;
        connect(reply, &QNetworkReply::metaDataChanged, this, &WSKNetworkConnection::onMetaData);
        connect(reply, &QNetworkReply::readyRead, this, &WSKNetworkConnection::onReadyRead);
        connect(reply, &QNetworkReply::uploadProgress, this, &WSKNetworkConnection::onUploadProgress);
        connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError> &) {
            m_sawCertificateErrors = true; // never ignored
        });
        connect(reply, &QNetworkReply::finished, this, &WSKNetworkConnection::onFinished);
    }

    void dropReply()
    {
        if (!m_reply)
            return;
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        // Not from inside the reply's own signal.
        QMetaObject::invokeMethod(
            reply,
            [reply] {
                reply->abort();
                reply->deleteLater();
            },
            Qt::QueuedConnection);
    }

    bool hasHTTPStatus() const { return m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid(); }

    WSKURLResponse currentResponse() const
    {
        WSKURLResponse response;
        response.url = m_reply->url();
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid()) {
            response.hasHeaderFields = true;
            response.statusCode = status.toInt();
            response.headerFields = m_reply->rawHeaderPairs();
        }
        return response;
    }

    void onMetaData()
    {
        if (!hasHTTPStatus())
            return;
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool redirectStatus = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        m_isRedirect = redirectStatus && m_reply->hasRawHeader("Location");
        if (!m_isRedirect)
            deliverResponse();
    }

    // Returns false when the delegate cancelled meanwhile.
    bool deliverResponse()
    {
        if (m_responseDelivered)
            return true;
        m_responseDelivered = true;
        const auto keep = m_delegate;
        keep->connectionDidReceiveResponse(this, currentResponse());
        return !m_cancelled;
    }

    bool deliverData()
    {
        const QByteArray data = m_reply->readAll();
        if (data.isEmpty())
            return true;
        const auto keep = m_delegate;
        keep->connectionDidReceiveData(this, data);
        return !m_cancelled;
    }

    void onReadyRead()
    {
        if (m_isRedirect) {
            m_reply->readAll(); // a redirect's own body is not the answer
            return;
        }
        if (deliverResponse())
            deliverData();
    }

    void onUploadProgress(qint64 sent, qint64 total)
    {
        if (sent <= m_sentSoFar)
            return;
        const qint64 written = sent - m_sentSoFar;
        m_sentSoFar = sent;
        const auto keep = m_delegate;
        keep->connectionDidSendBodyData(this, written, sent, total);
    }

    void onAuthenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator)
    {
        if (reply != m_reply || m_cancelled)
            return;
        WSKAuthenticationChallenge challenge;
        challenge.previousFailureCount = m_challengeCount++;
        challenge.host = reply->url().host();
        challenge.port = reply->url().port();
        challenge.realm = authenticator->realm();
        m_pendingAuthenticator = authenticator;
        const auto keep = m_delegate;
        keep->connectionDidReceiveAuthenticationChallenge(this, challenge);
        m_pendingAuthenticator = nullptr;
    }

    void onFinished()
    {
        if (m_cancelled || !m_reply)
            return;
        const auto keep = m_delegate;
        const bool transportFailure = isTransportError(m_reply->error())
                                      || (!hasHTTPStatus() && m_reply->error() != QNetworkReply::NoError);
        if (transportFailure) {
            const Error error = transportError(m_reply, m_sawCertificateErrors);
            cancel();
            keep->connectionDidFailWithError(this, error);
            return;
        }
        if (m_isRedirect) {
            if (++m_redirectCount > kMaximumRedirects) {
                Error error(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorHTTPTooManyRedirects,
                            localizedString("Too many redirects"), {}, {},
                            {{SyncHttp::kFailingURLStringKey, m_reply->url().toString()}});
                cancel();
                keep->connectionDidFailWithError(this, error);
                return;
            }
            const WSKURLResponse redirectResponse = currentResponse();
            HttpRequest proposed = m_request.request;
            proposed.url =
                m_reply->url().resolved(QUrl::fromEncoded(m_reply->rawHeader("Location"))).toString(QUrl::FullyEncoded);
            const std::optional<HttpRequest> next = keep->connectionWillSendRequest(this, proposed, &redirectResponse);
            if (m_cancelled)
                return;
            if (next) {
                dropReply();
                m_request.request = *next;
                if (m_request.bodyStream)
                    m_request.bodyStream->reset();
                send();
                return;
            }
            m_isRedirect = false; // the redirect response becomes the answer
        }
        if (!deliverResponse() || !deliverData())
            return;
        dropReply();
        keep->connectionDidFinishLoading(this);
    }

    WSKConnectionRequest m_request;
    std::shared_ptr<WSKURLConnectionDelegate> m_delegate;
    QPointer<QNetworkAccessManager> m_manager;
    QPointer<QNetworkReply> m_reply;
    QAuthenticator *m_pendingAuthenticator = nullptr;
    bool m_registered = false;
    bool m_cancelled = false;
    bool m_responseDelivered = false;
    bool m_isRedirect = false;
    bool m_sawCertificateErrors = false;
    int m_redirectCount = 0;
    int m_challengeCount = 0;
    qint64 m_sentSoFar = 0;
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
