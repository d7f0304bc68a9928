// Writes the reply fuzzer's seeds into the first folder given, and makes the
// second (its working corpus): for each call, replies with its success value
// (from the sample records), with each of its exceptions, with nothing, and
// an exception message; old-style and strict headers.

#include "ReplyCalls.h"
#include "../tests/RecordSamples.h"

#include <thrift/TApplicationException.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstring>
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

template<typename R>
std::shared_ptr<R> sample()
{
    for (const auto &s : samples::fullySet())
        if (std::strcmp(s.record->layout().wireName(), R::recordLayout.wireName()) == 0)
            return std::static_pointer_cast<R>(s.record);
    return std::make_shared<R>();
}

template<typename Result>
std::vector<Result> results(typename Result::SuccessValue success)
{
    std::vector<Result> out(5);
    out[0].setSuccess(std::move(success));
    auto user = std::make_shared<RURUUserException>();
    user->setErrorCode(9);
    user->setParameter("authenticationToken");
    out[1].setUserException(user);
    auto system = std::make_shared<RURUSystemException>();
    system->setErrorCode(3);
    system->setMessage("down");
    out[2].setSystemException(system);
    if constexpr (requires(Result r) { r.setNotFoundException(nullptr); }) {
        auto notFound = std::make_shared<RURUNotFoundException>();
        notFound->setIdentifier("Note.guid");
        notFound->setKey("g");
        out[3].setNotFoundException(notFound);
    }
    return out; // out[4] (and out[3] without not-found) stays empty
}

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

    std::vector<std::vector<std::string>> bodies(fuzz::replyCalls.size());
    auto add = [&](std::size_t call, const auto &list) {
        for (const auto &r : list)
            bodies[call].push_back(fuzz::bytesOf(r));
    };
    add(0, results<RURUListNotebooks_result>(
               std::vector<std::shared_ptr<RURUNotebook>>{sample<RURUNotebook>(), sample<RURUNotebook>()}));
    add(1, results<RURUCreateNotebook_result>(sample<RURUNotebook>()));
    add(2, results<RURUFindNotes_result>(sample<RURUNoteList>()));
    add(3, results<RURUCreateNote_result>(samples::fullNote()));
    add(4, results<RURUDeleteNote_result>(7));

    int n = 0;
    for (std::size_t call = 0; call < fuzz::replyCalls.size(); ++call) {
        const std::string name = fuzz::replyCalls[call].name;
        auto seed = [&](const std::string &bytes) {
            std::ofstream(dir + "/seed-" + std::to_string(n++), std::ios::binary)
                << static_cast<char>(call) << bytes;
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
