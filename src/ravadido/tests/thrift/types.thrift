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

// Ids 8 and 10 are not used.
struct UserAttributes {
  1: optional string defaultLocationName,
  2: optional double defaultLatitude,
  3: optional double defaultLongitude,
  4: optional bool preactivation,
  5: optional list<string> viewedPromotions,
  6: optional string incomingEmailAddress,
  7: optional list<string> recentMailedAddresses,
  9: optional string comments,
  11: optional i64 dateAgreedToTermsOfService,
  12: optional i32 maxReferrals,
  13: optional i32 referralCount,
  14: optional string refererCode,
  15: optional i64 sentEmailDate,
  16: optional i32 sentEmailCount,
  17: optional i32 dailyEmailLimit,
  18: optional i64 emailOptOutDate,
  19: optional i64 partnerEmailOptInDate,
  20: optional string preferredLanguage,
  21: optional string preferredCountry,
  22: optional bool clipFullPage,
  23: optional string twitterUserName,
  24: optional string twitterId,
  25: optional string groupName,
  26: optional string recognitionLanguage,
  27: optional i64 customerProfileId,
  28: optional string referralProof,
  29: optional bool educationalDiscount,
  30: optional string businessAddress,
  31: optional bool hideSponsorBilling
}

// Id 15 is not used.
struct Accounting {
  1: optional i64 uploadLimit,
  2: optional i64 uploadLimitEnd,
  3: optional i64 uploadLimitNextMonth,
  4: optional i32 premiumServiceStatus,
  5: optional string premiumOrderNumber,
  6: optional string premiumCommerceService,
  7: optional i64 premiumServiceStart,
  8: optional string premiumServiceSKU,
  9: optional i64 lastSuccessfulCharge,
  10: optional i64 lastFailedCharge,
  11: optional string lastFailedChargeReason,
  12: optional i64 nextPaymentDue,
  13: optional i64 premiumLockUntil,
  14: optional i64 updated,
  16: optional string premiumSubscriptionNumber,
  17: optional i64 lastRequestedCharge,
  18: optional string currency,
  19: optional i32 unitPrice
}

// Ids 5, 8 and 12 are not used.
struct User {
  1: optional i32 id,
  2: optional string username,
  3: optional string email,
  4: optional string name,
  6: optional string timezone,
  7: optional i32 privilege,
  9: optional i64 created,
  10: optional i64 updated,
  11: optional i64 deleted,
  13: optional bool active,
  14: optional string shardId,
  15: optional UserAttributes attributes,
  16: optional Accounting accounting
}

struct Ad {
  1: optional i32 id,
  2: optional i16 width,
  3: optional i16 height,
  4: optional string advertiserName,
  5: optional string imageUrl,
  6: optional string destinationUrl,
  7: optional i16 displaySeconds,
  8: optional double score,
  9: optional binary image,
  10: optional string imageMime,
  11: optional string html,
  12: optional double displayFrequency,
  13: optional bool openInTrunk
}

// Our record reads none of these and keeps whatever struct it is given;
// any definition that matches the samples will do.
struct PublicUserInfo {
  1: optional i32 userId,
  2: optional string shardId
}

struct AuthenticationResult {
  1: optional i64 currentTime,
  2: optional string authenticationToken,
  3: optional i64 expiration,
  4: optional User user,
  5: optional PublicUserInfo publicUserInfo,
  6: optional string noteStoreUrl
}

struct SyncState {
  1: optional i64 currentTime,
  2: optional i64 fullSyncBefore,
  3: optional i32 updateCount,
  4: optional i64 uploaded
}

struct SyncChunk {
  1: optional i64 currentTime,
  2: optional i32 chunkHighUSN,
  3: optional i32 updateCount,
  4: optional list<Note> notes,
  5: optional list<Notebook> notebooks,
  6: optional list<Tag> tags,
  7: optional list<SavedSearch> searches,
  8: optional list<Resource> resources,
  9: optional list<string> expungedNotes,
  10: optional list<string> expungedNotebooks,
  11: optional list<string> expungedTags,
  12: optional list<string> expungedSearches,
  13: optional list<LinkedNotebook> linkedNotebooks,
  14: optional list<string> expungedLinkedNotebooks
}

// Our record writes requireNoteContentClass (11) after 12 and 13.
struct SyncChunkFilter {
  1: optional bool includeNotes,
  2: optional bool includeNoteResources,
  3: optional bool includeNoteAttributes,
  4: optional bool includeNotebooks,
  5: optional bool includeTags,
  6: optional bool includeSearches,
  7: optional bool includeResources,
  8: optional bool includeLinkedNotebooks,
  9: optional bool includeExpunged,
  10: optional bool includeNoteApplicationDataFullMap,
  12: optional bool includeResourceApplicationDataFullMap,
  13: optional bool includeNoteResourceApplicationDataFullMap,
  11: optional string requireNoteContentClass
}

struct NoteMetadata {
  1: optional string guid,
  2: optional string title,
  5: optional i32 contentLength,
  6: optional i64 created,
  7: optional i64 updated,
  10: optional i32 updateSequenceNum,
  11: optional string notebookGuid,
  12: optional list<string> tagGuids,
  14: optional NoteAttributes attributes,
  20: optional string largestResourceMime,
  21: optional i32 largestResourceSize
}

// Each flag has the id of the summary field it asks for.
struct NotesMetadataResultSpec {
  2: optional bool includeTitle,
  5: optional bool includeContentLength,
  6: optional bool includeCreated,
  7: optional bool includeUpdated,
  10: optional bool includeUpdateSequenceNum,
  11: optional bool includeNotebookGuid,
  12: optional bool includeTagGuids,
  14: optional bool includeAttributes,
  20: optional bool includeLargestResourceMime,
  21: optional bool includeLargestResourceSize
}

struct NotesMetadataList {
  1: optional i32 startIndex,
  2: optional i32 totalNotes,
  3: optional list<NoteMetadata> notes,
  4: optional list<string> stoppedWords,
  5: optional list<string> searchedWords,
  6: optional i32 updateCount
}

struct NoteCollectionCounts {
  1: optional map<string, i32> notebookCounts,
  2: optional map<string, i32> tagCounts,
  3: optional i32 trashCount
}

struct AdImpressions {
  1: optional i32 adId,
  2: optional i32 impressionCount,
  3: optional i32 impressionTime
}

// Ids 1 and 3 are not used.
struct AdParameters {
  2: optional string clientLanguage,
  4: optional list<AdImpressions> impressions,
  5: optional bool supportHtml,
  6: optional map<string, string> clientProperties
}

struct NoteEmailParameters {
  1: optional string guid,
  2: optional Note note,
  3: optional list<string> toAddresses,
  4: optional list<string> ccAddresses,
  5: optional string subject,
  6: optional string message
}

struct NoteVersionId {
  1: optional i32 updateSequenceNum,
  2: optional i64 updated,
  3: optional i64 saved,
  4: optional string title
}

struct ClientUsageMetrics {
  1: optional i32 sessions
}

struct RelatedQuery {
  1: optional string noteGuid,
  2: optional string plainText
}

struct RelatedResultSpec {
  1: optional i32 maxNotes,
  2: optional i32 maxNotebooks,
  3: optional i32 maxTags
}

struct RelatedResult {
  1: optional list<Note> notes,
  2: optional list<Notebook> notebooks,
  3: optional list<Tag> tags
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
