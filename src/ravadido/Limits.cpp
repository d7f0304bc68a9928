#include "Limits.h"

namespace ravadido {

using L = RURULimitsConstants;

// Function-local statics: built once, on first use, by whichever thread
// comes first, the others waiting; const from then on.
const std::set<std::string> &RURULimitsConstants::RURU_MIME_TYPES()
{
    static const std::set<std::string> types{
        std::string(L::RURU_MIME_TYPE_GIF()),       std::string(L::RURU_MIME_TYPE_JPEG()),
        std::string(L::RURU_MIME_TYPE_PNG()),       std::string(L::RURU_MIME_TYPE_WAV()),
        std::string(L::RURU_MIME_TYPE_MP3()),       std::string(L::RURU_MIME_TYPE_AMR()),
        std::string(L::RURU_MIME_TYPE_INK()),       std::string(L::RURU_MIME_TYPE_PDF()),
        std::string(L::RURU_MIME_TYPE_MP4_VIDEO()),
    };
    return types;
}

const std::set<std::string> &RURULimitsConstants::RURU_PUBLISHING_URI_PROHIBITED()
{
    static const std::set<std::string> prohibited{".."};
    return prohibited;
}

} // namespace ravadido
