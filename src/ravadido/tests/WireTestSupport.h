#pragma once

#include "ravadido/Record.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cctype>
#include <memory>
#include <string>

namespace ravadido::test {

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;

// Upper-case hex with a space between bytes, as the examples are written.
inline std::string hex(const std::string &bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 0xf];
    }
    return out;
}

inline std::string unhex(const std::string &text)
{
    std::string out;
    int pending = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
        if (pending < 0) {
            pending = v;
        } else {
            out += static_cast<char>(pending * 16 + v);
            pending = -1;
        }
    }
    return out;
}

inline std::shared_ptr<TBinaryProtocol> protocolOver(std::shared_ptr<TMemoryBuffer> buffer)
{
    return std::make_shared<TBinaryProtocol>(buffer, 0, 0, false, false);
}

inline std::string bytesOf(const Record &record)
{
    auto buffer = std::make_shared<TMemoryBuffer>();
    record.write(*protocolOver(buffer));
    return buffer->getBufferAsString();
}

inline std::string hexOf(const Record &record)
{
    return hex(bytesOf(record));
}

// Reads `bytes` into a fresh T; returns it with the count of bytes left.
template<typename T>
std::shared_ptr<T> readBytes(const std::string &bytes, std::uint32_t *left = nullptr)
{
    auto buffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data())),
                                                  static_cast<std::uint32_t>(bytes.size()), TMemoryBuffer::COPY);
    auto record = std::make_shared<T>();
    record->read(*protocolOver(buffer));
    if (left)
        *left = buffer->available_read();
    return record;
}

template<typename T>
std::shared_ptr<T> readHex(const std::string &text)
{
    return readBytes<T>(unhex(text));
}

} // namespace ravadido::test
