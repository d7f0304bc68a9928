// Writes the fuzz seeds into the first folder given, and makes the second
// (the fuzzer's working corpus): the wire examples of the records and every
// sample record fully and sparsely set, each behind the byte that names its
// type.

#include "../tests/RecordSamples.h"
#include "RecordKinds.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

using namespace ravadido;

namespace {

int kindOf(const Record &record)
{
    for (std::size_t i = 0; i < fuzz::kinds.size(); ++i)
        if (std::strcmp(fuzz::kinds[i]()->layout().wireName(), record.layout().wireName()) == 0)
            return static_cast<int>(i);
    return -1;
}

void writeSeed(const std::string &dir, int n, int kind, const std::string &bytes)
{
    std::ofstream(dir + "/seed-" + std::to_string(n), std::ios::binary) << static_cast<char>(kind) << bytes;
}

std::string bytesOf(const Record &record)
{
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>();
    apache::thrift::protocol::TBinaryProtocol out(buffer, 0, 0, false, false);
    record.write(out);
    return buffer->getBufferAsString();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const std::string dir = argv[1];
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // Each run starts from the seeds alone, not from what earlier runs found;
    // emptied here rather than by a second set-up test, which would race this one.
    std::filesystem::remove_all(argv[2]);
    std::filesystem::create_directories(argv[2]);
    int n = 0;
    const int data = kindOf(RURUData()), notebook = kindOf(RURUNotebook());
    writeSeed(dir, n++, data, std::string("\x08\x00\x02\x00\x00\x00\x05\x00", 8));
    writeSeed(dir, n++, data, std::string("\x0b\x00\x04\x00\x00\x00\x02xy\x08\x00\x02\x00\x00\x00\x05\x00", 17));
    writeSeed(dir, n++, data, std::string("\x08\x00\x02\x00\x00\x00\x01\x08\x00\x02\x00\x00\x00\x02\x00", 15));
    writeSeed(dir, n++, notebook,
              std::string("\x0b\x00\x02\x00\x00\x00\x01"
                          "A\x0b\x00\x0c\x00\x00\x00\x01"
                          "B\x00",
                          17));
    writeSeed(dir, n++, notebook, std::string("\x08\x00\x02\x00\x00\x00\x01\x00", 8));
    // Found by the fuzzer: a resource list whose count outruns the bytes,
    // each byte left an empty resource. The element that hit the end of
    // the bytes once grew the list past its reservation.
    writeSeed(dir, n++, kindOf(RURUNoteList()),
              std::string("\x08\x00\x01\x00\x00\x00\x00\x0f\x00\x03\x0c\x74\x32\x00\x00\x00\x00"
                          "\x0f\x00\x0d\x0c\x01\x00\x00\x00",
                          25)
                  + std::string(355, '\0'));
    // Ids a user does not use, a filter in id order, and a struct kept
    // whole with a map of lists inside a nested struct.
    writeSeed(dir, n++, kindOf(RURUUser()),
              std::string("\x0b\x00\x05\x00\x00\x00\x01"
                          "A\x08\x00\x08\x00\x00\x00\x01\x02\x00\x0c\x01"
                          "\x08\x00\x07\xff\xff\xff\xff\x00",
                          27));
    writeSeed(dir, n++, kindOf(RURUSyncChunkFilter()),
              std::string("\x02\x00\x0a\x01\x0b\x00\x0b\x00\x00\x00\x01"
                          "c\x02\x00\x0c\x00\x02\x00\x0d\x01\x00",
                          21));
    writeSeed(dir, n++, kindOf(RURUAuthenticationResult()),
              std::string("\x0c\x00\x04\x0d\x00\x01\x0b\x0f\x00\x00\x00\x01\x00\x00\x00\x01k"
                          "\x08\x00\x00\x00\x01\x00\x00\x00\x07\x00\x00",
                          28));
    for (const auto &sample : samples::fullySet()) {
        const int kind = kindOf(*sample.record);
        writeSeed(dir, n++, kind, bytesOf(*sample.record));
        writeSeed(dir, n++, kind, bytesOf(*samples::everyOtherField(sample, false)));
        writeSeed(dir, n++, kind, bytesOf(*samples::everyOtherField(sample, true)));
    }
    return 0;
}
