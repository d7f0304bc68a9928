// Reads arbitrary bytes as a record (the first byte picks the type). A read
// may fail only with a Thrift exception; whatever it read must write,
// read back, describe and archive consistently.

#include "RecordKinds.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstdlib>

using namespace ravadido;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;

namespace {

std::shared_ptr<TBinaryProtocol> over(std::shared_ptr<TMemoryBuffer> buffer)
{
    return std::make_shared<TBinaryProtocol>(buffer, 0, 0, false, false);
}

std::string bytesOf(const Record &record)
{
    auto buffer = std::make_shared<TMemoryBuffer>();
    record.write(*over(buffer));
    return buffer->getBufferAsString();
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const fuzz::Factory make = fuzz::kinds[data[0] % fuzz::kinds.size()];
    auto buffer = std::make_shared<TMemoryBuffer>(const_cast<std::uint8_t *>(data + 1),
                                                  static_cast<std::uint32_t>(size - 1), TMemoryBuffer::OBSERVE);
    auto record = make();
    try {
        record->read(*over(buffer));
    } catch (const apache::thrift::TException &) {
        // Whatever was stored before the failure must still be sound.
    }

    const std::string bytes = bytesOf(*record);
    auto again = make();
    auto rereadBuffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data())),
                                                        static_cast<std::uint32_t>(bytes.size()));
    again->read(*over(rereadBuffer));
    require(rereadBuffer->available_read() == 0);
    require(bytesOf(*again) == bytes);
    require(again->description() == record->description());

    KeyedArchive archive;
    record->encodeWithCoder(archive);
    auto restored = make();
    restored->decodeFields(archive);
    require(bytesOf(*restored) == bytes);
    return 0;
}
