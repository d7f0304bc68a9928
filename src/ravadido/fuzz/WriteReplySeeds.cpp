// Writes the reply fuzzer's seeds into the first folder given, and makes the
// second (its working corpus): for each call of the table, replies with its
// success value (from the sample records), with each of its exceptions, with
// nothing, and an exception message; old-style and strict headers.

#include "../tests/CallSamples.h"
#include "ReplyCalls.h"

#include <thrift/TApplicationException.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <filesystem>
#include <fstream>

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

namespace {

// Replies to one call: its success value (from the sample records), each
// of its exceptions, and nothing.
template<typename Result>
std::vector<std::string> results()
{
    std::vector<Result> out;
    if constexpr (Result::hasSuccess)
        out.emplace_back().setSuccess(samples::callValue<typename Result::Success>(1));
    if constexpr (requires(Result r) { r.setUserException(nullptr); })
        out.emplace_back().setUserException(std::make_shared<RURUUserException>(9, "authenticationToken"));
    if constexpr (requires(Result r) { r.setSystemException(nullptr); })
        out.emplace_back().setSystemException(std::make_shared<RURUSystemException>(3, "down"));
    if constexpr (requires(Result r) { r.setNotFoundException(nullptr); })
        out.emplace_back().setNotFoundException(std::make_shared<RURUNotFoundException>("Note.guid", "g"));
    out.emplace_back();
    std::vector<std::string> bytes;
    for (const Result &r : out)
        bytes.push_back(fuzz::bytesOf(r));
    return bytes;
}

#define RAVADIDO_FUZZ_RESULTS(call, Result, ...) results<Result>(),

std::string message(const std::string &call, int type, bool strict, const std::string &body)
{
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol out(buffer, 0, 0, strict, strict);
    out.writeMessageBegin(call, static_cast<apache::thrift::protocol::TMessageType>(type), 0);
    return buffer->getBufferAsString() + body;
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

    const std::vector<std::vector<std::string>> bodies = {RURU_NOTE_STORE_CALLS(RAVADIDO_FUZZ_RESULTS)};

    int n = 0;
    for (std::size_t call = 0; call < fuzz::replyCalls.size(); ++call) {
        const std::string name = fuzz::replyCalls[call].name;
        auto seed = [&](const std::string &bytes) {
            std::ofstream(dir + "/seed-" + std::to_string(n++), std::ios::binary) << static_cast<char>(call) << bytes;
        };
        for (const std::string &body : bodies[call]) {
            seed(message(name, 2, false, body));
            seed(message(name, 2, true, body));
        }
        apache::thrift::TApplicationException failure(apache::thrift::TApplicationException::INTERNAL_ERROR,
                                                      "Internal error");
        auto buffer = std::make_shared<TMemoryBuffer>();
        TBinaryProtocol out(buffer, 0, 0, false, false);
        failure.write(&out);
        seed(message(name, 3, false, buffer->getBufferAsString()));
    }
    return 0;
}
