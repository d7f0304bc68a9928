// The results of the resource, account and ad calls.
#include "ravadido/NoteStoreResults.h"

namespace ravadido {

RURU_NOTE_STORE_RESOURCE_RESULTS(RAVADIDO_DEFINE_CALL_RESULT)

} // namespace ravadido
