#include "signin/RavadidoSignInValues.h"

#include <QtGlobal>

namespace RavadidoSignInValues {

QString serviceHost()
{
    const QString host = qEnvironmentVariable(kServiceHostVariable).trimmed();
    return host.isEmpty() ? QString::fromLatin1(kDefaultServiceHost) : host;
}

static QUrl serviceURL(const char *path)
{
    return QUrl(QStringLiteral("https://") + serviceHost() + QLatin1String(path));
}

QUrl requestTokenURL()
{
    return serviceURL("/oauth");
}

QUrl authorizeTokenURL()
{
    return serviceURL("/OAuth.action");
}

QUrl accessTokenURL()
{
    return serviceURL("/oauth");
}

} // namespace RavadidoSignInValues
