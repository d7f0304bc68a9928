#include "Types.h"

namespace ravadido {

RURU_TYPES_RECORDS(RAVADIDO_DEFINE_RECORD)

const std::string &RURUTypesConstants::RURU_NOTE_SOURCE_WEB_CLIP()
{
    static const std::string value = "web.clip";
    return value;
}

const std::string &RURUTypesConstants::RURU_NOTE_SOURCE_MAIL_CLIP()
{
    static const std::string value = "mail.clip";
    return value;
}

const std::string &RURUTypesConstants::RURU_NOTE_SOURCE_MAIL_SMTP_GATEWAY()
{
    static const std::string value = "mail.smtp";
    return value;
}

} // namespace ravadido
