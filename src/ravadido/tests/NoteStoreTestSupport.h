#pragma once

#include "WireTestSupport.h"
#include "ravadido/NoteStoreClient.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstdint>
#include <memory>
#include <string>

namespace ravadido::test {

inline std::string be32(std::uint32_t v)
{
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((v >> shift) & 0xff);
    return out;
}

// The old-style message header: name length, name, type byte, sequence id.
inline std::string oldStyleHeader(const std::string &name, std::uint8_t type, std::int32_t seqid = 0)
{
    return be32(static_cast<std::uint32_t>(name.size())) + name + static_cast<char>(type)
           + be32(static_cast<std::uint32_t>(seqid));
}

// The strict header: version 0x8001 with the type in the low byte, then the
// name and the sequence id.
inline std::string strictHeader(const std::string &name, std::uint8_t type, std::int32_t seqid = 0)
{
    return be32(0x80010000u | type) + be32(static_cast<std::uint32_t>(name.size())) + name
           + be32(static_cast<std::uint32_t>(seqid));
}

// A client whose calls go to one memory buffer and whose replies come from
// another, as the HTTP transport would hand them over.
struct MemoryClient
{
    std::shared_ptr<TMemoryBuffer> sent = std::make_shared<TMemoryBuffer>();
    std::shared_ptr<TMemoryBuffer> reply = std::make_shared<TMemoryBuffer>();
    RURUNoteStoreClient client{protocolOver(reply), protocolOver(sent)};

    explicit MemoryClient(const std::string &replyBytes = {})
    {
        reply->resetBuffer(reinterpret_cast<std::uint8_t *>(const_cast<char *>(replyBytes.data())),
                           static_cast<std::uint32_t>(replyBytes.size()), TMemoryBuffer::COPY);
    }
    std::string sentHex() const { return hex(sent->getBufferAsString()); }
};

} // namespace ravadido::test
