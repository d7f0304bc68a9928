#pragma once

#include "ravadido/RequestBuffer.h"

#include <QByteArray>
#include <QUrl>

#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TVirtualTransport.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ravadido {

// The client side of Thrift over HTTP: writes are buffered; flush() sends the
// buffer as the body of one POST (Content-Type application/x-thrift) through
// the shared synchronous HTTP layer, TLS verified, and keeps the answer's body
// in memory for the reads that follow. Large pieces (resource bodies) are not
// copied: the buffer points at the caller's bytes, which a call keeps alive
// until its flush, and a lent file is read only as the POST sends it.
//
// A failed POST (no answer, a status other than 200, a reply longer than
// kMaxReplyBytes) throws a TTransportException that names the cause; the
// request buffer is empty after every flush, failed or not, so a failure
// never leaks into the next call. Connections are kept between calls; a call
// that changes data (any but the get, list and find calls) is sent at most
// once, never again on a new connection. A URL with plain http to anything
// but a loopback address is refused: the token would travel in the clear.
// A POST that a cancellation check ends throws TTransportException
// INTERRUPTED; one that stalls or trickles, TIMED_OUT.
class ThriftHttpTransport : public apache::thrift::transport::TVirtualTransport<ThriftHttpTransport>,
                            public RequestBuffer
{
public:
    explicit ThriftHttpTransport(QUrl url);

    // The service's largest note (premium) and room for the reply around it.
    static constexpr qint64 kMaxReplyBytes = 52428800 + 8 * 1024 * 1024;
    // Writes at least this long are kept by reference.
    static constexpr std::uint32_t kBorrowedPieceBytes = 64 * 1024;

    const QUrl &url() const { return m_url; }

    // Asked before each POST and polled while it runs.
    void setCancellationCheck(std::function<bool()> isCancelled) { m_isCancelled = std::move(isCancelled); }
    // The idle time-out and the speed floor's span of each POST (60 s each).
    void setTimeouts(int idleSeconds, int lowSpeedSeconds)
    {
        m_idleSeconds = idleSeconds;
        m_lowSpeedSeconds = lowSpeedSeconds;
    }

    bool isOpen() const override { return true; }
    bool peek() override { return m_replyOffset < m_reply.size(); }
    void open() override {}
    void close() override {}

    void write(const std::uint8_t *buf, std::uint32_t len);
    void flush() override;

    std::uint32_t read(std::uint8_t *buf, std::uint32_t len);
    // Lends the unread reply: with *len no larger than what is left, sets
    // *len to all that is left and returns it; a larger *len throws
    // END_OF_FILE (no more of the reply will come).
    const std::uint8_t *borrow(std::uint8_t *buf, std::uint32_t *len);
    void consume(std::uint32_t len);

    // Bytes of the last reply not read yet.
    std::uint32_t replyBytesLeft() const { return static_cast<std::uint32_t>(m_reply.size() - m_replyOffset); }
    void discardRequest() override { clearRequest(); }
    bool writeLentFile(const std::shared_ptr<const LentFile> &file) override;

private:
    void setReply(QByteArray body);
    void clearRequest();

    QUrl m_url;
    std::function<bool()> m_isCancelled;
    int m_idleSeconds = 60;
    int m_lowSpeedSeconds = 60;
    // The request: owned runs of small writes, borrowed large ones and lent
    // files, in order; each piece is (owned, index into m_ownedRuns), a
    // borrowed view or a file.
    struct Piece
    {
        std::string_view borrowed;
        int owned = -1;
        std::shared_ptr<const LentFile> file = {};
    };
    std::vector<Piece> m_pieces;
    std::vector<std::string> m_ownedRuns;
    QByteArray m_reply;
    qsizetype m_replyOffset = 0;
};

// The protocol the NoteStore speaks: binary, strict read and strict write off
// (the old-style message header), over a ThriftHttpTransport on `url` with
// the given cancellation check.
std::shared_ptr<apache::thrift::protocol::TProtocol> httpBinaryProtocol(const QUrl &url,
                                                                        std::function<bool()> isCancelled = {});

} // namespace ravadido
