#include "ravadido/ThriftHttpTransport.h"

#include "foundation/SyncHttp.h"
#include "ravadido/Bytes.h"

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

// The call's name from a message header, old-style (length, name) or strict
// (version, length, name); empty when the bytes hold neither.
std::string_view callName(std::string_view header)
{
    auto i32 = [&](std::size_t at) {
        return std::uint32_t(std::uint8_t(header[at])) << 24 | std::uint32_t(std::uint8_t(header[at + 1])) << 16
               | std::uint32_t(std::uint8_t(header[at + 2])) << 8 | std::uint32_t(std::uint8_t(header[at + 3]));
    };
    if (header.size() < 4)
        return {};
    std::size_t at = 0;
    if (i32(0) & 0x80000000u) {
        if (header.size() < 8)
            return {};
        at = 4;
    }
    const std::uint32_t length = i32(at);
    if (length > header.size() - at - 4)
        return {};
    return header.substr(at + 4, length);
}

// Reads may go out again when a kept connection turns out closed; anything
// else could change data twice.
bool mayBeSentAgain(std::string_view call)
{
    for (std::string_view prefix : {"get", "list", "find"})
        if (call.substr(0, prefix.size()) == prefix)
            return true;
    return false;
}

bool isLoopback(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || host == QLatin1String("::1"))
        return true;
    const QStringList octets = host.split(QLatin1Char('.'));
    if (octets.size() != 4 || octets[0] != QLatin1String("127"))
        return false;
    for (const QString &octet : octets) {
        bool ok = false;
        if (octet.isEmpty() || octet.size() > 3 || octet.toUInt(&ok) > 255 || !ok)
            return false;
    }
    return true;
}

} // namespace

ThriftHttpTransport::ThriftHttpTransport(QUrl url) : m_url(std::move(url))
{
    setReply({});
}

void ThriftHttpTransport::write(const std::uint8_t *buf, std::uint32_t len)
{
    const char *bytes = reinterpret_cast<const char *>(buf);
    if (len >= kBorrowedPieceBytes) {
        m_pieces.push_back({std::string_view(bytes, len), -1});
        return;
    }
    if (m_pieces.empty() || m_pieces.back().owned < 0) {
        m_pieces.push_back({{}, int(m_ownedRuns.size())});
        m_ownedRuns.emplace_back();
    }
    m_ownedRuns.back().append(bytes, len);
}

bool ThriftHttpTransport::writeLentFile(const std::shared_ptr<const LentFile> &file)
{
    m_pieces.push_back({{}, -1, file});
    return true;
}

void ThriftHttpTransport::clearRequest()
{
    m_pieces.clear();
    m_ownedRuns.clear();
}

void ThriftHttpTransport::flush()
{
    SyncHttp::Request request;
    request.method = "POST";
    request.url = m_url;
    request.headers = {{"Content-Type", "application/x-thrift"}, {"Accept", "application/x-thrift"}};
    // Views are taken only now: the owned runs no longer move.
    for (const Piece &piece : m_pieces) {
        if (piece.file)
            request.bodyPieces.emplace_back(piece.file->descriptor(), 0, qint64(piece.file->size()),
                                            QString::fromStdString(piece.file->name()));
        else
            request.bodyPieces.emplace_back(piece.owned >= 0 ? std::string_view(m_ownedRuns[std::size_t(piece.owned)])
                                                             : piece.borrowed);
    }
    request.sendAtMostOnce = !mayBeSentAgain(
        callName(request.bodyPieces.empty() ? std::string_view() : request.bodyPieces.front().bytes));
    request.maxReplyBytes = kMaxReplyBytes;
    // A redirected POST would arrive as something else, or carry the token
    // to another host.
    request.followRedirects = false;
    request.useCookies = false;
    request.timeoutSeconds = m_idleSeconds;
    request.lowSpeedSeconds = m_lowSpeedSeconds;
    request.isCancelled = m_isCancelled;
    setReply({});

    struct ClearOnExit
    {
        ThriftHttpTransport *transport;
        ~ClearOnExit() { transport->clearRequest(); }
    } clearOnExit{this};

    if (m_url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0 && !isLoopback(m_url.host()))
        throw TTransportException(TTransportException::NOT_OPEN,
                                  "The NoteStore address " + m_url.toString().toStdString()
                                      + " is not encrypted (https): the request was not sent.");

    OptionalError error;
    std::optional<SyncHttp::Response> response = SyncHttp::send(request, &error);
    if (!response) {
        const long code = error ? error->code : SyncHttp::URLErrorUnknown;
        const auto type = code == SyncHttp::URLErrorTimedOut    ? TTransportException::TIMED_OUT
                          : code == SyncHttp::URLErrorCancelled ? TTransportException::INTERRUPTED
                                                                : TTransportException::NOT_OPEN;
        throw TTransportException(type, failureText(error));
    }
    if (response->status != 200)
        throw TTransportException(TTransportException::UNKNOWN, "Bad HTTP status: " + std::to_string(response->status));
    setReply(std::move(response->body));
}

void ThriftHttpTransport::setReply(QByteArray body)
{
    m_reply = std::move(body);
    m_replyOffset = 0;
    // The protocol checks announced sizes against this before it reads them.
    setRemainingMessageSize(static_cast<long>(m_reply.size()));
}

std::uint32_t ThriftHttpTransport::read(std::uint8_t *buf, std::uint32_t len)
{
    const std::uint32_t n = std::min(len, replyBytesLeft());
    if (n) {
        std::memcpy(buf, m_reply.constData() + m_replyOffset, n);
        consume(n);
    }
    return n;
}

const std::uint8_t *ThriftHttpTransport::borrow(std::uint8_t *, std::uint32_t *len)
{
    // The whole reply is here: a value longer than what is left can never
    // be read, and the protocol would allocate for it before finding out.
    if (*len > replyBytesLeft())
        throw TTransportException(TTransportException::END_OF_FILE, "The reply is shorter than a value it announces");
    *len = replyBytesLeft();
    return reinterpret_cast<const std::uint8_t *>(m_reply.constData()) + m_replyOffset;
}

void ThriftHttpTransport::consume(std::uint32_t len)
{
    if (len > replyBytesLeft())
        throw TTransportException(TTransportException::END_OF_FILE, "The reply ended early");
    m_replyOffset += len;
    setRemainingMessageSize(static_cast<long>(replyBytesLeft()));
}

std::shared_ptr<apache::thrift::protocol::TProtocol> httpBinaryProtocol(const QUrl &url,
                                                                        std::function<bool()> isCancelled)
{
    auto transport = std::make_shared<ThriftHttpTransport>(url);
    transport->setCancellationCheck(std::move(isCancelled));
    return std::make_shared<apache::thrift::protocol::TBinaryProtocol>(transport, 0, 0, false, false);
}

} // namespace ravadido
