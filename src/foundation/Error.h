#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// The one error object of the system. A method that fails returns nothing or
// false and leaves one of these in an out-parameter or an `error` property;
// "no error" is an empty std::optional<Error>.
struct Error
{
    QString domain;
    long code = 0;
    QString localizedDescription;
    QString localizedFailureReason;
    QString localizedRecoverySuggestion;
    // Anything else a caller may need (the HTTP body under "data", the URL
    // that failed, an underlying error's text).
    QVariantMap userInfo;

    Error() = default;
    Error(QString domain, long code, QString description = {}, QString failureReason = {},
          QString recoverySuggestion = {}, QVariantMap userInfo = {});

    bool is(const QString &otherDomain, long otherCode) const { return domain == otherDomain && code == otherCode; }

    // One line for logs: "domain code: description (reason)".
    QString toString() const;
};

using OptionalError = std::optional<Error>;

// The userInfo key of a service's own words on its error, for the user: an
// error that says "returned the following error:" shows them after its
// failure reason.
inline const QString kErrorServiceTextKey = QStringLiteral("serviceText");

// Stores `error` into `slot` when the caller gave one; callers that do not care
// pass nullptr.
inline void setErrorSlot(OptionalError *slot, Error error)
{
    if (slot)
        *slot = std::move(error);
}

// User-visible texts are looked up with their English text as the key.
QString localizedString(const char *english);

// The system's reason for `errnum` ("No space left on device"), as the C
// library words it.
QString systemReason(int errnum);

// A description that carries the system's reason, for errors whose reason
// the user needs: an alert shows the description but not the failure
// reason. "The file could not be written." and "No space left on device"
// give "The file could not be written: No space left on device."; without a
// reason the description stays as it is.
QString withSystemReason(QString description, const QString &reason);

// What the user can do about a file the system refused for `errnum`: a full
// disk, a quota, a read-only disk or a refused permission; empty for any
// other reason.
QString fileRecoverySuggestion(int errnum);
