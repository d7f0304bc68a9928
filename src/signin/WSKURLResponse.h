#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <utility>

// What a connection tells of a response. A response that is not HTTP (a file
// URL) has no header fields and status 0.
struct WSKURLResponse
{
    QUrl url;
    bool hasHeaderFields = false;
    int statusCode = 0;
    // As received, in order; names keep their case.
    QList<std::pair<QByteArray, QByteArray>> headerFields;

    // Every value of a header, names compared case-insensitively.
    QList<QByteArray> headerValues(QByteArrayView name) const
    {
        QList<QByteArray> values;
        for (const auto &[fieldName, value] : headerFields)
            if (fieldName.compare(name, Qt::CaseInsensitive) == 0)
                values.append(value);
        return values;
    }
    // The values of a header joined by ", "; null when absent.
    QByteArray headerValue(QByteArrayView name) const
    {
        const QList<QByteArray> values = headerValues(name);
        return values.isEmpty() ? QByteArray() : values.join(", ");
    }
};
