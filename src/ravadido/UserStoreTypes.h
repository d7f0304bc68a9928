#pragma once

// The one UserStore record the NoteStore hands out: what two sharing calls
// return. Nothing here reads its fields, so it keeps the struct whole and
// passes it on unchanged (the user and public user information inside it
// included).

#include "Record.h"

namespace ravadido {

RAVADIDO_DECLARE_OPAQUE_RECORD(RURUAuthenticationResult)

#define RURU_USER_STORE_TYPES_RECORDS(R) R(RURUAuthenticationResult, "AuthenticationResult", RAVADIDO_NO_FIELDS)

} // namespace ravadido
