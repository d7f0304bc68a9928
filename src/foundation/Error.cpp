#include "foundation/Error.h"

#include <QCoreApplication>

Error::Error(QString domain_, long code_, QString description, QString failureReason,
             QString recoverySuggestion, QVariantMap userInfo_)
    : domain(std::move(domain_)),
      code(code_),
      localizedDescription(std::move(description)),
      localizedFailureReason(std::move(failureReason)),
      localizedRecoverySuggestion(std::move(recoverySuggestion)),
      userInfo(std::move(userInfo_))
{
}

QString Error::toString() const
{
    QString text = domain + QLatin1Char(' ') + QString::number(code);
    if (!localizedDescription.isEmpty())
        text += QStringLiteral(": ") + localizedDescription;
    if (!localizedFailureReason.isEmpty())
        text += QStringLiteral(" (") + localizedFailureReason + QLatin1Char(')');
    return text;
}

QString localizedString(const char *english)
{
    return QCoreApplication::translate("Leafhaul", english);
}
