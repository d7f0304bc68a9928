// Every NoteStore call, with its declared exceptions in the call's own
// order. Test-only: the fake NoteStore and the call cross-check are generated
// from it.
namespace py ruru_notestore

include "types.thrift"

service NoteStore {
  types.SyncState getSyncState(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.SyncState getSyncStateWithMetrics(
      1: string authenticationToken,
      2: types.ClientUsageMetrics clientMetrics)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.SyncChunk getSyncChunk(
      1: string authenticationToken,
      2: i32 afterUSN,
      3: i32 maxEntries,
      4: bool fullSyncOnly)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.SyncChunk getFilteredSyncChunk(
      1: string authenticationToken,
      2: i32 afterUSN,
      3: i32 maxEntries,
      4: types.SyncChunkFilter filter)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.SyncState getLinkedNotebookSyncState(
      1: string authenticationToken,
      2: types.LinkedNotebook linkedNotebook)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.SyncChunk getLinkedNotebookSyncChunk(
      1: string authenticationToken,
      2: types.LinkedNotebook linkedNotebook,
      3: i32 afterUSN,
      4: i32 maxEntries,
      5: bool fullSyncOnly)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  list<types.Notebook> listNotebooks(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.Notebook getNotebook(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Notebook getDefaultNotebook(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.Notebook createNotebook(1: string authenticationToken, 2: types.Notebook notebook)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  i32 updateNotebook(1: string authenticationToken, 2: types.Notebook notebook)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 expungeNotebook(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  list<types.Tag> listTags(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  list<types.Tag> listTagsByNotebook(1: string authenticationToken, 2: string notebookGuid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Tag getTag(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Tag createTag(1: string authenticationToken, 2: types.Tag tag)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 updateTag(1: string authenticationToken, 2: types.Tag tag)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  void untagAll(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 expungeTag(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  list<types.SavedSearch> listSearches(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.SavedSearch getSearch(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.SavedSearch createSearch(1: string authenticationToken, 2: types.SavedSearch search)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  i32 updateSearch(1: string authenticationToken, 2: types.SavedSearch search)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 expungeSearch(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.NoteList findNotes(
      1: string authenticationToken,
      2: types.NoteFilter filter,
      3: i32 offset,
      4: i32 maxNotes)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 findNoteOffset(1: string authenticationToken, 2: types.NoteFilter filter, 3: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.NotesMetadataList findNotesMetadata(
      1: string authenticationToken,
      2: types.NoteFilter filter,
      3: i32 offset,
      4: i32 maxNotes,
      5: types.NotesMetadataResultSpec resultSpec)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.NoteCollectionCounts findNoteCounts(
      1: string authenticationToken,
      2: types.NoteFilter filter,
      3: bool withTrash)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Note getNote(
      1: string authenticationToken,
      2: string guid,
      3: bool withContent,
      4: bool withResourcesData,
      5: bool withResourcesRecognition,
      6: bool withResourcesAlternateData)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.LazyMap getNoteApplicationData(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  string getNoteApplicationDataEntry(1: string authenticationToken, 2: string guid, 3: string key)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 setNoteApplicationDataEntry(
      1: string authenticationToken,
      2: string guid,
      3: string key,
      4: string value)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 unsetNoteApplicationDataEntry(1: string authenticationToken, 2: string guid, 3: string key)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  string getNoteContent(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  string getNoteSearchText(
      1: string authenticationToken,
      2: string guid,
      3: bool noteOnly,
      4: bool tokenizeForIndexing)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  string getResourceSearchText(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  list<string> getNoteTagNames(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Note createNote(1: string authenticationToken, 2: types.Note note)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Note updateNote(1: string authenticationToken, 2: types.Note note)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 deleteNote(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 expungeNote(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 expungeNotes(1: string authenticationToken, 2: list<string> noteGuids)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 expungeInactiveNotes(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.Note copyNote(1: string authenticationToken, 2: string noteGuid, 3: string toNotebookGuid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  list<types.NoteVersionId> listNoteVersions(1: string authenticationToken, 2: string noteGuid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Note getNoteVersion(
      1: string authenticationToken,
      2: string noteGuid,
      3: i32 updateSequenceNum,
      4: bool withResourcesData,
      5: bool withResourcesRecognition,
      6: bool withResourcesAlternateData)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Resource getResource(
      1: string authenticationToken,
      2: string guid,
      3: bool withData,
      4: bool withRecognition,
      5: bool withAttributes,
      6: bool withAlternateData)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.LazyMap getResourceApplicationData(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  string getResourceApplicationDataEntry(
      1: string authenticationToken,
      2: string guid,
      3: string key)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 setResourceApplicationDataEntry(
      1: string authenticationToken,
      2: string guid,
      3: string key,
      4: string value)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 unsetResourceApplicationDataEntry(
      1: string authenticationToken,
      2: string guid,
      3: string key)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 updateResource(1: string authenticationToken, 2: types.Resource resource)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  binary getResourceData(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Resource getResourceByHash(
      1: string authenticationToken,
      2: string noteGuid,
      3: binary contentHash,
      4: bool withData,
      5: bool withRecognition,
      6: bool withAlternateData)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  binary getResourceRecognition(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  binary getResourceAlternateData(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.ResourceAttributes getResourceAttributes(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i64 getAccountSize(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  list<types.Ad> getAds(1: string authenticationToken, 2: types.AdParameters adParameters)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.Ad getRandomAd(1: string authenticationToken, 2: types.AdParameters adParameters)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.Notebook getPublicNotebook(1: i32 userId, 2: string publicUri)
    throws (1: types.RURUSystemException systemException,
            2: types.RURUNotFoundException notFoundException),

  types.SharedNotebook createSharedNotebook(
      1: string authenticationToken,
      2: types.SharedNotebook sharedNotebook)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  i32 sendMessageToSharedNotebookMembers(
      1: string authenticationToken,
      2: string notebookGuid,
      3: string messageText,
      4: list<string> recipients)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  list<types.SharedNotebook> listSharedNotebooks(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  i32 expungeSharedNotebooks(1: string authenticationToken, 2: list<i64> sharedNotebookIds)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  types.LinkedNotebook createLinkedNotebook(
      1: string authenticationToken,
      2: types.LinkedNotebook linkedNotebook)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  i32 updateLinkedNotebook(1: string authenticationToken, 2: types.LinkedNotebook linkedNotebook)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  list<types.LinkedNotebook> listLinkedNotebooks(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  i32 expungeLinkedNotebook(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  types.AuthenticationResult authenticateToSharedNotebook(
      1: string shareKey,
      2: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  types.SharedNotebook getSharedNotebookByAuth(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  void emailNote(1: string authenticationToken, 2: types.NoteEmailParameters parameters)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  string shareNote(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  void stopSharingNote(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  types.AuthenticationResult authenticateToSharedNote(1: string guid, 2: string noteKey)
    throws (1: types.RURUUserException userException,
            2: types.RURUNotFoundException notFoundException,
            3: types.RURUSystemException systemException),

  types.RelatedResult findRelated(
      1: string authenticationToken,
      2: types.RelatedQuery query,
      3: types.RelatedResultSpec resultSpec)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),
}
