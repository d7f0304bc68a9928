#pragma once

// The reply records of the NoteStore calls. Each call's exceptions are listed
// in the call's own order: it is their order on the wire and the order in
// which the client throws them.

#include "ravadido/CallResult.h"
#include "ravadido/Errors.h"
#include "ravadido/NoteStoreTypes.h"
#include "ravadido/Types.h"
#include "ravadido/UserStoreTypes.h"

namespace ravadido {

using RURUGetSyncState_result = CallResult<"GetSyncState_result", codec::Struct<RURUSyncState>,
    RURUUserException, RURUSystemException>;
using RURUGetSyncStateWithMetrics_result = CallResult<"GetSyncStateWithMetrics_result",
    codec::Struct<RURUSyncState>, RURUUserException, RURUSystemException>;
using RURUGetSyncChunk_result = CallResult<"GetSyncChunk_result", codec::Struct<RURUSyncChunk>,
    RURUUserException, RURUSystemException>;
using RURUGetFilteredSyncChunk_result = CallResult<"GetFilteredSyncChunk_result",
    codec::Struct<RURUSyncChunk>, RURUUserException, RURUSystemException>;
using RURUGetLinkedNotebookSyncState_result = CallResult<"GetLinkedNotebookSyncState_result",
    codec::Struct<RURUSyncState>, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetLinkedNotebookSyncChunk_result = CallResult<"GetLinkedNotebookSyncChunk_result",
    codec::Struct<RURUSyncChunk>, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUListNotebooks_result = CallResult<"ListNotebooks_result", codec::StructList<RURUNotebook>,
    RURUUserException, RURUSystemException>;
using RURUGetNotebook_result = CallResult<"GetNotebook_result", codec::Struct<RURUNotebook>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetDefaultNotebook_result = CallResult<"GetDefaultNotebook_result", codec::Struct<RURUNotebook>,
    RURUUserException, RURUSystemException>;
using RURUCreateNotebook_result = CallResult<"CreateNotebook_result", codec::Struct<RURUNotebook>,
    RURUUserException, RURUSystemException>;
using RURUUpdateNotebook_result = CallResult<"UpdateNotebook_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUExpungeNotebook_result = CallResult<"ExpungeNotebook_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUListTags_result = CallResult<"ListTags_result", codec::StructList<RURUTag>,
    RURUUserException, RURUSystemException>;
using RURUListTagsByNotebook_result = CallResult<"ListTagsByNotebook_result", codec::StructList<RURUTag>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetTag_result = CallResult<"GetTag_result", codec::Struct<RURUTag>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUCreateTag_result = CallResult<"CreateTag_result", codec::Struct<RURUTag>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUUpdateTag_result = CallResult<"UpdateTag_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUUntagAll_result = CallResult<"UntagAll_result", codec::None,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUExpungeTag_result = CallResult<"ExpungeTag_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUListSearches_result = CallResult<"ListSearches_result", codec::StructList<RURUSavedSearch>,
    RURUUserException, RURUSystemException>;
using RURUGetSearch_result = CallResult<"GetSearch_result", codec::Struct<RURUSavedSearch>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUCreateSearch_result = CallResult<"CreateSearch_result", codec::Struct<RURUSavedSearch>,
    RURUUserException, RURUSystemException>;
using RURUUpdateSearch_result = CallResult<"UpdateSearch_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUExpungeSearch_result = CallResult<"ExpungeSearch_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUFindNotes_result = CallResult<"FindNotes_result", codec::Struct<RURUNoteList>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUFindNoteOffset_result = CallResult<"FindNoteOffset_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUFindNotesMetadata_result = CallResult<"FindNotesMetadata_result",
    codec::Struct<RURUNotesMetadataList>, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUFindNoteCounts_result = CallResult<"FindNoteCounts_result", codec::Struct<RURUNoteCollectionCounts>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetNote_result = CallResult<"GetNote_result", codec::Struct<RURUNote>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetNoteApplicationData_result = CallResult<"GetNoteApplicationData_result",
    codec::Struct<RURULazyMap>, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetNoteApplicationDataEntry_result = CallResult<"GetNoteApplicationDataEntry_result", codec::String,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUSetNoteApplicationDataEntry_result = CallResult<"SetNoteApplicationDataEntry_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUUnsetNoteApplicationDataEntry_result = CallResult<"UnsetNoteApplicationDataEntry_result",
    codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetNoteContent_result = CallResult<"GetNoteContent_result", codec::String,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetNoteSearchText_result = CallResult<"GetNoteSearchText_result", codec::String,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetResourceSearchText_result = CallResult<"GetResourceSearchText_result", codec::String,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetNoteTagNames_result = CallResult<"GetNoteTagNames_result", codec::StringList,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUCreateNote_result = CallResult<"CreateNote_result", codec::Struct<RURUNote>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUUpdateNote_result = CallResult<"UpdateNote_result", codec::Struct<RURUNote>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUDeleteNote_result = CallResult<"DeleteNote_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUExpungeNote_result = CallResult<"ExpungeNote_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUExpungeNotes_result = CallResult<"ExpungeNotes_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUExpungeInactiveNotes_result = CallResult<"ExpungeInactiveNotes_result", codec::I32,
    RURUUserException, RURUSystemException>;
using RURUCopyNote_result = CallResult<"CopyNote_result", codec::Struct<RURUNote>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUListNoteVersions_result = CallResult<"ListNoteVersions_result",
    codec::StructList<RURUNoteVersionId>, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetNoteVersion_result = CallResult<"GetNoteVersion_result", codec::Struct<RURUNote>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetResource_result = CallResult<"GetResource_result", codec::Struct<RURUResource>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetResourceApplicationData_result = CallResult<"GetResourceApplicationData_result",
    codec::Struct<RURULazyMap>, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetResourceApplicationDataEntry_result = CallResult<"GetResourceApplicationDataEntry_result",
    codec::String, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUSetResourceApplicationDataEntry_result = CallResult<"SetResourceApplicationDataEntry_result",
    codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUUnsetResourceApplicationDataEntry_result = CallResult<"UnsetResourceApplicationDataEntry_result",
    codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUUpdateResource_result = CallResult<"UpdateResource_result", codec::I32,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetResourceData_result = CallResult<"GetResourceData_result", codec::Binary,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetResourceByHash_result = CallResult<"GetResourceByHash_result", codec::Struct<RURUResource>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetResourceRecognition_result = CallResult<"GetResourceRecognition_result", codec::Binary,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetResourceAlternateData_result = CallResult<"GetResourceAlternateData_result", codec::Binary,
    RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetResourceAttributes_result = CallResult<"GetResourceAttributes_result",
    codec::Struct<RURUResourceAttributes>, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUGetAccountSize_result = CallResult<"GetAccountSize_result", codec::I64,
    RURUUserException, RURUSystemException>;
using RURUGetAds_result = CallResult<"GetAds_result", codec::StructList<RURUAd>,
    RURUUserException, RURUSystemException>;
using RURUGetRandomAd_result = CallResult<"GetRandomAd_result", codec::Struct<RURUAd>,
    RURUUserException, RURUSystemException>;
using RURUGetPublicNotebook_result = CallResult<"GetPublicNotebook_result", codec::Struct<RURUNotebook>,
    RURUSystemException, RURUNotFoundException>;
using RURUCreateSharedNotebook_result = CallResult<"CreateSharedNotebook_result",
    codec::Struct<RURUSharedNotebook>, RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUSendMessageToSharedNotebookMembers_result = CallResult<"SendMessageToSharedNotebookMembers_result",
    codec::I32, RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUListSharedNotebooks_result = CallResult<"ListSharedNotebooks_result",
    codec::StructList<RURUSharedNotebook>, RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUExpungeSharedNotebooks_result = CallResult<"ExpungeSharedNotebooks_result", codec::I32,
    RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUCreateLinkedNotebook_result = CallResult<"CreateLinkedNotebook_result",
    codec::Struct<RURULinkedNotebook>, RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUUpdateLinkedNotebook_result = CallResult<"UpdateLinkedNotebook_result", codec::I32,
    RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUListLinkedNotebooks_result = CallResult<"ListLinkedNotebooks_result",
    codec::StructList<RURULinkedNotebook>, RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUExpungeLinkedNotebook_result = CallResult<"ExpungeLinkedNotebook_result", codec::I32,
    RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUAuthenticateToSharedNotebook_result = CallResult<"AuthenticateToSharedNotebook_result",
    codec::Struct<RURUAuthenticationResult>, RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUGetSharedNotebookByAuth_result = CallResult<"GetSharedNotebookByAuth_result",
    codec::Struct<RURUSharedNotebook>, RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUEmailNote_result = CallResult<"EmailNote_result", codec::None,
    RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUShareNote_result = CallResult<"ShareNote_result", codec::String,
    RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUStopSharingNote_result = CallResult<"StopSharingNote_result", codec::None,
    RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUAuthenticateToSharedNote_result = CallResult<"AuthenticateToSharedNote_result",
    codec::Struct<RURUAuthenticationResult>, RURUUserException, RURUNotFoundException, RURUSystemException>;
using RURUFindRelated_result = CallResult<"FindRelated_result", codec::Struct<RURURelatedResult>,
    RURUUserException, RURUSystemException, RURUNotFoundException>;

} // namespace ravadido
