#include "backpack/XmlDocument.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <mutex>

namespace {

void initOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// libxml2 reports through a global handler unless told otherwise; keep its
// messages off stderr.
void ignoreError(void *, xmlErrorPtr) {}

// Backpack never sends a document type declaration, and one in an answer
// can define entities that grow to gigabytes when the text is read: the
// parse stops at the declaration, before its internal subset.
void refuseDocumentType(void *context, const xmlChar *, const xmlChar *, const xmlChar *)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
    *static_cast<bool *>(ctxt->_private) = true;
    xmlStopParser(ctxt);
}

Error errorFrom(const xmlError *e, const char *fallback)
{
    if (!e || e->code == 0)
        return Error(kXMLParserErrorDomain, 0, QString::fromUtf8(fallback));
    QString message = QString::fromUtf8(e->message ? e->message : fallback).trimmed();
    QVariantMap info;
    if (e->line > 0)
        info.insert(QStringLiteral("line"), e->line);
    return Error(kXMLParserErrorDomain, e->code, message, {}, {}, info);
}

} // namespace

std::optional<XmlDocument> XmlDocument::parse(const QByteArray &utf8, OptionalError *error)
{
    initOnce();
    if (error)
        error->reset();
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        setErrorSlot(error, Error(kXMLParserErrorDomain, XML_ERR_NO_MEMORY, QStringLiteral("out of memory")));
        return std::nullopt;
    }
    bool hasDocumentType = false;
    ctxt->_private = &hasDocumentType;
    ctxt->sax->internalSubset = &refuseDocumentType;
    // Never XML_PARSE_NOENT or XML_PARSE_DTDLOAD: answers come from the network.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, utf8.constData(), int(utf8.size()), "answer.xml", "UTF-8", options);
    if (hasDocumentType) {
        setErrorSlot(error, Error(kXMLParserErrorDomain, kDocumentTypeRefused,
                                  QStringLiteral("The document has a document type declaration.")));
        if (doc)
            xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        return std::nullopt;
    }
    if (!doc || !ctxt->wellFormed) {
        setErrorSlot(error, errorFrom(xmlCtxtGetLastError(ctxt), "The document is not well-formed."));
        if (doc)
            xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        return std::nullopt;
    }
    xmlFreeParserCtxt(ctxt);
    XmlDocument d;
    d.m_doc = std::shared_ptr<xmlDoc>(doc, xmlFreeDoc);
    return d;
}

xmlNodePtr XmlDocument::root() const
{
    return m_doc ? xmlDocGetRootElement(m_doc.get()) : nullptr;
}

QByteArray XmlDocument::toByteArray() const
{
    if (!m_doc)
        return {};
    xmlChar *text = nullptr;
    int size = 0;
    xmlDocDumpMemory(m_doc.get(), &text, &size);
    QByteArray out(reinterpret_cast<const char *>(text), size);
    xmlFree(text);
    return out;
}

std::optional<QList<xmlNodePtr>> XmlDocument::nodes(const QString &xpath, xmlNodePtr context,
                                                    OptionalError *error) const
{
    if (error)
        error->reset();
    if (!context)
        context = root();
    if (!m_doc || !context) {
        setErrorSlot(error, Error(kXMLParserErrorDomain, 0, QStringLiteral("No document to search.")));
        return std::nullopt;
    }
    xmlXPathContextPtr ctx = xmlXPathNewContext(m_doc.get());
    if (!ctx) {
        setErrorSlot(error, Error(kXMLParserErrorDomain, XML_ERR_NO_MEMORY, QStringLiteral("out of memory")));
        return std::nullopt;
    }
    ctx->error = &ignoreError;
    ctx->node = context;
    const QByteArray expr = xpath.toUtf8();
    xmlXPathObjectPtr result = xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(expr.constData()), ctx);
    std::optional<QList<xmlNodePtr>> found;
    if (!result) {
        setErrorSlot(error, errorFrom(&ctx->lastError, "The XPath expression is not valid."));
    } else {
        found.emplace();
        if (result->type == XPATH_NODESET && result->nodesetval)
            for (int i = 0; i < result->nodesetval->nodeNr; ++i)
                found->append(result->nodesetval->nodeTab[i]);
        xmlXPathFreeObject(result);
    }
    xmlXPathFreeContext(ctx);
    return found;
}

namespace xml {

QString name(xmlNodePtr node)
{
    return node && node->name ? QString::fromUtf8(reinterpret_cast<const char *>(node->name)) : QString();
}

std::optional<QString> attribute(xmlNodePtr node, const char *attr)
{
    if (!node || node->type != XML_ELEMENT_NODE)
        return std::nullopt;
    xmlChar *value = xmlGetProp(node, reinterpret_cast<const xmlChar *>(attr));
    if (!value)
        return std::nullopt;
    QString s = QString::fromUtf8(reinterpret_cast<const char *>(value));
    xmlFree(value);
    if (s.isNull())
        s = QLatin1String("");
    return s;
}

QString textContent(xmlNodePtr node)
{
    if (!node)
        return QLatin1String("");
    xmlChar *text = xmlNodeGetContent(node);
    QString s = text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
    xmlFree(text);
    return s.isNull() ? QString(QLatin1String("")) : s;
}

xmlNodePtr firstElementChild(xmlNodePtr node)
{
    for (xmlNodePtr child = node ? node->children : nullptr; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            return child;
    return nullptr;
}

} // namespace xml
