#include "backpack/BackpackSettings.h"

#include <QtGlobal>

namespace BackpackSettings {

QString serviceDomain()
{
    const QString fromEnv = qEnvironmentVariable("LEAFHAUL_BACKPACK_DOMAIN");
    return fromEnv.isEmpty() ? QStringLiteral("backpackit.com") : fromEnv;
}

QString signInHost()
{
    const QString fromEnv = qEnvironmentVariable("LEAFHAUL_BACKPACK_SIGNIN_HOST");
    return fromEnv.isEmpty() ? QStringLiteral("launchpad.37signals.com") : fromEnv;
}

bool isValidSitename(const QString &sitename)
{
    if (sitename.isEmpty() || sitename.size() > 63 || sitename.startsWith(QLatin1Char('-'))
        || sitename.endsWith(QLatin1Char('-')))
        return false;
    for (QChar c : sitename) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace BackpackSettings
