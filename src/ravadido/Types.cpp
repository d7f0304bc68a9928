#include "Types.h"

namespace ravadido {

RAVADIDO_DEFINE_RECORD(RURUTag, "Tag", RURU_TAG_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUSavedSearch, "SavedSearch", RURU_SAVED_SEARCH_FIELDS)
RAVADIDO_DEFINE_RECORD(RURULazyMap, "LazyMap", RURU_LAZY_MAP_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUData, "Data", RURU_DATA_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUResourceAttributes, "ResourceAttributes", RURU_RESOURCE_ATTRIBUTES_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUResource, "Resource", RURU_RESOURCE_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUNoteAttributes, "NoteAttributes", RURU_NOTE_ATTRIBUTES_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUNote, "Note", RURU_NOTE_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUPublishing, "Publishing", RURU_PUBLISHING_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUSharedNotebook, "SharedNotebook", RURU_SHARED_NOTEBOOK_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUNotebook, "Notebook", RURU_NOTEBOOK_FIELDS)
RAVADIDO_DEFINE_RECORD(RURULinkedNotebook, "LinkedNotebook", RURU_LINKED_NOTEBOOK_FIELDS)

const std::string &RURUTypesConstants::RURU_NOTE_SOURCE_WEB_CLIP()
{
    static const std::string value = "web.clip";
    return value;
}

const std::string &RURUTypesConstants::RURU_NOTE_SOURCE_MAIL_CLIP()
{
    static const std::string value = "mail.clip";
    return value;
}

const std::string &RURUTypesConstants::RURU_NOTE_SOURCE_MAIL_SMTP_GATEWAY()
{
    static const std::string value = "mail.smtp";
    return value;
}

} // namespace ravadido
