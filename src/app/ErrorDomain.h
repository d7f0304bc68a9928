#pragma once

// Kept light: the note builder and the windows name the domain without the
// service client.

#include <QString>

inline const QString kLeafhaulErrorDomain = QStringLiteral("com.tallgrove.leafhaul");
// The service's code for an expired authentication token.
constexpr long kRavadidoAuthExpiredCode = 9;
