#pragma once

#include "foundation/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <libxml/tree.h>

#include <memory>
#include <optional>

// The parse-error domain of service answers.
inline const QString kXMLParserErrorDomain = QStringLiteral("NSXMLParserErrorDomain");

// A parsed XML document, shared by everyone who holds a copy (libxml2
// underneath). Service answers are untrusted: no network access, no DTD
// loading, no entity substitution, and a document with a document type
// declaration is refused; white-space text nodes are kept.
class XmlDocument
{
public:
    XmlDocument() = default;

    // The parse error code (kXMLParserErrorDomain) of a refused document type
    // declaration; outside libxml2's own codes.
    static constexpr long kDocumentTypeRefused = 100000;

    // Parses UTF-8 text; nothing, with the parser's error in *error, on failure.
    static std::optional<XmlDocument> parse(const QByteArray &utf8, OptionalError *error = nullptr);

    bool isNull() const { return !m_doc; }
    xmlDocPtr doc() const { return m_doc.get(); }
    xmlNodePtr root() const;
    QByteArray toByteArray() const;

    // Evaluates an XPath expression from `context` (the root element when
    // null); the matching nodes in document order, or nothing with the error.
    std::optional<QList<xmlNodePtr>> nodes(const QString &xpath, xmlNodePtr context = nullptr,
                                           OptionalError *error = nullptr) const;

private:
    std::shared_ptr<xmlDoc> m_doc;
};

namespace xml {
QString name(xmlNodePtr node);
// The attribute's value, nothing when the element lacks it.
std::optional<QString> attribute(xmlNodePtr node, const char *name);
// All text inside the node, "" when there is none.
QString textContent(xmlNodePtr node);
// The first child that is an element, or null.
xmlNodePtr firstElementChild(xmlNodePtr node);
} // namespace xml
