#include "Errors.h"

namespace ravadido {

const char *RecordException::what() const noexcept
{
    try {
        m_what = description();
    } catch (...) {
        return reason();
    }
    return m_what.c_str();
}

RURU_ERRORS_RECORDS(RAVADIDO_DEFINE_RECORD)

} // namespace ravadido
