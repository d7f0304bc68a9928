#pragma once

#include "ravadido/NoteStoreResults.h"

#include <thrift/TApplicationException.h>
#include <thrift/protocol/TProtocol.h>

#include <memory>
#include <optional>
#include <string>

namespace ravadido {

namespace detail {

// One argument of a call: written when it is a scalar, or an object that is
// not nil.
template<typename Codec>
struct CallArgument
{
    std::int16_t id;
    const char *name;
    const typename Codec::Value &value;

    void write(TProtocol &out) const
    {
        if constexpr (Codec::isObject) {
            if (!Codec::present(value))
                return;
        }
        out.writeFieldBegin(name, Codec::type, id);
        Codec::write(out, value);
        out.writeFieldEnd();
    }
};

} // namespace detail

// The NoteStore calls, one line each: the wire name, the result record, and
// per argument (codec, field id, name) in field-id order. Every call becomes
// three methods of RURUNoteStoreClient: `name(args)` which sends and
// receives, `send_name(args)` and `recv_name()`.
#define RURU_NOTE_STORE_CALLS(X)                                                                  \
    X(listNotebooks, RURUListNotebooks_result,                                                    \
      (codec::String, 1, authenticationToken))                                                    \
    X(createNotebook, RURUCreateNotebook_result,                                                  \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNotebook>, 2, notebook))        \
    X(findNotes, RURUFindNotes_result,                                                            \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNoteFilter>, 2, filter),        \
      (codec::I32, 3, offset), (codec::I32, 4, maxNotes))                                         \
    X(createNote, RURUCreateNote_result,                                                          \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNote>, 2, note))                \
    X(deleteNote, RURUDeleteNote_result,                                                          \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))

// Applies m to each (codec, id, name) triple, separated by commas.
#define RAVADIDO_CALL_APPLY(m, triple) m triple
#define RAVADIDO_CALL_EACH_1(m, a) RAVADIDO_CALL_APPLY(m, a)
#define RAVADIDO_CALL_EACH_2(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_1(m, __VA_ARGS__)
#define RAVADIDO_CALL_EACH_3(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_2(m, __VA_ARGS__)
#define RAVADIDO_CALL_EACH_4(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_3(m, __VA_ARGS__)
#define RAVADIDO_CALL_EACH_5(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_4(m, __VA_ARGS__)
#define RAVADIDO_CALL_EACH_6(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_5(m, __VA_ARGS__)
#define RAVADIDO_CALL_PICK(_1, _2, _3, _4, _5, _6, name, ...) name
#define RAVADIDO_CALL_EACH(m, ...)                                                                \
    RAVADIDO_CALL_PICK(__VA_ARGS__, RAVADIDO_CALL_EACH_6, RAVADIDO_CALL_EACH_5,                   \
                       RAVADIDO_CALL_EACH_4, RAVADIDO_CALL_EACH_3, RAVADIDO_CALL_EACH_2,          \
                       RAVADIDO_CALL_EACH_1)(m, __VA_ARGS__)

#define RAVADIDO_CALL_PARAMETER(Codec, id, name) const Codec::Value &name
#define RAVADIDO_CALL_NAME(Codec, id, name) name
#define RAVADIDO_CALL_ARGUMENT(Codec, id, name) ::ravadido::detail::CallArgument<Codec>{id, #name, name}

#define RAVADIDO_DECLARE_CALL(call, Result, ...)                                                  \
    Result::ReturnType call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__));            \
    void send_##call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__));                   \
    Result::ReturnType recv_##call();

#define RAVADIDO_DEFINE_CALL(call, Result, ...)                                                   \
    Result::ReturnType RURUNoteStoreClient::call(                                                 \
        RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__))                                 \
    {                                                                                             \
        send_##call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_NAME, __VA_ARGS__));                         \
        return recv_##call();                                                                     \
    }                                                                                             \
    void RURUNoteStoreClient::send_##call(                                                        \
        RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__))                                 \
    {                                                                                             \
        sendCall(#call, RAVADIDO_CALL_EACH(RAVADIDO_CALL_ARGUMENT, __VA_ARGS__));                 \
    }                                                                                             \
    Result::ReturnType RURUNoteStoreClient::recv_##call()                                         \
    {                                                                                             \
        return receiveCall<Result>(#call);                                                        \
    }

// The caller's side of the NoteStore service. Each call writes one CALL
// message (old-style header when the protocol is built with strict writing
// off, sequence id 0), flushes the transport (one HTTP POST for a
// ThriftHttpTransport) and reads the reply. It returns the success value, or
// throws: the declared RURU exception that the reply holds, the
// TApplicationException of an exception reply or of a reply with nothing in
// it (MISSING_RESULT, "<call> failed: unknown result"), or whatever the
// protocol and transport throw. Nothing is caught here.
//
// Synchronous; one call at a time per client.
class RURUNoteStoreClient
{
public:
    explicit RURUNoteStoreClient(std::shared_ptr<TProtocol> protocol);
    RURUNoteStoreClient(std::shared_ptr<TProtocol> inProtocol, std::shared_ptr<TProtocol> outProtocol);

    const std::shared_ptr<TProtocol> &inProtocol() const { return inProtocol_; }
    const std::shared_ptr<TProtocol> &outProtocol() const { return outProtocol_; }

    RURU_NOTE_STORE_CALLS(RAVADIDO_DECLARE_CALL)

private:
    template<typename... Arguments>
    void sendCall(const char *call, const Arguments &...arguments);
    template<typename Result>
    typename Result::ReturnType receiveCall(const char *call);

    void beginCall(const char *call);
    void endCall();
    void abandonCall();
    // Reads the message header; reads and throws an exception message.
    void beginReply();

    std::shared_ptr<TProtocol> inProtocol_;
    std::shared_ptr<TProtocol> outProtocol_;
};

template<typename... Arguments>
void RURUNoteStoreClient::sendCall(const char *call, const Arguments &...arguments)
{
    try {
        beginCall(call);
        (arguments.write(*outProtocol_), ...);
    } catch (...) {
        abandonCall();
        throw;
    }
    endCall();
}

template<typename Result>
typename Result::ReturnType RURUNoteStoreClient::receiveCall(const char *call)
{
    beginReply();
    Result result;
    result.read(*inProtocol_);
    inProtocol_->readMessageEnd();
    if constexpr (Result::hasSuccess) {
        if (result.successIsSet())
            return detail::CallReturn<typename Result::Success>::from(result.success());
        result.throwFirstSetException();
        throw apache::thrift::TApplicationException(
            apache::thrift::TApplicationException::MISSING_RESULT,
            std::string(call) + " failed: unknown result");
    } else {
        result.throwFirstSetException();
    }
}

} // namespace ravadido
