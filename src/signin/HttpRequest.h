#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

// One HTTP request as the signer decorates it and the fetcher sends it.
// The URL is kept as text so that escapes in the path reach the wire (and the
// OAuth base string) exactly as written; parsing it into a QUrl would rewrite
// some of them.
class HttpRequest
{
public:
    HttpRequest() = default;
    explicit HttpRequest(QString urlText, QString methodName = {})
        : url(std::move(urlText)), method(std::move(methodName))
    {
    }

    // Absolute URL text ("https://host/path?query").
    QString url;
    // As given; empty means GET.
    QString method;
    QByteArray body;

    // The method as sent: upper case, "GET" when empty.
    QString effectiveMethod() const;

    // Header names compare case-insensitively. header() is a null string when
    // the header is absent.
    QString header(const QString &name) const;
    bool hasHeader(const QString &name) const;
    // Replaces an existing header of that name in place, else appends.
    void setHeader(const QString &name, const QString &value);
    void removeHeader(const QString &name);
    // Every header in the order first set.
    const QList<std::pair<QString, QString>> &headers() const { return m_headers; }

    bool operator==(const HttpRequest &) const = default;

private:
    QList<std::pair<QString, QString>> m_headers;
};
