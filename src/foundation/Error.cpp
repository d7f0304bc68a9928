#include "foundation/Error.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

Error::Error(QString errorDomain, long errorCode, QString description, QString failureReason,
             QString recoverySuggestion, QVariantMap info)
    : domain(std::move(errorDomain)), code(errorCode), localizedDescription(std::move(description)),
      localizedFailureReason(std::move(failureReason)), localizedRecoverySuggestion(std::move(recoverySuggestion)),
      userInfo(std::move(info))
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

QString systemReason(int errnum)
{
    return QString::fromLocal8Bit(std::strerror(errnum));
}

QString withSystemReason(QString description, const QString &reason)
{
    if (reason.isEmpty())
        return description;
    if (description.endsWith(QLatin1Char('.')))
        description.chop(1);
    return description + QStringLiteral(": ") + reason + QLatin1Char('.');
}

namespace {

struct FileRecovery
{
    int errnum;
    const char *suggestion;
};
constexpr FileRecovery kFileRecoveries[] = {
    {ENOSPC, "Free some space on that disk and import again."},
    {EDQUOT, "Free some space within your disk quota and import again."},
    {EROFS, "That disk can only be read: make it writable and import again."},
    {EACCES, "Allow yourself to write in that folder and import again."},
    {EPERM, "Allow yourself to write in that folder and import again."},
};

} // namespace

QString fileRecoverySuggestion(int errnum)
{
    for (const FileRecovery &recovery : kFileRecoveries)
        if (recovery.errnum == errnum)
            return localizedString(recovery.suggestion);
    return {};
}
