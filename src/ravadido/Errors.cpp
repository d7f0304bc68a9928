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

RURU_ERRORS_RECORDS(RAVADIDO_DEFINE_RECORD)

} // namespace ravadido
