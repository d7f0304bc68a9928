// Reads arbitrary bytes as a record (the first byte picks the type). A read
// may fail only with a Thrift exception; no single allocation while reading
// may exceed a small multiple of the input; whatever was read must write,
// read back, describe and archive consistently.

#include "RecordKinds.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdio>
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

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "record fuzzer: %s\n", what);
        std::abort();
    }
}

// The largest single allocation while `watching` is on.
bool watching = false;
std::size_t largest = 0;

void onMalloc(const volatile void *, std::size_t size)
{
    if (watching)
        largest = std::max(largest, size);
}

void onFree(const volatile void *) {}

// A container holds at most one element per smallest encoding of one (a
// struct's stop byte), and an element is at most a 16-byte pointer or a
// 32-byte string per 4 bytes of length: 16 times the input bounds it.
constexpr std::size_t kAllowedPerInputByte = 16;
constexpr std::size_t kAllowedAnyway = 4096;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const fuzz::Factory make = fuzz::kinds[data[0] % fuzz::kinds.size()];
    auto buffer = std::make_shared<TMemoryBuffer>(const_cast<std::uint8_t *>(data + 1),
                                                  static_cast<std::uint32_t>(size - 1), TMemoryBuffer::OBSERVE);
    auto record = make();
    auto in = over(buffer);
    largest = 0;
    watching = true;
    try {
        record->read(*in);
    } catch (const apache::thrift::TException &) {
        // Whatever was stored before the failure must still be sound.
    }
    watching = false;
    require(largest <= kAllowedPerInputByte * size + kAllowedAnyway,
            "largest <= kAllowedPerInputByte * size + kAllowedAnyway");

    const std::string bytes = bytesOf(*record);
    auto again = make();
    auto rereadBuffer = std::make_shared<TMemoryBuffer>(
        reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data())), static_cast<std::uint32_t>(bytes.size()));
    again->read(*over(rereadBuffer));
    require(rereadBuffer->available_read() == 0, "rereadBuffer->available_read() == 0");
    require(bytesOf(*again) == bytes, "bytesOf(*again) == bytes");
    require(again->description() == record->description(), "again->description() == record->description()");

    KeyedArchive archive;
    record->encodeWithCoder(archive);
    auto restored = make();
    restored->decodeFields(archive);
    require(bytesOf(*restored) == bytes, "bytesOf(*restored) == bytes");
    return 0;
}
