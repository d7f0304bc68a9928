#include "NoteStoreTypes.h"

namespace ravadido {

RAVADIDO_DEFINE_RECORD(RURUNoteFilter, "NoteFilter", RURU_NOTE_FILTER_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUNoteList, "NoteList", RURU_NOTE_LIST_FIELDS)

} // namespace ravadido
