#pragma once

// The records of the Ravadido data model: notes and their attachments,
// notebooks and their sharing, tags, saved searches and application data.

#include "Record.h"

namespace ravadido {

// ---- Tags, saved searches, application data --------------------------------

#define RURU_TAG_FIELDS(X)                                                                        \
    X(1, guid, Guid, codec::String)                                                               \
    X(2, name, Name, codec::String)                                                               \
    X(3, parentGuid, ParentGuid, codec::String)                                                   \
    X(4, updateSequenceNum, UpdateSequenceNum, codec::I32)

class RURUTag final : public Record
{
    RAVADIDO_RECORD(RURUTag, RURU_TAG_FIELDS)
};

#define RURU_SAVED_SEARCH_FIELDS(X)                                                               \
    X(1, guid, Guid, codec::String)                                                               \
    X(2, name, Name, codec::String)                                                               \
    X(3, query, Query, codec::String)                                                             \
    X(4, format, Format, codec::EnumI32)                                                          \
    X(5, updateSequenceNum, UpdateSequenceNum, codec::I32)

class RURUSavedSearch final : public Record
{
    RAVADIDO_RECORD(RURUSavedSearch, RURU_SAVED_SEARCH_FIELDS)
};

#define RURU_LAZY_MAP_FIELDS(X)                                                                   \
    X(1, keysOnly, KeysOnly, codec::StringSet)                                                    \
    X(2, fullMap, FullMap, codec::StringMap)

class RURULazyMap final : public Record
{
    RAVADIDO_RECORD(RURULazyMap, RURU_LAZY_MAP_FIELDS)
};

// ---- Notes and resources -----------------------------------------------------

#define RURU_DATA_FIELDS(X)                                                                       \
    X(1, bodyHash, BodyHash, codec::Binary)                                                       \
    X(2, size, Size, codec::I32)                                                                  \
    X(3, body, Body, codec::Binary)

class RURUData final : public Record
{
    RAVADIDO_RECORD(RURUData, RURU_DATA_FIELDS)
};

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

class RURUResourceAttributes final : public Record
{
    RAVADIDO_RECORD(RURUResourceAttributes, RURU_RESOURCE_ATTRIBUTES_FIELDS)
};

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

class RURUResource final : public Record
{
    RAVADIDO_RECORD(RURUResource, RURU_RESOURCE_FIELDS)
};

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

class RURUNoteAttributes final : public Record
{
    RAVADIDO_RECORD(RURUNoteAttributes, RURU_NOTE_ATTRIBUTES_FIELDS)
};

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

class RURUNote final : public Record
{
    RAVADIDO_RECORD(RURUNote, RURU_NOTE_FIELDS)
};

// Note sources; nothing in the application reads them.
struct RURUTypesConstants
{
    static const std::string &RURU_NOTE_SOURCE_WEB_CLIP();
    static const std::string &RURU_NOTE_SOURCE_MAIL_CLIP();
    static const std::string &RURU_NOTE_SOURCE_MAIL_SMTP_GATEWAY();
};

// ---- Notebooks and sharing --------------------------------------------------

#define RURU_PUBLISHING_FIELDS(X)                                                                 \
    X(1, uri, Uri, codec::String)                                                                 \
    X(2, order, Order, codec::EnumI32)                                                            \
    X(3, ascending, Ascending, codec::Bool)                                                       \
    X(4, publicDescription, PublicDescription, codec::String)

class RURUPublishing final : public Record
{
    RAVADIDO_RECORD(RURUPublishing, RURU_PUBLISHING_FIELDS)
};

// serviceUpdated (10) is declared, and so written, before ids 8 and 9.
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

class RURUSharedNotebook final : public Record
{
    RAVADIDO_RECORD(RURUSharedNotebook, RURU_SHARED_NOTEBOOK_FIELDS)
};

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

class RURUNotebook final : public Record
{
    RAVADIDO_RECORD(RURUNotebook, RURU_NOTEBOOK_FIELDS)
};

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

class RURULinkedNotebook final : public Record
{
    RAVADIDO_RECORD(RURULinkedNotebook, RURU_LINKED_NOTEBOOK_FIELDS)
};

} // namespace ravadido
