#include "signin/HttpRequest.h"

QString HttpRequest::effectiveMethod() const
{
    return method.isEmpty() ? QStringLiteral("GET") : method.toUpper();
}

QString HttpRequest::header(const QString &name) const
{
    for (const auto &[key, value] : m_headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool HttpRequest::hasHeader(const QString &name) const
{
    for (const auto &entry : m_headers) {
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void HttpRequest::setHeader(const QString &name, const QString &value)
{
    for (auto &entry : m_headers) {
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0) {
            entry.second = value;
            return;
        }
    }
    m_headers.append({name, value});
}

void HttpRequest::removeHeader(const QString &name)
{
    m_headers.removeIf([&](const auto &entry) { return entry.first.compare(name, Qt::CaseInsensitive) == 0; });
}
