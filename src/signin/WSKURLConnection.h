#pragma once

#include "foundation/Error.h"
#include "signin/HttpRequest.h"
#include "signin/WSKURLResponse.h"

#include <QIODevice>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The fetcher's seam to the network: a connection carries one request (and
// the redirects it takes) and reports its events to a delegate. The default
// class runs on Qt's network access; tests substitute a scripted one.

struct WSKURLCredential
{
    QString user;
    QString password;
};

struct WSKAuthenticationChallenge
{
    // How many answers to this request's challenges have failed before.
    int previousFailureCount = 0;
    // A proxy asks, not the server.
    bool isProxy = false;
    QString host;
    int port = -1;
    QString realm;
};
Q_DECLARE_METATYPE(WSKAuthenticationChallenge)

class WSKURLConnection;

class WSKURLConnectionDelegate
{
public:
    virtual ~WSKURLConnectionDelegate() = default;
    // A redirect: the request to send instead, or nothing to take the
    // redirect response as the final one.
    virtual std::optional<HttpRequest> connectionWillSendRequest(WSKURLConnection *connection,
                                                                 const HttpRequest &request,
                                                                 const WSKURLResponse *redirectResponse) = 0;
    virtual void connectionDidReceiveResponse(WSKURLConnection *connection, const WSKURLResponse &response) = 0;
    virtual void connectionDidReceiveData(WSKURLConnection *connection, const QByteArray &data) = 0;
    virtual void connectionDidSendBodyData(WSKURLConnection *connection, qint64 bytesWritten, qint64 totalBytesWritten,
                                           qint64 totalBytesExpectedToWrite) = 0;
    virtual void connectionDidFinishLoading(WSKURLConnection *connection) = 0;
    virtual void connectionDidFailWithError(WSKURLConnection *connection, const Error &error) = 0;
    // Answered, before returning, with useCredential or cancelAuthenticationChallenge.
    virtual void connectionDidReceiveAuthenticationChallenge(WSKURLConnection *connection,
                                                             const WSKAuthenticationChallenge &challenge) = 0;
};

// What a connection is made from.
struct WSKConnectionRequest
{
    HttpRequest request;
    // Sent as the body when set, instead of request.body.
    std::shared_ptr<QIODevice> bodyStream;
    // The network layer keeps and sends cookies itself.
    bool shouldHandleCookies = false;
};

class WSKURLConnection : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start() = 0;
    // No event is reported after this.
    virtual void cancel() = 0;
    virtual void useCredential(const WSKURLCredential &credential, const WSKAuthenticationChallenge &challenge) = 0;
    virtual void cancelAuthenticationChallenge(const WSKAuthenticationChallenge &challenge) = 0;
    // Only for classes that take a delegate queue: events are then reported
    // in the queue object's thread.
    virtual void setDelegateQueue(QObject *queue) { Q_UNUSED(queue); }
};

// The "class" of the connections a fetcher makes.
struct WSKConnectionClass
{
    std::function<WSKURLConnection *(const WSKConnectionRequest &request,
                                     std::shared_ptr<WSKURLConnectionDelegate> delegate)>
        create;
    bool takesDelegateQueue = false;
};

// Connections over QNetworkAccessManager, one manager per connection, with
// Qt's own redirects and cookies (unless asked for) switched off. TLS is
// always verified.
WSKConnectionClass WSKNetworkConnectionClass();
