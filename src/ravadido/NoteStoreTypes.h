#pragma once

// The NoteStore's own records: the query and the answer of a note search,
// synchronisation, note summaries and counts, ads, e-mail, note versions,
// usage figures and related content.

#include "Types.h"

namespace ravadido {

// ---- Note search ---------------------------------------------------------------

// clang-format off
#define RURU_NOTE_FILTER_FIELDS(X)                                                                \
    X(1, order, Order, codec::I32)                                                                \
    X(2, ascending, Ascending, codec::Bool)                                                       \
    X(3, words, Words, codec::String)                                                             \
    X(4, notebookGuid, NotebookGuid, codec::String)                                               \
    X(5, tagGuids, TagGuids, codec::StringList)                                                   \
    X(6, timeZone, TimeZone, codec::String)                                                       \
    X(7, inactive, Inactive, codec::Bool)
// clang-format on

// clang-format off
#define RURU_NOTE_LIST_FIELDS(X)                                                                  \
    X(1, startIndex, StartIndex, codec::I32)                                                      \
    X(2, totalNotes, TotalNotes, codec::I32)                                                      \
    X(3, notes, Notes, codec::StructList<RURUNote>)                                               \
    X(4, stoppedWords, StoppedWords, codec::StringList)                                           \
    X(5, searchedWords, SearchedWords, codec::StringList)                                         \
    X(6, updateCount, UpdateCount, codec::I32)
// clang-format on

// ---- Synchronisation -------------------------------------------------------------

// clang-format off
#define RURU_SYNC_STATE_FIELDS(X)                                                                 \
    X(1, currentTime, CurrentTime, codec::I64)                                                    \
    X(2, fullSyncBefore, FullSyncBefore, codec::I64)                                              \
    X(3, updateCount, UpdateCount, codec::I32)                                                    \
    X(4, uploaded, Uploaded, codec::I64)
// clang-format on

// clang-format off
#define RURU_SYNC_CHUNK_FIELDS(X)                                                                 \
    X(1, currentTime, CurrentTime, codec::I64)                                                    \
    X(2, chunkHighUSN, ChunkHighUSN, codec::I32)                                                  \
    X(3, updateCount, UpdateCount, codec::I32)                                                    \
    X(4, notes, Notes, codec::StructList<RURUNote>)                                               \
    X(5, notebooks, Notebooks, codec::StructList<RURUNotebook>)                                   \
    X(6, tags, Tags, codec::StructList<RURUTag>)                                                  \
    X(7, searches, Searches, codec::StructList<RURUSavedSearch>)                                  \
    X(8, resources, Resources, codec::StructList<RURUResource>)                                   \
    X(9, expungedNotes, ExpungedNotes, codec::StringList)                                         \
    X(10, expungedNotebooks, ExpungedNotebooks, codec::StringList)                                \
    X(11, expungedTags, ExpungedTags, codec::StringList)                                          \
    X(12, expungedSearches, ExpungedSearches, codec::StringList)                                  \
    X(13, linkedNotebooks, LinkedNotebooks, codec::StructList<RURULinkedNotebook>)                \
    X(14, expungedLinkedNotebooks, ExpungedLinkedNotebooks, codec::StringList)
// clang-format on

// requireNoteContentClass (11) is declared, and so written, after ids 12 and 13.
// clang-format off
#define RURU_SYNC_CHUNK_FILTER_FIELDS(X)                                                          \
    X(1, includeNotes, IncludeNotes, codec::Bool)                                                 \
    X(2, includeNoteResources, IncludeNoteResources, codec::Bool)                                 \
    X(3, includeNoteAttributes, IncludeNoteAttributes, codec::Bool)                               \
    X(4, includeNotebooks, IncludeNotebooks, codec::Bool)                                         \
    X(5, includeTags, IncludeTags, codec::Bool)                                                   \
    X(6, includeSearches, IncludeSearches, codec::Bool)                                           \
    X(7, includeResources, IncludeResources, codec::Bool)                                         \
    X(8, includeLinkedNotebooks, IncludeLinkedNotebooks, codec::Bool)                             \
    X(9, includeExpunged, IncludeExpunged, codec::Bool)                                           \
    X(10, includeNoteApplicationDataFullMap, IncludeNoteApplicationDataFullMap, codec::Bool)      \
    X(12, includeResourceApplicationDataFullMap, IncludeResourceApplicationDataFullMap,           \
      codec::Bool)                                                                                \
    X(13, includeNoteResourceApplicationDataFullMap, IncludeNoteResourceApplicationDataFullMap,   \
      codec::Bool)                                                                                \
    X(11, requireNoteContentClass, RequireNoteContentClass, codec::String)
// clang-format on

// ---- Note summaries and counts ---------------------------------------------------
// A summary's ids are those of the like-named note fields; each flag of the
// result spec has the id of the summary field it asks for.

// clang-format off
#define RURU_NOTE_METADATA_FIELDS(X)                                                              \
    X(1, guid, Guid, codec::String)                                                               \
    X(2, title, Title, codec::String)                                                             \
    X(5, contentLength, ContentLength, codec::I32)                                                \
    X(6, created, Created, codec::I64)                                                            \
    X(7, updated, Updated, codec::I64)                                                            \
    X(10, updateSequenceNum, UpdateSequenceNum, codec::I32)                                       \
    X(11, notebookGuid, NotebookGuid, codec::String)                                              \
    X(12, tagGuids, TagGuids, codec::StringList)                                                  \
    X(14, attributes, Attributes, codec::Struct<RURUNoteAttributes>)                              \
    X(20, largestResourceMime, LargestResourceMime, codec::String)                                \
    X(21, largestResourceSize, LargestResourceSize, codec::I32)
// clang-format on

// clang-format off
#define RURU_NOTES_METADATA_RESULT_SPEC_FIELDS(X)                                                 \
    X(2, includeTitle, IncludeTitle, codec::Bool)                                                 \
    X(5, includeContentLength, IncludeContentLength, codec::Bool)                                 \
    X(6, includeCreated, IncludeCreated, codec::Bool)                                             \
    X(7, includeUpdated, IncludeUpdated, codec::Bool)                                             \
    X(10, includeUpdateSequenceNum, IncludeUpdateSequenceNum, codec::Bool)                        \
    X(11, includeNotebookGuid, IncludeNotebookGuid, codec::Bool)                                  \
    X(12, includeTagGuids, IncludeTagGuids, codec::Bool)                                          \
    X(14, includeAttributes, IncludeAttributes, codec::Bool)                                      \
    X(20, includeLargestResourceMime, IncludeLargestResourceMime, codec::Bool)                    \
    X(21, includeLargestResourceSize, IncludeLargestResourceSize, codec::Bool)
// clang-format on

// clang-format off
#define RURU_NOTES_METADATA_LIST_FIELDS(X)                                                        \
    X(1, startIndex, StartIndex, codec::I32)                                                      \
    X(2, totalNotes, TotalNotes, codec::I32)                                                      \
    X(3, notes, Notes, codec::StructList<RURUNoteMetadata>)                                       \
    X(4, stoppedWords, StoppedWords, codec::StringList)                                           \
    X(5, searchedWords, SearchedWords, codec::StringList)                                         \
    X(6, updateCount, UpdateCount, codec::I32)
// clang-format on

// Counts are 32-bit on the wire and so in memory: a count the wire cannot
// carry cannot be put in.
// clang-format off
#define RURU_NOTE_COLLECTION_COUNTS_FIELDS(X)                                                     \
    X(1, notebookCounts, NotebookCounts, codec::StringI32Map)                                     \
    X(2, tagCounts, TagCounts, codec::StringI32Map)                                               \
    X(3, trashCount, TrashCount, codec::I32)
// clang-format on

// ---- Ads, e-mail, versions and usage ---------------------------------------------

// clang-format off
#define RURU_AD_IMPRESSIONS_FIELDS(X)                                                             \
    X(1, adId, AdId, codec::I32)                                                                  \
    X(2, impressionCount, ImpressionCount, codec::I32)                                            \
    X(3, impressionTime, ImpressionTime, codec::I32)
// clang-format on

// Ids 1 and 3 are not used.
// clang-format off
#define RURU_AD_PARAMETERS_FIELDS(X)                                                              \
    X(2, clientLanguage, ClientLanguage, codec::String)                                           \
    X(4, impressions, Impressions, codec::StructList<RURUAdImpressions>)                          \
    X(5, supportHtml, SupportHtml, codec::Bool)                                                   \
    X(6, clientProperties, ClientProperties, codec::StringMap)
// clang-format on

// clang-format off
#define RURU_NOTE_EMAIL_PARAMETERS_FIELDS(X)                                                      \
    X(1, guid, Guid, codec::String)                                                               \
    X(2, note, Note, codec::Struct<RURUNote>)                                                     \
    X(3, toAddresses, ToAddresses, codec::StringList)                                             \
    X(4, ccAddresses, CcAddresses, codec::StringList)                                             \
    X(5, subject, Subject, codec::String)                                                         \
    X(6, message, Message, codec::String)
// clang-format on

// clang-format off
#define RURU_NOTE_VERSION_ID_FIELDS(X)                                                            \
    X(1, updateSequenceNum, UpdateSequenceNum, codec::I32)                                        \
    X(2, updated, Updated, codec::I64)                                                            \
    X(3, saved, Saved, codec::I64)                                                                \
    X(4, title, Title, codec::String)
// clang-format on

#define RURU_CLIENT_USAGE_METRICS_FIELDS(X) X(1, sessions, Sessions, codec::I32)

// ---- Related content -------------------------------------------------------------

// clang-format off
#define RURU_RELATED_QUERY_FIELDS(X)                                                              \
    X(1, noteGuid, NoteGuid, codec::String)                                                       \
    X(2, plainText, PlainText, codec::String)
// clang-format on

// clang-format off
#define RURU_RELATED_RESULT_SPEC_FIELDS(X)                                                        \
    X(1, maxNotes, MaxNotes, codec::I32)                                                          \
    X(2, maxNotebooks, MaxNotebooks, codec::I32)                                                  \
    X(3, maxTags, MaxTags, codec::I32)
// clang-format on

// clang-format off
#define RURU_RELATED_RESULT_FIELDS(X)                                                             \
    X(1, notes, Notes, codec::StructList<RURUNote>)                                               \
    X(2, notebooks, Notebooks, codec::StructList<RURUNotebook>)                                   \
    X(3, tags, Tags, codec::StructList<RURUTag>)
// clang-format on

// The records of this header, each after the records it holds.
// clang-format off
#define RURU_NOTE_STORE_TYPES_RECORDS(R)                                                          \
    R(RURUNoteFilter, "NoteFilter", RURU_NOTE_FILTER_FIELDS)                                      \
    R(RURUNoteList, "NoteList", RURU_NOTE_LIST_FIELDS)                                            \
    R(RURUSyncState, "SyncState", RURU_SYNC_STATE_FIELDS)                                         \
    R(RURUSyncChunk, "SyncChunk", RURU_SYNC_CHUNK_FIELDS)                                         \
    R(RURUSyncChunkFilter, "SyncChunkFilter", RURU_SYNC_CHUNK_FILTER_FIELDS)                      \
    R(RURUNoteMetadata, "NoteMetadata", RURU_NOTE_METADATA_FIELDS)                                \
    R(RURUNotesMetadataResultSpec, "NotesMetadataResultSpec", RURU_NOTES_METADATA_RESULT_SPEC_FIELDS) \
    R(RURUNotesMetadataList, "NotesMetadataList", RURU_NOTES_METADATA_LIST_FIELDS)                \
    R(RURUNoteCollectionCounts, "NoteCollectionCounts", RURU_NOTE_COLLECTION_COUNTS_FIELDS)       \
    R(RURUAdImpressions, "AdImpressions", RURU_AD_IMPRESSIONS_FIELDS)                             \
    R(RURUAdParameters, "AdParameters", RURU_AD_PARAMETERS_FIELDS)                                \
    R(RURUNoteEmailParameters, "NoteEmailParameters", RURU_NOTE_EMAIL_PARAMETERS_FIELDS)          \
    R(RURUNoteVersionId, "NoteVersionId", RURU_NOTE_VERSION_ID_FIELDS)                            \
    R(RURUClientUsageMetrics, "ClientUsageMetrics", RURU_CLIENT_USAGE_METRICS_FIELDS)             \
    R(RURURelatedQuery, "RelatedQuery", RURU_RELATED_QUERY_FIELDS)                                \
    R(RURURelatedResultSpec, "RelatedResultSpec", RURU_RELATED_RESULT_SPEC_FIELDS)                \
    R(RURURelatedResult, "RelatedResult", RURU_RELATED_RESULT_FIELDS)
// clang-format on

RURU_NOTE_STORE_TYPES_RECORDS(RAVADIDO_DECLARE_RECORD)

// The NoteStore declares no constants of its own.
class RURUNoteStoreConstants
{
};

} // namespace ravadido
