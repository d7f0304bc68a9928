// Arbitrary text as the content of page elements: the first byte picks the
// kind, the rest is its Textile or e-mail text. Whatever comes in, the note's
// content must parse as XML, with an en-note root, and hold only elements and
// attributes the service's ENML DTD allows; the title must be plain text.
#include "app/NoteBuilder.h"
#include "app/NoteText.h"

#include <QStringDecoder>

#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What the service's ENML DTD forbids, written out again apart from the
// rule's table so that the check does not lean on the code it checks.
const char *const kForbiddenElements[] = {
    "applet", "base",   "basefont",  "bgsound", "blink",  "body",   "button",   "dir",      "embed",   "fieldset",
    "form",   "frame",  "frameset",  "head",    "html",   "iframe", "ilayer",   "input",    "isindex", "label",
    "layer",  "legend", "link",      "marquee", "menu",   "meta",   "noframes", "noscript", "object",  "optgroup",
    "option", "param",  "plaintext", "script",  "select", "style",  "textarea", "xml"};
const char *const kForbiddenAttributes[] = {"id", "class", "accesskey", "data", "dynsrc", "tabindex"};

[[noreturn]] void fail(const char *what, const char *name, const std::string &content)
{
    std::fprintf(stderr, "%s: %s\nin: %s\n", what, name, content.c_str());
    std::abort();
}

void checkElements(xmlNode *node, const std::string &content)
{
    for (xmlNode *child = node->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        const char *name = reinterpret_cast<const char *>(child->name);
        if (child->ns)
            fail("element with a prefix", name, content);
        for (const char *forbidden : kForbiddenElements)
            if (std::strcmp(name, forbidden) == 0)
                fail("forbidden element", name, content);
        if (!NoteText::isEnmlElement(QString::fromUtf8(name)))
            fail("element outside ENML", name, content);
        for (xmlAttr *attribute = child->properties; attribute; attribute = attribute->next) {
            const char *attributeName = reinterpret_cast<const char *>(attribute->name);
            for (const char *forbidden : kForbiddenAttributes)
                if (std::strcmp(attributeName, forbidden) == 0)
                    fail("forbidden attribute", attributeName, content);
            if (std::strncmp(attributeName, "on", 2) == 0)
                fail("event attribute", attributeName, content);
            const QString qualified = attribute->ns && attribute->ns->prefix
                                          ? QString::fromUtf8(reinterpret_cast<const char *>(attribute->ns->prefix))
                                                + QLatin1Char(':') + QString::fromUtf8(attributeName)
                                          : QString::fromUtf8(attributeName);
            if (!NoteText::isEnmlAttribute(QString::fromUtf8(name), qualified))
                fail("attribute outside ENML", attributeName, content);
        }
        checkElements(child, content);
    }
}

void checkNote(const std::shared_ptr<ravadido::RURUNote> &note)
{
    if (!note)
        std::abort();
    const std::string content = note->content().value_or(std::string());
    xmlDoc *doc = xmlReadMemory(content.data(), int(content.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc)
        fail("not well-formed", "", content);
    xmlNode *root = xmlDocGetRootElement(doc);
    if (!root || std::strcmp(reinterpret_cast<const char *>(root->name), "en-note") != 0)
        fail("root is not en-note", root ? reinterpret_cast<const char *>(root->name) : "", content);
    checkElements(root, content);
    xmlFreeDoc(doc);

    // Decoded with a leading byte order mark kept: fromStdString drops it.
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString title = decode(QByteArray::fromStdString(note->title().value_or(std::string())));
    if (title.isEmpty() || title.size() > 255 || title != title.trimmed())
        fail("title outside the service's limits", note->title().value_or(std::string()).c_str(), content);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    xmlInitParser();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString firstLine = text.section(QLatin1Char('\n'), 0, 0);
    NoteBuilder builder;
    switch (data[0] % 4) {
    case 0: checkNote(builder.createNoteForNote({{"widgetType", "Note"}, {"title", firstLine}, {"text", text}})); break;
    case 1: {
        QVariantList items;
        for (const QString &line : text.split(QLatin1Char('\n')))
            items << QVariantMap{{"widgetType", "ListItem"}, {"completed", line.size() % 2 == 0}, {"text", line}};
        checkNote(builder.createNoteForList({{"widgetType", "List"}, {"name", firstLine}, {"items", items}}));
        break;
    }
    case 2:
        checkNote(builder.createNoteForEmail({{"widgetType", "Email"}, {"subject", firstLine}, {"body", text}}));
        break;
    default:
        // Gallery descriptions and titles take the same road without files.
        checkNote(builder.createNoteForGallery({{"widgetType", "Gallery"}, {"name", firstLine}}, {}));
        NoteText::fixupNoteTitle(text);
        (void)NoteText::enmlBody(NoteText::fixupNoteText(text));
        break;
    }
    return 0;
}
