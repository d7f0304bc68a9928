// Reads arbitrary bytes as a whole reply message to one of the NoteStore
// calls (the first byte picks the call). The receive may fail only with a
// Thrift exception (a declared RURU exception, an application exception, a
// protocol or transport exception); a value it returns must be sound enough
// to write again.

#include "ReplyCalls.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

using namespace ravadido;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;

std::string fuzz::bytesOf(const Record &record)
{
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol out(buffer, 0, 0, false, false);
    record.write(out);
    return buffer->getBufferAsString();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const fuzz::ReplyCall &call = fuzz::replyCalls[data[0] % fuzz::replyCalls.size()];
    auto reply = std::make_shared<TMemoryBuffer>(const_cast<std::uint8_t *>(data + 1),
                                                 static_cast<std::uint32_t>(size - 1), TMemoryBuffer::OBSERVE);
    auto sent = std::make_shared<TMemoryBuffer>();
    RURUNoteStoreClient client(std::make_shared<TBinaryProtocol>(reply, 0, 0, false, false),
                               std::make_shared<TBinaryProtocol>(sent, 0, 0, false, false));
    std::string written;
    try {
        call.receive(client, written);
    } catch (const apache::thrift::TException &) {
    }
    return 0;
}
