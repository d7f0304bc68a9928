#include "ravadido/ThriftHttpTransport.h"

#include "foundation/SyncHttp.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TTransportException.h>

#include <algorithm>
#include <cstring>

namespace ravadido {

using apache::thrift::transport::TTransportException;

namespace {

// "Could not connect to the server. (Connection refused)": the layer's own
// text, with curl's detail when it gave one.
std::string failureText(const OptionalError &error)
{
    if (!error)
        return "The HTTP request failed.";
    QString text = error->localizedDescription;
    const QString detail = error->userInfo.value(QStringLiteral("detail")).toString();
    if (!detail.isEmpty())
        text += QStringLiteral(" (") + detail + QLatin1Char(')');
    return text.toStdString();
}

} // namespace

ThriftHttpTransport::ThriftHttpTransport(QUrl url) : url_(std::move(url))
{
    setReply({});
}

void ThriftHttpTransport::write(const std::uint8_t *buf, std::uint32_t len)
{
    request_.append(reinterpret_cast<const char *>(buf), len);
}

void ThriftHttpTransport::flush()
{
    SyncHttp::Request request;
    request.method = "POST";
    request.url = url_;
    request.headers = {{"Content-Type", "application/x-thrift"},
                       {"Accept", "application/x-thrift"}};
    request.body = std::move(request_);
    request_ = QByteArray();
    // A redirected POST would arrive as something else, or carry the token
    // to another host.
    request.followRedirects = false;
    request.useCookies = false;
    setReply({});

    OptionalError error;
    std::optional<SyncHttp::Response> response = SyncHttp::send(request, &error);
    if (!response) {
        const auto type = error && error->code == SyncHttp::URLErrorTimedOut
                              ? TTransportException::TIMED_OUT
                              : TTransportException::NOT_OPEN;
        throw TTransportException(type, failureText(error));
    }
    if (response->status < 200 || response->status > 299)
        throw TTransportException(TTransportException::UNKNOWN,
                                  "Bad HTTP status: " + std::to_string(response->status));
    setReply(std::move(response->body));
}

void ThriftHttpTransport::setReply(QByteArray body)
{
    reply_ = std::move(body);
    replyOffset_ = 0;
    // The protocol checks announced sizes against this before it reads them.
    setRemainingMessageSize(static_cast<long>(reply_.size()));
}

std::uint32_t ThriftHttpTransport::read(std::uint8_t *buf, std::uint32_t len)
{
    const std::uint32_t n = std::min(len, replyBytesLeft());
    if (n) {
        std::memcpy(buf, reply_.constData() + replyOffset_, n);
        consume(n);
    }
    return n;
}

const std::uint8_t *ThriftHttpTransport::borrow(std::uint8_t *, std::uint32_t *len)
{
    if (*len > replyBytesLeft())
        return nullptr;
    *len = replyBytesLeft();
    return reinterpret_cast<const std::uint8_t *>(reply_.constData()) + replyOffset_;
}

void ThriftHttpTransport::consume(std::uint32_t len)
{
    if (len > replyBytesLeft())
        throw TTransportException(TTransportException::END_OF_FILE, "The reply ended early");
    replyOffset_ += len;
    setRemainingMessageSize(static_cast<long>(replyBytesLeft()));
}

std::shared_ptr<apache::thrift::protocol::TProtocol> httpBinaryProtocol(const QUrl &url)
{
    auto transport = std::make_shared<ThriftHttpTransport>(url);
    return std::make_shared<apache::thrift::protocol::TBinaryProtocol>(transport, 0, 0, false, false);
}

} // namespace ravadido
