#include "ravadido/NoteStoreResults.h"

namespace ravadido {

#define RAVADIDO_DEFINE_CALL_RESULT(Name, ...) template class CallResult<#Name "_result", __VA_ARGS__>;

RURU_NOTE_STORE_RESULTS(RAVADIDO_DEFINE_CALL_RESULT)

} // namespace ravadido
