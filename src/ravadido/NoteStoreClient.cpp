#include "ravadido/NoteStoreClient.h"

#include "ravadido/RequestBuffer.h"

#include <thrift/protocol/TBinaryProtocol.h>

#include <algorithm>
#include <limits>

namespace ravadido {

using apache::thrift::TApplicationException;
using apache::thrift::protocol::TMessageType;

RURUNoteStoreClient::RURUNoteStoreClient(std::shared_ptr<TProtocol> protocol) : RURUNoteStoreClient(protocol, protocol)
{
}

RURUNoteStoreClient::RURUNoteStoreClient(std::shared_ptr<TProtocol> inProtocol, std::shared_ptr<TProtocol> outProtocol)
    : m_inProtocol(std::move(inProtocol)), m_outProtocol(std::move(outProtocol))
{
}

void RURUNoteStoreClient::beginCall(const char *call)
{
    m_outProtocol->writeMessageBegin(call, apache::thrift::protocol::T_CALL, 0);
    m_outProtocol->writeStructBegin((std::string(call) + "_args").c_str());
}

void RURUNoteStoreClient::endCall()
{
    m_outProtocol->writeFieldStop();
    m_outProtocol->writeStructEnd();
    m_outProtocol->writeMessageEnd();
    m_outProtocol->getTransport()->writeEnd();
    m_outProtocol->getTransport()->flush();
}

void RURUNoteStoreClient::abandonCall()
{
    if (auto *http = dynamic_cast<RequestBuffer *>(m_outProtocol->getTransport().get()))
        http->discardRequest();
}

void RURUNoteStoreClient::beginReply()
{
    // No string or container in a reply can be longer than the reply: a
    // hostile count then fails before anything is allocated for it.
    if (auto *binary = dynamic_cast<apache::thrift::protocol::TBinaryProtocol *>(m_inProtocol.get())) {
        // Asking to borrow one byte makes a lazy buffer count all it holds.
        std::uint32_t left = 1;
        if (binary->getTransport()->borrow(nullptr, &left)) {
            const auto limit = static_cast<std::int32_t>(
                std::clamp<std::uint32_t>(left, 1, std::numeric_limits<std::int32_t>::max()));
            binary->setStringSizeLimit(limit);
            binary->setContainerSizeLimit(limit);
        }
    }

    std::string name;
    TMessageType type;
    std::int32_t sequenceId;
    m_inProtocol->readMessageBegin(name, type, sequenceId);
    if (type == apache::thrift::protocol::T_EXCEPTION) {
        TApplicationException exception;
        exception.read(m_inProtocol.get());
        m_inProtocol->readMessageEnd();
        throw exception;
    }
}

RURU_NOTE_STORE_CALLS(RAVADIDO_DEFINE_CALL)

} // namespace ravadido
