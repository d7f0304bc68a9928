#include "Errors.h"

namespace ravadido {

const char *RecordException::what() const noexcept
{
    try {
        what_ = description();
    } catch (...) {
        return reason();
    }
    return what_.c_str();
}

RAVADIDO_DEFINE_RECORD(RURUUserException, "RURUUserException", RURU_USER_EXCEPTION_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUSystemException, "RURUSystemException", RURU_SYSTEM_EXCEPTION_FIELDS)
RAVADIDO_DEFINE_RECORD(RURUNotFoundException, "RURUNotFoundException", RURU_NOT_FOUND_EXCEPTION_FIELDS)

} // namespace ravadido
