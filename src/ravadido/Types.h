#pragma once

// The records of the Ravadido data model: notes and their attachments,
// notebooks and their sharing, tags, saved searches, application data,
// users and ads.

#include "Record.h"

namespace ravadido {

// ---- Tags, saved searches, application data --------------------------------

// clang-format off
#define RURU_TAG_FIELDS(X)                                                                        \
    X(1, guid, Guid, codec::String)                                                               \
    X(2, name, Name, codec::String)                                                               \
    X(3, parentGuid, ParentGuid, codec::String)                                                   \
    X(4, updateSequenceNum, UpdateSequenceNum, codec::I32)
// clang-format on

// clang-format off
#define RURU_SAVED_SEARCH_FIELDS(X)                                                               \
    X(1, guid, Guid, codec::String)                                                               \
    X(2, name, Name, codec::String)                                                               \
    X(3, query, Query, codec::String)                                                             \
    X(4, format, Format, codec::EnumI32)                                                          \
    X(5, updateSequenceNum, UpdateSequenceNum, codec::I32)
// clang-format on

// clang-format off
#define RURU_LAZY_MAP_FIELDS(X)                                                                   \
    X(1, keysOnly, KeysOnly, codec::StringSet)                                                    \
    X(2, fullMap, FullMap, codec::StringMap)
// clang-format on

// ---- Notes and resources -----------------------------------------------------

// clang-format off
#define RURU_DATA_FIELDS(X)                                                                       \
    X(1, bodyHash, BodyHash, codec::Binary)                                                       \
    X(2, size, Size, codec::I32)                                                                  \
    X(3, body, Body, codec::Binary)
// clang-format on

// clang-format off
#define RURU_RESOURCE_ATTRIBUTES_FIELDS(X)                                                        \
    X(1, sourceURL, SourceURL, codec::String)                                                     \
    X(2, timestamp, Timestamp, codec::I64)                                                        \
    X(3, latitude, Latitude, codec::Double)                                                       \
    X(4, longitude, Longitude, codec::Double)                                                     \
    X(5, altitude, Altitude, codec::Double)                                                       \
    X(6, cameraMake, CameraMake, codec::String)                                                   \
    X(7, cameraModel, CameraModel, codec::String)                                                 \
    X(8, clientWillIndex, ClientWillIndex, codec::Bool)                                           \
    X(9, recoType, RecoType, codec::String)                                                       \
    X(10, fileName, FileName, codec::String)                                                      \
    X(11, attachment, Attachment, codec::Bool)                                                    \
    X(12, applicationData, ApplicationData, codec::Struct<RURULazyMap>)
// clang-format on

// clang-format off
#define RURU_RESOURCE_FIELDS(X)                                                                   \
    X(1, guid, Guid, codec::String)                                                               \
    X(2, noteGuid, NoteGuid, codec::String)                                                       \
    X(3, data, Data, codec::Struct<RURUData>)                                                     \
    X(4, mime, Mime, codec::String)                                                               \
    X(5, width, Width, codec::I16)                                                                \
    X(6, height, Height, codec::I16)                                                              \
    X(7, duration, Duration, codec::I16)                                                          \
    X(8, active, Active, codec::Bool)                                                             \
    X(9, recognition, Recognition, codec::Struct<RURUData>)                                       \
    X(11, attributes, Attributes, codec::Struct<RURUResourceAttributes>)                          \
    X(12, updateSequenceNum, UpdateSequenceNum, codec::I32)                                       \
    X(13, alternateData, AlternateData, codec::Struct<RURUData>)
// clang-format on

// clang-format off
#define RURU_NOTE_ATTRIBUTES_FIELDS(X)                                                            \
    X(1, subjectDate, SubjectDate, codec::I64)                                                    \
    X(10, latitude, Latitude, codec::Double)                                                      \
    X(11, longitude, Longitude, codec::Double)                                                    \
    X(12, altitude, Altitude, codec::Double)                                                      \
    X(13, author, Author, codec::String)                                                          \
    X(14, source, Source, codec::String)                                                          \
    X(15, sourceURL, SourceURL, codec::String)                                                    \
    X(16, sourceApplication, SourceApplication, codec::String)                                    \
    X(17, shareDate, ShareDate, codec::I64)                                                       \
    X(21, placeName, PlaceName, codec::String)                                                    \
    X(22, contentClass, ContentClass, codec::String)                                              \
    X(23, applicationData, ApplicationData, codec::Struct<RURULazyMap>)                           \
    X(24, lastEditedBy, LastEditedBy, codec::String)
// clang-format on

// clang-format off
#define RURU_NOTE_FIELDS(X)                                                                       \
    X(1, guid, Guid, codec::String)                                                               \
    X(2, title, Title, codec::String)                                                             \
    X(3, content, Content, codec::String)                                                         \
    X(4, contentHash, ContentHash, codec::Binary)                                                 \
    X(5, contentLength, ContentLength, codec::I32)                                                \
    X(6, created, Created, codec::I64)                                                            \
    X(7, updated, Updated, codec::I64)                                                            \
    X(8, deleted, Deleted, codec::I64)                                                            \
    X(9, active, Active, codec::Bool)                                                             \
    X(10, updateSequenceNum, UpdateSequenceNum, codec::I32)                                       \
    X(11, notebookGuid, NotebookGuid, codec::String)                                              \
    X(12, tagGuids, TagGuids, codec::StringList)                                                  \
    X(13, resources, Resources, codec::StructList<RURUResource>)                                  \
    X(14, attributes, Attributes, codec::Struct<RURUNoteAttributes>)                              \
    X(15, tagNames, TagNames, codec::StringList)
// clang-format on

// ---- Notebooks and sharing --------------------------------------------------

// clang-format off
#define RURU_PUBLISHING_FIELDS(X)                                                                 \
    X(1, uri, Uri, codec::String)                                                                 \
    X(2, order, Order, codec::EnumI32)                                                            \
    X(3, ascending, Ascending, codec::Bool)                                                       \
    X(4, publicDescription, PublicDescription, codec::String)
// clang-format on

// serviceUpdated (10) is declared, and so written, before ids 8 and 9.
// clang-format off
#define RURU_SHARED_NOTEBOOK_FIELDS(X)                                                            \
    X(1, id, Id, codec::I64)                                                                      \
    X(2, userId, UserId, codec::I32)                                                              \
    X(3, notebookGuid, NotebookGuid, codec::String)                                               \
    X(4, email, Email, codec::String)                                                             \
    X(5, notebookModifiable, NotebookModifiable, codec::Bool)                                     \
    X(6, requireLogin, RequireLogin, codec::Bool)                                                 \
    X(7, serviceCreated, ServiceCreated, codec::I64)                                              \
    X(10, serviceUpdated, ServiceUpdated, codec::I64)                                             \
    X(8, shareKey, ShareKey, codec::String)                                                       \
    X(9, username, Username, codec::String)
// clang-format on

// clang-format off
#define RURU_NOTEBOOK_FIELDS(X)                                                                   \
    X(1, guid, Guid, codec::String)                                                               \
    X(2, name, Name, codec::String)                                                               \
    X(5, updateSequenceNum, UpdateSequenceNum, codec::I32)                                        \
    X(6, defaultNotebook, DefaultNotebook, codec::Bool)                                           \
    X(7, serviceCreated, ServiceCreated, codec::I64)                                              \
    X(8, serviceUpdated, ServiceUpdated, codec::I64)                                              \
    X(10, publishing, Publishing, codec::Struct<RURUPublishing>)                                  \
    X(11, published, Published, codec::Bool)                                                      \
    X(12, stack, Stack, codec::String)                                                            \
    X(13, sharedNotebookIds, SharedNotebookIds, codec::I64List)                                   \
    X(14, sharedNotebooks, SharedNotebooks, codec::StructList<RURUSharedNotebook>)
// clang-format on

// clang-format off
#define RURU_LINKED_NOTEBOOK_FIELDS(X)                                                            \
    X(2, shareName, ShareName, codec::String)                                                     \
    X(3, username, Username, codec::String)                                                       \
    X(4, shardId, ShardId, codec::String)                                                         \
    X(5, shareKey, ShareKey, codec::String)                                                       \
    X(6, uri, Uri, codec::String)                                                                 \
    X(7, guid, Guid, codec::String)                                                               \
    X(8, updateSequenceNum, UpdateSequenceNum, codec::I32)                                        \
    X(9, noteStoreUrl, NoteStoreUrl, codec::String)                                               \
    X(10, webApiUrlPrefix, WebApiUrlPrefix, codec::String)
// clang-format on

// ---- Users and accounting ----------------------------------------------------
// The application never looks inside these: they reach it only nested in
// replies. Ids 8 and 10 of UserAttributes, 15 of Accounting and 5, 8 and 12
// of User are not used.

// clang-format off
#define RURU_USER_ATTRIBUTES_FIELDS(X)                                                            \
    X(1, defaultLocationName, DefaultLocationName, codec::String)                                 \
    X(2, defaultLatitude, DefaultLatitude, codec::Double)                                         \
    X(3, defaultLongitude, DefaultLongitude, codec::Double)                                       \
    X(4, preactivation, Preactivation, codec::Bool)                                               \
    X(5, viewedPromotions, ViewedPromotions, codec::StringList)                                   \
    X(6, incomingEmailAddress, IncomingEmailAddress, codec::String)                               \
    X(7, recentMailedAddresses, RecentMailedAddresses, codec::StringList)                         \
    X(9, comments, Comments, codec::String)                                                       \
    X(11, dateAgreedToTermsOfService, DateAgreedToTermsOfService, codec::I64)                     \
    X(12, maxReferrals, MaxReferrals, codec::I32)                                                 \
    X(13, referralCount, ReferralCount, codec::I32)                                               \
    X(14, refererCode, RefererCode, codec::String)                                                \
    X(15, sentEmailDate, SentEmailDate, codec::I64)                                               \
    X(16, sentEmailCount, SentEmailCount, codec::I32)                                             \
    X(17, dailyEmailLimit, DailyEmailLimit, codec::I32)                                           \
    X(18, emailOptOutDate, EmailOptOutDate, codec::I64)                                           \
    X(19, partnerEmailOptInDate, PartnerEmailOptInDate, codec::I64)                               \
    X(20, preferredLanguage, PreferredLanguage, codec::String)                                    \
    X(21, preferredCountry, PreferredCountry, codec::String)                                      \
    X(22, clipFullPage, ClipFullPage, codec::Bool)                                                \
    X(23, twitterUserName, TwitterUserName, codec::String)                                        \
    X(24, twitterId, TwitterId, codec::String)                                                    \
    X(25, groupName, GroupName, codec::String)                                                    \
    X(26, recognitionLanguage, RecognitionLanguage, codec::String)                                \
    X(27, customerProfileId, CustomerProfileId, codec::I64)                                       \
    X(28, referralProof, ReferralProof, codec::String)                                            \
    X(29, educationalDiscount, EducationalDiscount, codec::Bool)                                  \
    X(30, businessAddress, BusinessAddress, codec::String)                                        \
    X(31, hideSponsorBilling, HideSponsorBilling, codec::Bool)
// clang-format on

// clang-format off
#define RURU_ACCOUNTING_FIELDS(X)                                                                 \
    X(1, uploadLimit, UploadLimit, codec::I64)                                                    \
    X(2, uploadLimitEnd, UploadLimitEnd, codec::I64)                                              \
    X(3, uploadLimitNextMonth, UploadLimitNextMonth, codec::I64)                                  \
    X(4, premiumServiceStatus, PremiumServiceStatus, codec::EnumI32)                              \
    X(5, premiumOrderNumber, PremiumOrderNumber, codec::String)                                   \
    X(6, premiumCommerceService, PremiumCommerceService, codec::String)                           \
    X(7, premiumServiceStart, PremiumServiceStart, codec::I64)                                    \
    X(8, premiumServiceSKU, PremiumServiceSKU, codec::String)                                     \
    X(9, lastSuccessfulCharge, LastSuccessfulCharge, codec::I64)                                  \
    X(10, lastFailedCharge, LastFailedCharge, codec::I64)                                         \
    X(11, lastFailedChargeReason, LastFailedChargeReason, codec::String)                          \
    X(12, nextPaymentDue, NextPaymentDue, codec::I64)                                             \
    X(13, premiumLockUntil, PremiumLockUntil, codec::I64)                                         \
    X(14, updated, Updated, codec::I64)                                                           \
    X(16, premiumSubscriptionNumber, PremiumSubscriptionNumber, codec::String)                    \
    X(17, lastRequestedCharge, LastRequestedCharge, codec::I64)                                   \
    X(18, currency, Currency, codec::String)                                                      \
    X(19, unitPrice, UnitPrice, codec::I32)
// clang-format on

// clang-format off
#define RURU_USER_FIELDS(X)                                                                       \
    X(1, id, Id, codec::I32)                                                                      \
    X(2, username, Username, codec::String)                                                       \
    X(3, email, Email, codec::String)                                                             \
    X(4, name, Name, codec::String)                                                               \
    X(6, timezone, Timezone, codec::String)                                                       \
    X(7, privilege, Privilege, codec::EnumI32)                                                    \
    X(9, created, Created, codec::I64)                                                            \
    X(10, updated, Updated, codec::I64)                                                           \
    X(11, deleted, Deleted, codec::I64)                                                           \
    X(13, active, Active, codec::Bool)                                                            \
    X(14, shardId, ShardId, codec::String)                                                        \
    X(15, attributes, Attributes, codec::Struct<RURUUserAttributes>)                              \
    X(16, accounting, Accounting, codec::Struct<RURUAccounting>)
// clang-format on

// ---- Ads ---------------------------------------------------------------------------

// clang-format off
#define RURU_AD_FIELDS(X)                                                                         \
    X(1, id, Id, codec::I32)                                                                      \
    X(2, width, Width, codec::I16)                                                                \
    X(3, height, Height, codec::I16)                                                              \
    X(4, advertiserName, AdvertiserName, codec::String)                                           \
    X(5, imageUrl, ImageUrl, codec::String)                                                       \
    X(6, destinationUrl, DestinationUrl, codec::String)                                           \
    X(7, displaySeconds, DisplaySeconds, codec::I16)                                              \
    X(8, score, Score, codec::Double)                                                             \
    X(9, image, Image, codec::Binary)                                                             \
    X(10, imageMime, ImageMime, codec::String)                                                    \
    X(11, html, Html, codec::String)                                                              \
    X(12, displayFrequency, DisplayFrequency, codec::Double)                                      \
    X(13, openInTrunk, OpenInTrunk, codec::Bool)
// clang-format on

// The records of this header, each after the records it holds.
// clang-format off
#define RURU_TYPES_RECORDS(R)                                                                     \
    R(RURUTag, "Tag", RURU_TAG_FIELDS)                                                            \
    R(RURUSavedSearch, "SavedSearch", RURU_SAVED_SEARCH_FIELDS)                                   \
    R(RURULazyMap, "LazyMap", RURU_LAZY_MAP_FIELDS)                                               \
    R(RURUData, "Data", RURU_DATA_FIELDS)                                                         \
    R(RURUResourceAttributes, "ResourceAttributes", RURU_RESOURCE_ATTRIBUTES_FIELDS)              \
    R(RURUResource, "Resource", RURU_RESOURCE_FIELDS)                                             \
    R(RURUNoteAttributes, "NoteAttributes", RURU_NOTE_ATTRIBUTES_FIELDS)                          \
    R(RURUNote, "Note", RURU_NOTE_FIELDS)                                                         \
    R(RURUPublishing, "Publishing", RURU_PUBLISHING_FIELDS)                                       \
    R(RURUSharedNotebook, "SharedNotebook", RURU_SHARED_NOTEBOOK_FIELDS)                          \
    R(RURUNotebook, "Notebook", RURU_NOTEBOOK_FIELDS)                                             \
    R(RURULinkedNotebook, "LinkedNotebook", RURU_LINKED_NOTEBOOK_FIELDS)                          \
    R(RURUUserAttributes, "UserAttributes", RURU_USER_ATTRIBUTES_FIELDS)                          \
    R(RURUAccounting, "Accounting", RURU_ACCOUNTING_FIELDS)                                       \
    R(RURUUser, "User", RURU_USER_FIELDS)                                                         \
    R(RURUAd, "Ad", RURU_AD_FIELDS)
// clang-format on

RURU_TYPES_RECORDS(RAVADIDO_DECLARE_RECORD)

// Note sources; nothing in the application reads them.
struct RURUTypesConstants
{
    static const std::string &RURU_NOTE_SOURCE_WEB_CLIP();
    static const std::string &RURU_NOTE_SOURCE_MAIL_CLIP();
    static const std::string &RURU_NOTE_SOURCE_MAIL_SMTP_GATEWAY();
};

} // namespace ravadido
