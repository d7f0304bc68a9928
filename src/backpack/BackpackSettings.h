#pragma once

#include <QString>

// Where the Backpack service lives. Tests point the client at a local fake
// through the environment variables LEAFHAUL_BACKPACK_DOMAIN (the domain that
// follows the site name, may carry a port) and LEAFHAUL_BACKPACK_SIGNIN_HOST
// (host[:port] of the sign-in service for asset downloads).
namespace BackpackSettings {
QString serviceDomain();
QString signInHost();
// A site name is one DNS label: letters, digits and inner hyphens, at most 63.
bool isValidSitename(const QString &sitename);
} // namespace BackpackSettings
