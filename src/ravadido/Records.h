#pragma once

// Every record of the API in one list, for code that treats them all alike
// (the fuzzer, the cross-check, the seed writers): R(Class, wire name,
// fields), the fields of an opaque record being RAVADIDO_NO_FIELDS. The
// call result records are not in it; they come from the call table.

#include "Errors.h"
#include "NoteStoreTypes.h"
#include "Types.h"
#include "UserStoreTypes.h"

// clang-format off
#define RAVADIDO_RECORDS(R)                                                                       \
    RURU_TYPES_RECORDS(R)                                                                         \
    RURU_NOTE_STORE_TYPES_RECORDS(R)                                                              \
    RURU_USER_STORE_TYPES_RECORDS(R)                                                              \
    RURU_ERRORS_RECORDS(R)
// clang-format on
