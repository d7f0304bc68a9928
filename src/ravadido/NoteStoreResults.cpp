// The results of the sync, notebook, tag and saved-search calls.
#include "ravadido/NoteStoreResults.h"

namespace ravadido {

RURU_NOTE_STORE_SYNC_RESULTS(RAVADIDO_DEFINE_CALL_RESULT)

} // namespace ravadido
