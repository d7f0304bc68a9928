#pragma once

// The reply records of the NoteStore calls, one line each: the call's name
// with its first letter in upper case (the record is RURU<Name>_result, its
// wire name <Name>_result), the success codec (codec::None for a call that
// returns nothing), and the exceptions in the call's own order: it is their
// order on the wire and the order in which the client throws them.

#include "ravadido/CallResult.h"
#include "ravadido/Errors.h"
#include "ravadido/NoteStoreTypes.h"
#include "ravadido/Types.h"
#include "ravadido/UserStoreTypes.h"

namespace ravadido {

// clang-format off
#define RURU_NOTE_STORE_RESULTS(R)                                                                 \
    RURU_NOTE_STORE_SYNC_RESULTS(R)                                                                \
    RURU_NOTE_STORE_NOTE_RESULTS(R)                                                                \
    RURU_NOTE_STORE_RESOURCE_RESULTS(R)                                                            \
    RURU_NOTE_STORE_SHARING_RESULTS(R)
// clang-format on

// clang-format off
#define RURU_NOTE_STORE_SYNC_RESULTS(R)                                                            \
    R(GetSyncState, codec::Struct<RURUSyncState>, RURUUserException, RURUSystemException)          \
    R(GetSyncStateWithMetrics, codec::Struct<RURUSyncState>,                                       \
      RURUUserException, RURUSystemException)                                                      \
    R(GetSyncChunk, codec::Struct<RURUSyncChunk>, RURUUserException, RURUSystemException)          \
    R(GetFilteredSyncChunk, codec::Struct<RURUSyncChunk>,                                          \
      RURUUserException, RURUSystemException)                                                      \
    R(GetLinkedNotebookSyncState, codec::Struct<RURUSyncState>,                                    \
      RURUUserException, RURUSystemException, RURUNotFoundException)                               \
    R(GetLinkedNotebookSyncChunk, codec::Struct<RURUSyncChunk>,                                    \
      RURUUserException, RURUSystemException, RURUNotFoundException)                               \
    R(ListNotebooks, codec::StructList<RURUNotebook>, RURUUserException, RURUSystemException)      \
    R(GetNotebook, codec::Struct<RURUNotebook>,                                                    \
      RURUUserException, RURUSystemException, RURUNotFoundException)                               \
    R(GetDefaultNotebook, codec::Struct<RURUNotebook>, RURUUserException, RURUSystemException)     \
    R(CreateNotebook, codec::Struct<RURUNotebook>, RURUUserException, RURUSystemException)         \
    R(UpdateNotebook, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)   \
    R(ExpungeNotebook, codec::I32,                                                                 \
      RURUUserException, RURUSystemException, RURUNotFoundException)                               \
    R(ListTags, codec::StructList<RURUTag>, RURUUserException, RURUSystemException)                \
    R(ListTagsByNotebook, codec::StructList<RURUTag>,                                              \
      RURUUserException, RURUSystemException, RURUNotFoundException)                               \
    R(GetTag, codec::Struct<RURUTag>,                                                              \
      RURUUserException, RURUSystemException, RURUNotFoundException)                               \
    R(CreateTag, codec::Struct<RURUTag>,                                                           \
      RURUUserException, RURUSystemException, RURUNotFoundException)                               \
    R(UpdateTag, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)        \
    R(UntagAll, codec::None, RURUUserException, RURUSystemException, RURUNotFoundException)        \
    R(ExpungeTag, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)       \
    R(ListSearches, codec::StructList<RURUSavedSearch>, RURUUserException, RURUSystemException)    \
    R(GetSearch, codec::Struct<RURUSavedSearch>,                                                   \
      RURUUserException, RURUSystemException, RURUNotFoundException)                               \
    R(CreateSearch, codec::Struct<RURUSavedSearch>, RURUUserException, RURUSystemException)        \
    R(UpdateSearch, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)     \
    R(ExpungeSearch, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)
// clang-format on

#define RURU_NOTE_STORE_NOTE_RESULTS(R)                                                                          \
    R(FindNotes, codec::Struct<RURUNoteList>, RURUUserException, RURUSystemException, RURUNotFoundException)     \
    R(FindNoteOffset, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)                 \
    R(FindNotesMetadata, codec::Struct<RURUNotesMetadataList>, RURUUserException, RURUSystemException,           \
      RURUNotFoundException)                                                                                     \
    R(FindNoteCounts, codec::Struct<RURUNoteCollectionCounts>, RURUUserException, RURUSystemException,           \
      RURUNotFoundException)                                                                                     \
    R(GetNote, codec::Struct<RURUNote>, RURUUserException, RURUSystemException, RURUNotFoundException)           \
    R(GetNoteApplicationData, codec::Struct<RURULazyMap>, RURUUserException, RURUSystemException,                \
      RURUNotFoundException)                                                                                     \
    R(GetNoteApplicationDataEntry, codec::String, RURUUserException, RURUSystemException, RURUNotFoundException) \
    R(SetNoteApplicationDataEntry, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)    \
    R(UnsetNoteApplicationDataEntry, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)  \
    R(GetNoteContent, codec::String, RURUUserException, RURUSystemException, RURUNotFoundException)              \
    R(GetNoteSearchText, codec::String, RURUUserException, RURUSystemException, RURUNotFoundException)           \
    R(GetResourceSearchText, codec::String, RURUUserException, RURUSystemException, RURUNotFoundException)       \
    R(GetNoteTagNames, codec::StringList, RURUUserException, RURUSystemException, RURUNotFoundException)         \
    R(CreateNote, codec::Struct<RURUNote>, RURUUserException, RURUSystemException, RURUNotFoundException)        \
    R(UpdateNote, codec::Struct<RURUNote>, RURUUserException, RURUSystemException, RURUNotFoundException)        \
    R(DeleteNote, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)                     \
    R(ExpungeNote, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)                    \
    R(ExpungeNotes, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)                   \
    R(ExpungeInactiveNotes, codec::I32, RURUUserException, RURUSystemException)                                  \
    R(CopyNote, codec::Struct<RURUNote>, RURUUserException, RURUSystemException, RURUNotFoundException)          \
    R(ListNoteVersions, codec::StructList<RURUNoteVersionId>, RURUUserException, RURUSystemException,            \
      RURUNotFoundException)                                                                                     \
    R(GetNoteVersion, codec::Struct<RURUNote>, RURUUserException, RURUSystemException, RURUNotFoundException)

#define RURU_NOTE_STORE_RESOURCE_RESULTS(R)                                                                          \
    R(GetResource, codec::Struct<RURUResource>, RURUUserException, RURUSystemException, RURUNotFoundException)       \
    R(GetResourceApplicationData, codec::Struct<RURULazyMap>, RURUUserException, RURUSystemException,                \
      RURUNotFoundException)                                                                                         \
    R(GetResourceApplicationDataEntry, codec::String, RURUUserException, RURUSystemException, RURUNotFoundException) \
    R(SetResourceApplicationDataEntry, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)    \
    R(UnsetResourceApplicationDataEntry, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)  \
    R(UpdateResource, codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException)                     \
    R(GetResourceData, codec::Binary, RURUUserException, RURUSystemException, RURUNotFoundException)                 \
    R(GetResourceByHash, codec::Struct<RURUResource>, RURUUserException, RURUSystemException, RURUNotFoundException) \
    R(GetResourceRecognition, codec::Binary, RURUUserException, RURUSystemException, RURUNotFoundException)          \
    R(GetResourceAlternateData, codec::Binary, RURUUserException, RURUSystemException, RURUNotFoundException)        \
    R(GetResourceAttributes, codec::Struct<RURUResourceAttributes>, RURUUserException, RURUSystemException,          \
      RURUNotFoundException)                                                                                         \
    R(GetAccountSize, codec::I64, RURUUserException, RURUSystemException)                                            \
    R(GetAds, codec::StructList<RURUAd>, RURUUserException, RURUSystemException)                                     \
    R(GetRandomAd, codec::Struct<RURUAd>, RURUUserException, RURUSystemException)

#define RURU_NOTE_STORE_SHARING_RESULTS(R)                                                                             \
    R(GetPublicNotebook, codec::Struct<RURUNotebook>, RURUSystemException, RURUNotFoundException)                      \
    R(CreateSharedNotebook, codec::Struct<RURUSharedNotebook>, RURUUserException, RURUNotFoundException,               \
      RURUSystemException)                                                                                             \
    R(SendMessageToSharedNotebookMembers, codec::I32, RURUUserException, RURUNotFoundException, RURUSystemException)   \
    R(ListSharedNotebooks, codec::StructList<RURUSharedNotebook>, RURUUserException, RURUNotFoundException,            \
      RURUSystemException)                                                                                             \
    R(ExpungeSharedNotebooks, codec::I32, RURUUserException, RURUNotFoundException, RURUSystemException)               \
    R(CreateLinkedNotebook, codec::Struct<RURULinkedNotebook>, RURUUserException, RURUNotFoundException,               \
      RURUSystemException)                                                                                             \
    R(UpdateLinkedNotebook, codec::I32, RURUUserException, RURUNotFoundException, RURUSystemException)                 \
    R(ListLinkedNotebooks, codec::StructList<RURULinkedNotebook>, RURUUserException, RURUNotFoundException,            \
      RURUSystemException)                                                                                             \
    R(ExpungeLinkedNotebook, codec::I32, RURUUserException, RURUNotFoundException, RURUSystemException)                \
    R(AuthenticateToSharedNotebook, codec::Struct<RURUAuthenticationResult>, RURUUserException, RURUNotFoundException, \
      RURUSystemException)                                                                                             \
    R(GetSharedNotebookByAuth, codec::Struct<RURUSharedNotebook>, RURUUserException, RURUNotFoundException,            \
      RURUSystemException)                                                                                             \
    R(EmailNote, codec::None, RURUUserException, RURUNotFoundException, RURUSystemException)                           \
    R(ShareNote, codec::String, RURUUserException, RURUNotFoundException, RURUSystemException)                         \
    R(StopSharingNote, codec::None, RURUUserException, RURUNotFoundException, RURUSystemException)                     \
    R(AuthenticateToSharedNote, codec::Struct<RURUAuthenticationResult>, RURUUserException, RURUNotFoundException,     \
      RURUSystemException)                                                                                             \
    R(FindRelated, codec::Struct<RURURelatedResult>, RURUUserException, RURUSystemException, RURUNotFoundException)

#define RAVADIDO_DEFINE_CALL_RESULT(Name, ...) template class CallResult<#Name "_result", __VA_ARGS__>;

#define RAVADIDO_DECLARE_CALL_RESULT(Name, ...)                           \
    using RURU##Name##_result = CallResult<#Name "_result", __VA_ARGS__>; \
    extern template class CallResult<#Name "_result", __VA_ARGS__>;

// Each record is instantiated once, in the NoteStoreResults*.cpp files: 76
// tables are too many to build again in every file that includes this one,
// and too many for one file.
RURU_NOTE_STORE_RESULTS(RAVADIDO_DECLARE_CALL_RESULT)

} // namespace ravadido
