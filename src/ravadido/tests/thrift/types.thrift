// The Ravadido records as a Thrift definition, for tests and benchmarks
// only: the Thrift compiler's output is an independent implementation to
// check our wire bytes against. The records themselves are not generated.
//
// Every field is optional so that only set fields are written. Enumerated
// fields are plain i32 here: the wire does not tell them apart.

namespace cpp leafhaul.thriftgen
namespace py leafhaul_thriftgen.types

struct Tag {
  1: optional string guid,
  2: optional string name,
  3: optional string parentGuid,
  4: optional i32 updateSequenceNum
}

struct SavedSearch {
  1: optional string guid,
  2: optional string name,
  3: optional string query,
  4: optional i32 format,
  5: optional i32 updateSequenceNum
}

struct LazyMap {
  1: optional set<string> keysOnly,
  2: optional map<string, string> fullMap
}

struct Data {
  1: optional binary bodyHash,
  2: optional i32 size,
  3: optional binary body
}

struct ResourceAttributes {
  1: optional string sourceURL,
  2: optional i64 timestamp,
  3: optional double latitude,
  4: optional double longitude,
  5: optional double altitude,
  6: optional string cameraMake,
  7: optional string cameraModel,
  8: optional bool clientWillIndex,
  9: optional string recoType,
  10: optional string fileName,
  11: optional bool attachment,
  12: optional LazyMap applicationData
}

struct Resource {
  1: optional string guid,
  2: optional string noteGuid,
  3: optional Data data,
  4: optional string mime,
  5: optional i16 width,
  6: optional i16 height,
  7: optional i16 duration,
  8: optional bool active,
  9: optional Data recognition,
  11: optional ResourceAttributes attributes,
  12: optional i32 updateSequenceNum,
  13: optional Data alternateData
}

struct NoteAttributes {
  1: optional i64 subjectDate,
  10: optional double latitude,
  11: optional double longitude,
  12: optional double altitude,
  13: optional string author,
  14: optional string source,
  15: optional string sourceURL,
  16: optional string sourceApplication,
  17: optional i64 shareDate,
  21: optional string placeName,
  22: optional string contentClass,
  23: optional LazyMap applicationData,
  24: optional string lastEditedBy
}

struct Note {
  1: optional string guid,
  2: optional string title,
  3: optional string content,
  4: optional binary contentHash,
  5: optional i32 contentLength,
  6: optional i64 created,
  7: optional i64 updated,
  8: optional i64 deleted,
  9: optional bool active,
  10: optional i32 updateSequenceNum,
  11: optional string notebookGuid,
  12: optional list<string> tagGuids,
  13: optional list<Resource> resources,
  14: optional NoteAttributes attributes,
  15: optional list<string> tagNames
}

struct Publishing {
  1: optional string uri,
  2: optional i32 order,
  3: optional bool ascending,
  4: optional string publicDescription
}

// Our records write serviceUpdated (10) between 7 and 8; generated code
// writes in id order.
struct SharedNotebook {
  1: optional i64 id,
  2: optional i32 userId,
  3: optional string notebookGuid,
  4: optional string email,
  5: optional bool notebookModifiable,
  6: optional bool requireLogin,
  7: optional i64 serviceCreated,
  10: optional i64 serviceUpdated,
  8: optional string shareKey,
  9: optional string username
}

struct Notebook {
  1: optional string guid,
  2: optional string name,
  5: optional i32 updateSequenceNum,
  6: optional bool defaultNotebook,
  7: optional i64 serviceCreated,
  8: optional i64 serviceUpdated,
  10: optional Publishing publishing,
  11: optional bool published,
  12: optional string stack,
  13: optional list<i64> sharedNotebookIds,
  14: optional list<SharedNotebook> sharedNotebooks
}

struct LinkedNotebook {
  2: optional string shareName,
  3: optional string username,
  4: optional string shardId,
  5: optional string shareKey,
  6: optional string uri,
  7: optional string guid,
  8: optional i32 updateSequenceNum,
  9: optional string noteStoreUrl,
  10: optional string webApiUrlPrefix
}

struct NoteFilter {
  1: optional i32 order,
  2: optional bool ascending,
  3: optional string words,
  4: optional string notebookGuid,
  5: optional list<string> tagGuids,
  6: optional string timeZone,
  7: optional bool inactive
}

struct NoteList {
  1: optional i32 startIndex,
  2: optional i32 totalNotes,
  3: optional list<Note> notes,
  4: optional list<string> stoppedWords,
  5: optional list<string> searchedWords,
  6: optional i32 updateCount
}

exception RURUUserException {
  1: optional i32 errorCode,
  2: optional string parameter
}

exception RURUSystemException {
  1: optional i32 errorCode,
  2: optional string message
}

exception RURUNotFoundException {
  1: optional string identifier,
  2: optional string key
}
