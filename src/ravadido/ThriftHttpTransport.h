#pragma once

#include "ravadido/RequestBuffer.h"

#include <QByteArray>
#include <QUrl>

#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TVirtualTransport.h>

#include <memory>
#include <string>

namespace ravadido {

// The client side of Thrift over HTTP: writes are buffered; flush() sends the
// buffer as the body of one POST (Content-Type application/x-thrift) through
// the shared synchronous HTTP layer, TLS verified, and keeps the answer's body
// in memory for the reads that follow.
//
// A failed POST (no answer, or a status outside 2xx) throws a
// TTransportException that names the cause; the request buffer is empty
// after every flush, failed or not, so a failure never leaks into the next
// call. Each POST may use a fresh connection: one the server closed is never
// reused.
class ThriftHttpTransport
    : public apache::thrift::transport::TVirtualTransport<ThriftHttpTransport>,
      public RequestBuffer
{
public:
    explicit ThriftHttpTransport(QUrl url);

    const QUrl &url() const { return url_; }

    bool isOpen() const override { return true; }
    bool peek() override { return replyOffset_ < reply_.size(); }
    void open() override {}
    void close() override {}

    void write(const std::uint8_t *buf, std::uint32_t len);
    void flush() override;

    std::uint32_t read(std::uint8_t *buf, std::uint32_t len);
    // Lends the unread reply: with *len no larger than what is left, sets
    // *len to all that is left and returns it.
    const std::uint8_t *borrow(std::uint8_t *buf, std::uint32_t *len);
    void consume(std::uint32_t len);

    // Bytes of the last reply not read yet.
    std::uint32_t replyBytesLeft() const
    {
        return static_cast<std::uint32_t>(reply_.size() - replyOffset_);
    }
    void discardRequest() override { request_.clear(); }

private:
    void setReply(QByteArray body);

    QUrl url_;
    QByteArray request_;
    QByteArray reply_;
    qsizetype replyOffset_ = 0;
};

// The protocol the NoteStore speaks: binary, strict read and strict write off
// (the old-style message header), over a ThriftHttpTransport on `url`.
std::shared_ptr<apache::thrift::protocol::TProtocol> httpBinaryProtocol(const QUrl &url);

} // namespace ravadido
