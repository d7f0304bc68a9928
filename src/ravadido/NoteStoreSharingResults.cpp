// The results of the sharing and related-content calls.
#include "ravadido/NoteStoreResults.h"

namespace ravadido {

RURU_NOTE_STORE_SHARING_RESULTS(RAVADIDO_DEFINE_CALL_RESULT)

} // namespace ravadido
