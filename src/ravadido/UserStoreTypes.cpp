#include "UserStoreTypes.h"

namespace ravadido {

RAVADIDO_DEFINE_OPAQUE_RECORD(RURUAuthenticationResult, "AuthenticationResult")

} // namespace ravadido
