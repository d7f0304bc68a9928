// The results of the note calls.
#include "ravadido/NoteStoreResults.h"

namespace ravadido {

RURU_NOTE_STORE_NOTE_RESULTS(RAVADIDO_DEFINE_CALL_RESULT)

} // namespace ravadido
