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

// The NoteStore calls, one line each, in the service's order: the wire name,
// the result record, and per argument (codec, field id, name) in field-id
// order. Every call becomes a pure virtual method of RURUNoteStore and three
// methods of RURUNoteStoreClient: `name(args)` which sends and receives,
// `send_name(args)` and `recv_name()`. Arguments are written as the codec
// says: a scalar always, an object when it is not nil.
// clang-format off
#define RURU_NOTE_STORE_CALLS(X)                                                                  \
    X(getSyncState, RURUGetSyncState_result,                                                      \
      (codec::String, 1, authenticationToken))                                                    \
    X(getSyncStateWithMetrics, RURUGetSyncStateWithMetrics_result,                                \
      (codec::String, 1, authenticationToken),                                                    \
      (codec::Struct<RURUClientUsageMetrics>, 2, clientMetrics))                                  \
    X(getSyncChunk, RURUGetSyncChunk_result,                                                      \
      (codec::String, 1, authenticationToken), (codec::I32, 2, afterUSN),                         \
      (codec::I32, 3, maxEntries), (codec::Bool, 4, fullSyncOnly))                                \
    X(getFilteredSyncChunk, RURUGetFilteredSyncChunk_result,                                      \
      (codec::String, 1, authenticationToken), (codec::I32, 2, afterUSN),                         \
      (codec::I32, 3, maxEntries), (codec::Struct<RURUSyncChunkFilter>, 4, filter))               \
    X(getLinkedNotebookSyncState, RURUGetLinkedNotebookSyncState_result,                          \
      (codec::String, 1, authenticationToken),                                                    \
      (codec::Struct<RURULinkedNotebook>, 2, linkedNotebook))                                     \
    X(getLinkedNotebookSyncChunk, RURUGetLinkedNotebookSyncChunk_result,                          \
      (codec::String, 1, authenticationToken),                                                    \
      (codec::Struct<RURULinkedNotebook>, 2, linkedNotebook), (codec::I32, 3, afterUSN),          \
      (codec::I32, 4, maxEntries), (codec::Bool, 5, fullSyncOnly))                                \
    X(listNotebooks, RURUListNotebooks_result,                                                    \
      (codec::String, 1, authenticationToken))                                                    \
    X(getNotebook, RURUGetNotebook_result,                                                        \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(getDefaultNotebook, RURUGetDefaultNotebook_result,                                          \
      (codec::String, 1, authenticationToken))                                                    \
    X(createNotebook, RURUCreateNotebook_result,                                                  \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNotebook>, 2, notebook))        \
    X(updateNotebook, RURUUpdateNotebook_result,                                                  \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNotebook>, 2, notebook))        \
    X(expungeNotebook, RURUExpungeNotebook_result,                                                \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(listTags, RURUListTags_result,                                                              \
      (codec::String, 1, authenticationToken))                                                    \
    X(listTagsByNotebook, RURUListTagsByNotebook_result,                                          \
      (codec::String, 1, authenticationToken), (codec::String, 2, notebookGuid))                  \
    X(getTag, RURUGetTag_result,                                                                  \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(createTag, RURUCreateTag_result,                                                            \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUTag>, 2, tag))                  \
    X(updateTag, RURUUpdateTag_result,                                                            \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUTag>, 2, tag))                  \
    X(untagAll, RURUUntagAll_result,                                                              \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(expungeTag, RURUExpungeTag_result,                                                          \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(listSearches, RURUListSearches_result,                                                      \
      (codec::String, 1, authenticationToken))                                                    \
    X(getSearch, RURUGetSearch_result,                                                            \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(createSearch, RURUCreateSearch_result,                                                      \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUSavedSearch>, 2, search))       \
    X(updateSearch, RURUUpdateSearch_result,                                                      \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUSavedSearch>, 2, search))       \
    X(expungeSearch, RURUExpungeSearch_result,                                                    \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(findNotes, RURUFindNotes_result,                                                            \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNoteFilter>, 2, filter),        \
      (codec::I32, 3, offset), (codec::I32, 4, maxNotes))                                         \
    X(findNoteOffset, RURUFindNoteOffset_result,                                                  \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNoteFilter>, 2, filter),        \
      (codec::String, 3, guid))                                                                   \
    X(findNotesMetadata, RURUFindNotesMetadata_result,                                            \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNoteFilter>, 2, filter),        \
      (codec::I32, 3, offset), (codec::I32, 4, maxNotes),                                         \
      (codec::Struct<RURUNotesMetadataResultSpec>, 5, resultSpec))                                \
    X(findNoteCounts, RURUFindNoteCounts_result,                                                  \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNoteFilter>, 2, filter),        \
      (codec::Bool, 3, withTrash))                                                                \
    X(getNote, RURUGetNote_result,                                                                \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid),                          \
      (codec::Bool, 3, withContent), (codec::Bool, 4, withResourcesData),                         \
      (codec::Bool, 5, withResourcesRecognition), (codec::Bool, 6, withResourcesAlternateData))   \
    X(getNoteApplicationData, RURUGetNoteApplicationData_result,                                  \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(getNoteApplicationDataEntry, RURUGetNoteApplicationDataEntry_result,                        \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid), (codec::String, 3, key)) \
    X(setNoteApplicationDataEntry, RURUSetNoteApplicationDataEntry_result,                        \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid), (codec::String, 3, key), \
      (codec::String, 4, value))                                                                  \
    X(unsetNoteApplicationDataEntry, RURUUnsetNoteApplicationDataEntry_result,                    \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid), (codec::String, 3, key)) \
    X(getNoteContent, RURUGetNoteContent_result,                                                  \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(getNoteSearchText, RURUGetNoteSearchText_result,                                            \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid),                          \
      (codec::Bool, 3, noteOnly), (codec::Bool, 4, tokenizeForIndexing))                         \
    X(getResourceSearchText, RURUGetResourceSearchText_result,                                    \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(getNoteTagNames, RURUGetNoteTagNames_result,                                                \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(createNote, RURUCreateNote_result,                                                          \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNote>, 2, note))                \
    X(updateNote, RURUUpdateNote_result,                                                          \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUNote>, 2, note))                \
    X(deleteNote, RURUDeleteNote_result,                                                          \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(expungeNote, RURUExpungeNote_result,                                                        \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(expungeNotes, RURUExpungeNotes_result,                                                      \
      (codec::String, 1, authenticationToken), (codec::StringList, 2, noteGuids))                 \
    X(expungeInactiveNotes, RURUExpungeInactiveNotes_result,                                      \
      (codec::String, 1, authenticationToken))                                                    \
    X(copyNote, RURUCopyNote_result,                                                              \
      (codec::String, 1, authenticationToken), (codec::String, 2, noteGuid),                      \
      (codec::String, 3, toNotebookGuid))                                                         \
    X(listNoteVersions, RURUListNoteVersions_result,                                              \
      (codec::String, 1, authenticationToken), (codec::String, 2, noteGuid))                      \
    X(getNoteVersion, RURUGetNoteVersion_result,                                                  \
      (codec::String, 1, authenticationToken), (codec::String, 2, noteGuid),                      \
      (codec::I32, 3, updateSequenceNum), (codec::Bool, 4, withResourcesData),                    \
      (codec::Bool, 5, withResourcesRecognition), (codec::Bool, 6, withResourcesAlternateData))   \
    X(getResource, RURUGetResource_result,                                                        \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid),                          \
      (codec::Bool, 3, withData), (codec::Bool, 4, withRecognition),                              \
      (codec::Bool, 5, withAttributes), (codec::Bool, 6, withAlternateData))                      \
    X(getResourceApplicationData, RURUGetResourceApplicationData_result,                          \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(getResourceApplicationDataEntry, RURUGetResourceApplicationDataEntry_result,                \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid), (codec::String, 3, key)) \
    X(setResourceApplicationDataEntry, RURUSetResourceApplicationDataEntry_result,                \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid), (codec::String, 3, key), \
      (codec::String, 4, value))                                                                  \
    X(unsetResourceApplicationDataEntry, RURUUnsetResourceApplicationDataEntry_result,            \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid), (codec::String, 3, key)) \
    X(updateResource, RURUUpdateResource_result,                                                  \
      (codec::String, 1, authenticationToken), (codec::Struct<RURUResource>, 2, resource))        \
    X(getResourceData, RURUGetResourceData_result,                                                \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(getResourceByHash, RURUGetResourceByHash_result,                                            \
      (codec::String, 1, authenticationToken), (codec::String, 2, noteGuid),                      \
      (codec::Binary, 3, contentHash), (codec::Bool, 4, withData),                                \
      (codec::Bool, 5, withRecognition), (codec::Bool, 6, withAlternateData))                     \
    X(getResourceRecognition, RURUGetResourceRecognition_result,                                  \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(getResourceAlternateData, RURUGetResourceAlternateData_result,                              \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(getResourceAttributes, RURUGetResourceAttributes_result,                                    \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(getAccountSize, RURUGetAccountSize_result,                                                  \
      (codec::String, 1, authenticationToken))                                                    \
    X(getAds, RURUGetAds_result,                                                                  \
      (codec::String, 1, authenticationToken),                                                    \
      (codec::Struct<RURUAdParameters>, 2, adParameters))                                         \
    X(getRandomAd, RURUGetRandomAd_result,                                                        \
      (codec::String, 1, authenticationToken),                                                    \
      (codec::Struct<RURUAdParameters>, 2, adParameters))                                         \
    X(getPublicNotebook, RURUGetPublicNotebook_result,                                            \
      (codec::I32, 1, userId), (codec::String, 2, publicUri))                                     \
    X(createSharedNotebook, RURUCreateSharedNotebook_result,                                      \
      (codec::String, 1, authenticationToken),                                                    \
      (codec::Struct<RURUSharedNotebook>, 2, sharedNotebook))                                     \
    X(sendMessageToSharedNotebookMembers, RURUSendMessageToSharedNotebookMembers_result,          \
      (codec::String, 1, authenticationToken), (codec::String, 2, notebookGuid),                  \
      (codec::String, 3, messageText), (codec::StringList, 4, recipients))                        \
    X(listSharedNotebooks, RURUListSharedNotebooks_result,                                        \
      (codec::String, 1, authenticationToken))                                                    \
    X(expungeSharedNotebooks, RURUExpungeSharedNotebooks_result,                                  \
      (codec::String, 1, authenticationToken), (codec::I64List, 2, sharedNotebookIds))            \
    X(createLinkedNotebook, RURUCreateLinkedNotebook_result,                                      \
      (codec::String, 1, authenticationToken),                                                    \
      (codec::Struct<RURULinkedNotebook>, 2, linkedNotebook))                                     \
    X(updateLinkedNotebook, RURUUpdateLinkedNotebook_result,                                      \
      (codec::String, 1, authenticationToken),                                                    \
      (codec::Struct<RURULinkedNotebook>, 2, linkedNotebook))                                     \
    X(listLinkedNotebooks, RURUListLinkedNotebooks_result,                                        \
      (codec::String, 1, authenticationToken))                                                    \
    X(expungeLinkedNotebook, RURUExpungeLinkedNotebook_result,                                    \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(authenticateToSharedNotebook, RURUAuthenticateToSharedNotebook_result,                      \
      (codec::String, 1, shareKey), (codec::String, 2, authenticationToken))                      \
    X(getSharedNotebookByAuth, RURUGetSharedNotebookByAuth_result,                                \
      (codec::String, 1, authenticationToken))                                                    \
    X(emailNote, RURUEmailNote_result,                                                            \
      (codec::String, 1, authenticationToken),                                                    \
      (codec::Struct<RURUNoteEmailParameters>, 2, parameters))                                    \
    X(shareNote, RURUShareNote_result,                                                            \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(stopSharingNote, RURUStopSharingNote_result,                                                \
      (codec::String, 1, authenticationToken), (codec::String, 2, guid))                          \
    X(authenticateToSharedNote, RURUAuthenticateToSharedNote_result,                              \
      (codec::String, 1, guid), (codec::String, 2, noteKey))                                      \
    X(findRelated, RURUFindRelated_result,                                                        \
      (codec::String, 1, authenticationToken), (codec::Struct<RURURelatedQuery>, 2, query),       \
      (codec::Struct<RURURelatedResultSpec>, 3, resultSpec))
// clang-format on

// Applies m to each (codec, id, name) triple, separated by commas.
#define RAVADIDO_CALL_APPLY(m, triple) m triple
#define RAVADIDO_CALL_EACH_1(m, a) RAVADIDO_CALL_APPLY(m, a)
#define RAVADIDO_CALL_EACH_2(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_1(m, __VA_ARGS__)
#define RAVADIDO_CALL_EACH_3(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_2(m, __VA_ARGS__)
#define RAVADIDO_CALL_EACH_4(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_3(m, __VA_ARGS__)
#define RAVADIDO_CALL_EACH_5(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_4(m, __VA_ARGS__)
#define RAVADIDO_CALL_EACH_6(m, a, ...) RAVADIDO_CALL_APPLY(m, a), RAVADIDO_CALL_EACH_5(m, __VA_ARGS__)
#define RAVADIDO_CALL_PICK(_1, _2, _3, _4, _5, _6, name, ...) name
#define RAVADIDO_CALL_EACH(m, ...)                                                                    \
    RAVADIDO_CALL_PICK(__VA_ARGS__, RAVADIDO_CALL_EACH_6, RAVADIDO_CALL_EACH_5, RAVADIDO_CALL_EACH_4, \
                       RAVADIDO_CALL_EACH_3, RAVADIDO_CALL_EACH_2, RAVADIDO_CALL_EACH_1)              \
    (m, __VA_ARGS__)

#define RAVADIDO_CALL_PARAMETER(Codec, id, name) const Codec::Value &name
#define RAVADIDO_CALL_NAME(Codec, id, name) name
#define RAVADIDO_CALL_ARGUMENT(Codec, id, name) \
    ::ravadido::detail::CallArgument<Codec>     \
    {                                           \
        id, #name, name                         \
    }

#define RAVADIDO_DECLARE_ABSTRACT_CALL(call, Result, ...) \
    virtual Result::ReturnType call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__)) = 0;

#define RAVADIDO_DECLARE_CALL(call, Result, ...)                                                \
    Result::ReturnType call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__)) override; \
    void send_##call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__));                 \
    Result::ReturnType recv_##call();

#define RAVADIDO_DEFINE_CALL(call, Result, ...)                                                            \
    Result::ReturnType RURUNoteStoreClient::call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__)) \
    {                                                                                                      \
        send_##call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_NAME, __VA_ARGS__));                                  \
        return recv_##call();                                                                              \
    }                                                                                                      \
    void RURUNoteStoreClient::send_##call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__))        \
    {                                                                                                      \
        sendCall(#call, RAVADIDO_CALL_EACH(RAVADIDO_CALL_ARGUMENT, __VA_ARGS__));                          \
    }                                                                                                      \
    Result::ReturnType RURUNoteStoreClient::recv_##call()                                                  \
    {                                                                                                      \
        return receiveCall<Result>(#call);                                                                 \
    }

// The NoteStore service: every call, as the caller sees it. The client is
// its one implementation here; a handler of incoming calls would be another.
class RURUNoteStore
{
public:
    virtual ~RURUNoteStore() = default;

    RURU_NOTE_STORE_CALLS(RAVADIDO_DECLARE_ABSTRACT_CALL)
};

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
class RURUNoteStoreClient final : public RURUNoteStore
{
public:
    explicit RURUNoteStoreClient(std::shared_ptr<TProtocol> protocol);
    RURUNoteStoreClient(std::shared_ptr<TProtocol> inProtocol, std::shared_ptr<TProtocol> outProtocol);

    const std::shared_ptr<TProtocol> &inProtocol() const { return m_inProtocol; }
    const std::shared_ptr<TProtocol> &outProtocol() const { return m_outProtocol; }

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

    std::shared_ptr<TProtocol> m_inProtocol;
    std::shared_ptr<TProtocol> m_outProtocol;
};

template<typename... Arguments>
void RURUNoteStoreClient::sendCall(const char *call, const Arguments &...arguments)
{
    try {
        beginCall(call);
        (arguments.write(*m_outProtocol), ...);
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
    result.read(*m_inProtocol);
    m_inProtocol->readMessageEnd();
    if constexpr (Result::hasSuccess) {
        if (result.successIsSet())
            return detail::CallReturn<typename Result::Success>::from(result.success());
        result.throwFirstSetException();
        throw apache::thrift::TApplicationException(apache::thrift::TApplicationException::MISSING_RESULT,
                                                    std::string(call) + " failed: unknown result");
    } else {
        result.throwFirstSetException();
    }
}

} // namespace ravadido
