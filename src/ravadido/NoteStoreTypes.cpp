#include "NoteStoreTypes.h"

namespace ravadido {

RURU_NOTE_STORE_TYPES_RECORDS(RAVADIDO_DEFINE_RECORD)

} // namespace ravadido
