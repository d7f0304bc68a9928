#pragma once

// The reply records of the NoteStore calls. Each call's exceptions are listed
// in the call's own order: it is their order on the wire and the order in
// which the client throws them.

#include "ravadido/CallResult.h"
#include "ravadido/Errors.h"
#include "ravadido/NoteStoreTypes.h"
#include "ravadido/Types.h"

namespace ravadido {

using RURUListNotebooks_result = CallResult<"ListNotebooks_result",
    codec::StructList<RURUNotebook>, RURUUserException, RURUSystemException>;
using RURUCreateNotebook_result = CallResult<"CreateNotebook_result",
    codec::Struct<RURUNotebook>, RURUUserException, RURUSystemException>;
using RURUFindNotes_result = CallResult<"FindNotes_result",
    codec::Struct<RURUNoteList>, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUCreateNote_result = CallResult<"CreateNote_result",
    codec::Struct<RURUNote>, RURUUserException, RURUSystemException, RURUNotFoundException>;
using RURUDeleteNote_result = CallResult<"DeleteNote_result",
    codec::I32, RURUUserException, RURUSystemException, RURUNotFoundException>;

} // namespace ravadido
