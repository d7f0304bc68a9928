#include "app/NoteText.h"

#include "foundation/RegExConvenience.h"
#include "foundation/TGTextileConverter.h"

#include <QHash>
#include <QSet>
#include <QTextBoundaryFinder>

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <memory>
#include <mutex>

namespace NoteText {

namespace {

// Not `&name;`, `&#123;` or `&#x1F;`: a bare ampersand.
const QString kBareAmpersand = QStringLiteral("&(?!(?:[A-Za-z][A-Za-z0-9]*|#[0-9]+|#[xX][0-9A-Fa-f]+);)");

struct RegexRow
{
    const char *pattern;
    const char *replacement;
};

// Attribute patterns stop at the closing quote and the tag's '>' so that they
// never reach into the text or the next tag.
const RegexRow kParagraphRows[] = {
    {R"re(<p id="[^"]*"[^>]*>)re", "<p>"},
    {R"re(<p class="[^"]*"[^>]*>)re", "<p>"},
    {R"re(<h([1-9]) id="[^"]*"[^>]*>)re", "<h$1>"},
    {R"re(<h([1-9]) class="[^"]*"[^>]*>)re", "<h$1>"},
};

void initLibxml()
{
    // xmlInitParser must have run once before threads share the parser.
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

struct DocFree
{
    void operator()(xmlDoc *doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

DocPtr parseHtml(const QByteArray &utf8)
{
    initLibxml();
    return DocPtr(htmlReadMemory(utf8.constData(), int(utf8.size()), nullptr, "UTF-8",
                                 HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING));
}

QString fromXml(const xmlChar *text)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
}

bool isBlock(const QByteArray &name)
{
    static const char *const blocks[] = {"p",          "div",     "h1",     "h2",     "h3",   "h4",      "h5",
                                         "h6",         "ul",      "ol",     "li",     "dl",   "dt",      "dd",
                                         "blockquote", "pre",     "table",  "tr",     "hr",   "address", "center",
                                         "section",    "article", "header", "footer", "form", "fieldset"};
    for (const char *block : blocks)
        if (name == block)
            return true;
    return false;
}

bool isHidden(const QByteArray &name)
{
    return name == "head" || name == "script" || name == "style" || name == "title";
}

// Lays text out roughly as a browser would: white space collapsed, one line
// break around each block, line breaks for <br>.
class HtmlTextWalker
{
public:
    HtmlReading reading;

    void walk(xmlNode *node, const QString &href, bool preformatted)
    {
        for (xmlNode *child = node->children; child; child = child->next) {
            if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
                appendText(fromXml(child->content), href, preformatted);
            } else if (child->type == XML_ELEMENT_NODE) {
                const QByteArray name = QByteArray(reinterpret_cast<const char *>(child->name)).toLower();
                if (isHidden(name))
                    continue;
                if (name == "br") {
                    lineBreak(true);
                    continue;
                }
                QString childHref = href;
                if (name == "a") {
                    xmlChar *value = xmlGetProp(child, BAD_CAST "href");
                    if (value) {
                        childHref = fromXml(value).trimmed();
                        xmlFree(value);
                    }
                }
                const bool block = isBlock(name);
                if (block)
                    lineBreak(false);
                walk(child, childHref, preformatted || name == "pre");
                if (block)
                    lineBreak(false);
            }
        }
    }

private:
    QString &out = reading.text;

    void dropTrailingBlank()
    {
        while (out.endsWith(QLatin1Char(' ')))
            out.chop(1);
    }

    // A forced break always adds one; a block break only ends a started line.
    void lineBreak(bool forced)
    {
        dropTrailingBlank();
        if (forced || (!out.isEmpty() && !out.endsWith(QLatin1Char('\n'))))
            out += QLatin1Char('\n');
    }

    void appendText(const QString &raw, const QString &href, bool preformatted)
    {
        QString text;
        if (preformatted) {
            text = raw;
        } else {
            text.reserve(raw.size());
            bool atBlank = out.isEmpty() || out.endsWith(QLatin1Char(' ')) || out.endsWith(QLatin1Char('\n'));
            for (QChar c : raw) {
                const bool blank = c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
                                   || c == QLatin1Char('\r') || c == QLatin1Char('\f');
                if (blank) {
                    if (!atBlank)
                        text += QLatin1Char(' ');
                    atBlank = true;
                } else {
                    text += c;
                    atBlank = false;
                }
            }
        }
        if (text.isEmpty())
            return;
        const qsizetype start = out.size();
        out += text;
        if (!href.isEmpty())
            reading.links.append({start, text.size(), href});
    }
};

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
           || (c >= 0x10000 && c <= 0x10FFFF);
}

QString withoutNonXmlCharacters(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            result += c;
            result += text.at(++i);
        } else if (!c.isSurrogate() && isXmlChar(c.unicode())) {
            result += c;
        }
    }
    return result;
}

QString escapeXmlText(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
    escaped.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    escaped.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    return escaped;
}

// The body's children of an HTML-parsed fragment, written as XML.
QString repairedWithHtmlParser(const QString &fragment)
{
    DocPtr doc = parseHtml(QByteArrayLiteral("<body>") + fragment.toUtf8());
    if (!doc)
        return {};
    xmlNode *body = nullptr;
    for (xmlNode *html = xmlDocGetRootElement(doc.get()); html && !body; html = html->next) {
        if (html->type != XML_ELEMENT_NODE)
            continue;
        for (xmlNode *child = html->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE && xmlStrcmp(child->name, BAD_CAST "body") == 0) {
                body = child;
                break;
            }
    }
    if (!body)
        return {};
    xmlBuffer *buffer = xmlBufferCreate();
    xmlSaveCtxt *save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_AS_XML | XML_SAVE_NO_DECL);
    for (xmlNode *child = body->children; child; child = child->next)
        xmlSaveTree(save, child);
    xmlSaveClose(save);
    const QString xml = QString::fromUtf8(reinterpret_cast<const char *>(xmlBufferContent(buffer)),
                                          xmlBufferLength(buffer));
    xmlBufferFree(buffer);
    return xml;
}

// ---- The ENML element rule

// XHTML's elements less the ones the ENML DTD forbids, with the attributes
// each may carry beyond the common ones (style, title, lang, xml:lang, dir).
struct EnmlElementRow
{
    const char *names;
    const char *attributes;
    bool commonAttributes;
};

const EnmlElementRow kEnmlElements[] = {
    {"a", "charset type name href hreflang rel rev shape coords target", true},
    {"abbr acronym address b bdo big center cite code dd dfn dt em i kbd s samp small span strike strong sub "
     "sup tt u var",
     "", true},
    {"area", "shape coords href nohref alt target", true},
    {"blockquote q", "cite", true},
    {"br", "style title clear", false},
    {"caption div h1 h2 h3 h4 h5 h6 p", "align", true},
    {"col colgroup", "span width align char charoff valign", true},
    {"del ins", "cite datetime", true},
    {"dl", "compact", true},
    {"font", "size color face", true},
    {"hr", "align noshade size width", true},
    {"img", "src alt name longdesc height width usemap ismap align border hspace vspace", true},
    {"li", "type value", true},
    {"map", "name", true},
    {"ol", "type compact start", true},
    {"pre", "width xml:space", true},
    {"table", "summary width border frame rules cellspacing cellpadding align bgcolor", true},
    {"tbody tfoot thead", "align char charoff valign", true},
    {"td th", "abbr axis headers scope rowspan colspan align char charoff valign nowrap bgcolor width height", true},
    {"tr", "align char charoff valign bgcolor", true},
    {"ul", "type compact", true},
    // The service's own: only the note builder writes them.
    {"en-media", "type hash height width usemap align border hspace vspace longdesc alt", true},
    {"en-todo", "checked", false},
};
const char kCommonAttributes[] = "style title lang xml:lang dir";
// Elements the DTD forbids: their tags go, their text stays.
const char kForbiddenElements[] =
    "applet base basefont bgsound blink body button dir embed fieldset form frame frameset head html iframe "
    "ilayer input isindex label layer legend link marquee menu meta noframes noscript object optgroup option "
    "param plaintext script select style textarea xml";

struct EnmlRule
{
    QHash<QString, QSet<QString>> attributes; // by element
    QSet<QString> forbidden;

    static const EnmlRule &get()
    {
        static const EnmlRule rule;
        return rule;
    }

private:
    EnmlRule()
    {
        const auto words = [](const char *list) {
            return QString::fromLatin1(list).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        };
        for (const EnmlElementRow &row : kEnmlElements) {
            QSet<QString> allowed;
            for (const QString &attribute : words(row.attributes))
                allowed.insert(attribute);
            if (row.commonAttributes)
                for (const QString &attribute : words(kCommonAttributes))
                    allowed.insert(attribute);
            for (const QString &name : words(row.names))
                attributes.insert(name, allowed);
        }
        for (const QString &name : words(kForbiddenElements))
            forbidden.insert(name);
    }
};

bool isBuilderOnlyElement(const QString &name)
{
    return name.startsWith(QLatin1String("en-"));
}

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool isTagNameChar(QChar c)
{
    return isAsciiLetter(c) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-')
           || c == QLatin1Char(':') || c == QLatin1Char('_') || c == QLatin1Char('.');
}

// The '>' that closes a tag whose name ends before `from`, or -1 when
// another '<' or the end of the text comes first (then it is no tag).
qsizetype tagEnd(const QString &text, qsizetype from)
{
    QChar quote;
    for (qsizetype i = from; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char('>')) {
            return i;
        } else if (c == QLatin1Char('<')) {
            return -1;
        }
    }
    return -1;
}

// Tags of elements a body may hold stay (their names in lower case), tags of
// forbidden elements go, comments go; every other '<' becomes text.
QString keepEnmlTags(const QString &html)
{
    const EnmlRule &rule = EnmlRule::get();
    QString out;
    out.reserve(html.size() + 16);
    const qsizetype n = html.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = html.at(i);
        if (c != QLatin1Char('<')) {
            out += c;
            ++i;
            continue;
        }
        if (QStringView(html).mid(i, 4) == QLatin1String("<!--")) {
            const qsizetype end = html.indexOf(QLatin1String("-->"), i + 4);
            if (end >= 0) {
                i = end + 3;
                continue;
            }
        }
        qsizetype j = i + 1;
        const bool closing = j < n && html.at(j) == QLatin1Char('/');
        if (closing)
            ++j;
        const qsizetype nameStart = j;
        if (j < n && isAsciiLetter(html.at(j)))
            while (j < n && isTagNameChar(html.at(j)))
                ++j;
        const QString name = html.mid(nameStart, j - nameStart).toLower();
        const bool nameEnds = j < n
                              && (html.at(j).isSpace() || html.at(j) == QLatin1Char('/')
                                  || html.at(j) == QLatin1Char('>'));
        const qsizetype end = name.isEmpty() || !nameEnds ? -1 : tagEnd(html, j);
        if (end < 0) {
            out += QStringLiteral("&lt;");
            ++i;
            continue;
        }
        if (rule.attributes.contains(name) && !isBuilderOnlyElement(name)) {
            out += closing ? QStringLiteral("</") : QStringLiteral("<");
            out += name;
            out += QStringView(html).mid(j, end + 1 - j);
        } else if (!rule.forbidden.contains(name)) {
            out += QStringLiteral("&lt;");
            out += QStringView(html).mid(i + 1, end - i - 1);
            out += QStringLiteral("&gt;");
        }
        i = end + 1;
    }
    return out;
}

QString qualifiedName(const xmlChar *name, const xmlNs *ns)
{
    QString qualified = fromXml(name);
    if (ns && ns->prefix)
        qualified = fromXml(ns->prefix) + QLatin1Char(':') + qualified;
    return qualified;
}

QString attributeValue(xmlAttr *attribute)
{
    xmlChar *value = xmlNodeGetContent(reinterpret_cast<xmlNode *>(attribute));
    const QString text = fromXml(value);
    xmlFree(value);
    return text;
}

// Walks parsed content: finds the first markup a note may not hold, or
// writes the content again with only what it may hold.
class EnmlWriter
{
public:
    QString out;
    QString firstViolation;

    void check(xmlNode *parent)
    {
        for (xmlNode *child = parent->children; child && firstViolation.isEmpty(); child = child->next) {
            if (child->type != XML_ELEMENT_NODE)
                continue;
            const QString name = qualifiedName(child->name, child->ns);
            if (!isEnmlElement(name)) {
                firstViolation = name;
                return;
            }
            for (xmlAttr *attribute = child->properties; attribute; attribute = attribute->next) {
                const QString attributeName = qualifiedName(attribute->name, attribute->ns);
                if (!isEnmlAttribute(name, attributeName)) {
                    firstViolation = name + QLatin1Char('@') + attributeName;
                    return;
                }
            }
            check(child);
        }
    }

    void write(xmlNode *parent)
    {
        const EnmlRule &rule = EnmlRule::get();
        for (xmlNode *child = parent->children; child; child = child->next) {
            if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
                out += escapeXmlText(fromXml(child->content));
                continue;
            }
            if (child->type != XML_ELEMENT_NODE)
                continue;
            const QString name = qualifiedName(child->name, child->ns);
            if (isEnmlElement(name)) {
                out += QLatin1Char('<') + name;
                for (xmlAttr *attribute = child->properties; attribute; attribute = attribute->next) {
                    const QString attributeName = qualifiedName(attribute->name, attribute->ns);
                    if (isEnmlAttribute(name, attributeName))
                        out += QStringLiteral(" %1=\"%2\"")
                                   .arg(attributeName, escapeXmlAttribute(attributeValue(attribute)));
                }
                if (!child->children) {
                    out += QStringLiteral("/>");
                    continue;
                }
                out += QLatin1Char('>');
                write(child);
                out += QStringLiteral("</") + name + QLatin1Char('>');
            } else if (rule.forbidden.contains(name)) {
                write(child);
            } else {
                QString tag = QLatin1Char('<') + name;
                for (xmlAttr *attribute = child->properties; attribute; attribute = attribute->next)
                    tag += QStringLiteral(" %1=\"%2\"")
                               .arg(qualifiedName(attribute->name, attribute->ns), attributeValue(attribute));
                out += escapeXmlText(tag + QLatin1Char('>'));
                write(child);
                out += escapeXmlText(QStringLiteral("</") + name + QLatin1Char('>'));
            }
        }
    }
};

DocPtr parseFragment(const QString &fragment)
{
    initLibxml();
    const QByteArray xml = QByteArrayLiteral("<x>") + fragment.toUtf8() + QByteArrayLiteral("</x>");
    return DocPtr(xmlReadMemory(xml.constData(), int(xml.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

bool isTrimmable(QChar c)
{
    const QChar::Category category = c.category();
    return category == QChar::Separator_Space || category == QChar::Separator_Line
           || category == QChar::Separator_Paragraph || category == QChar::Other_Control;
}

QString trimmedOfSeparators(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isTrimmable(text.at(start)))
        ++start;
    while (end > start && isTrimmable(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

} // namespace

QString HtmlReading::linkAt(qsizetype index) const
{
    for (const Link &link : links)
        if (index >= link.start && index < link.start + link.length)
            return link.href;
    return {};
}

HtmlReading readHtml(const QString &html)
{
    HtmlTextWalker walker;
    if (html.isEmpty())
        return walker.reading;
    DocPtr doc = parseHtml(html.toUtf8());
    if (!doc)
        return walker.reading;
    walker.walk(reinterpret_cast<xmlNode *>(doc.get()), QString(), false);
    return walker.reading;
}

QString fixupNoteTitle(const QString &textile)
{
    TGTextileConverter converter;
    const QString html = converter.convert(textile, false);
    return readHtml(html).text.trimmed();
}

QString entitizeAmpersands(const QString &text)
{
    return RegExConvenience::replaceRegex(text, kBareAmpersand, QStringLiteral("&amp;"));
}

QString preprocessNoteText(const QString &text)
{
    return RegExConvenience::replaceRegex(text, QStringLiteral(R"re(<a href="mailto:(.+?)">(.+?)</a>)re"),
                                          QStringLiteral("$1"), RegExConvenience::CaseInsensitive);
}

QString fixupNoteText(const QString &html)
{
    QString text = entitizeAmpersands(html);
    text.replace(QStringLiteral("<<"), QStringLiteral("&lt;<"));
    text.replace(QStringLiteral(">>"), QStringLiteral(">&gt;"));
    for (const RegexRow &row : kParagraphRows)
        text = RegExConvenience::replaceRegex(text, QString::fromLatin1(row.pattern),
                                              QString::fromLatin1(row.replacement));
    text.replace(QStringLiteral("<br>"), QStringLiteral("<br/>"));
    text = RegExConvenience::replaceRegex(text, QStringLiteral("<input [^><]*>"), QString());
    text.replace(QStringLiteral("<hr>"), QStringLiteral("<hr/>"));
    text = RegExConvenience::replaceRegex(text, QStringLiteral(R"re(<iframe\b[^>]*?\ssrc="([^"]*)"[^>]*></iframe>)re"),
                                          QStringLiteral(R"(<a href="$1">$1</a>)"));
    return text;
}

QString toPlainText(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    QString result;
    for (const QString &line : lines) {
        result += line;
        result += QStringLiteral("<br/>");
    }
    return result;
}

QString escapeXmlAttribute(const QString &text)
{
    QString escaped = escapeXmlText(withoutNonXmlCharacters(text));
    escaped.replace(QLatin1Char('"'), QStringLiteral("&quot;"));
    escaped.replace(QLatin1Char('\t'), QStringLiteral("&#9;"));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("&#10;"));
    escaped.replace(QLatin1Char('\r'), QStringLiteral("&#13;"));
    return escaped;
}

bool isWellFormedFragment(const QString &fragment)
{
    return parseFragment(fragment) != nullptr;
}

QString wellFormedFragment(const QString &fragment)
{
    if (isWellFormedFragment(fragment))
        return fragment;
    const QString clean = withoutNonXmlCharacters(fragment);
    const QString repaired = repairedWithHtmlParser(clean);
    if (isWellFormedFragment(repaired))
        return repaired;
    return toPlainText(escapeXmlText(readHtml(clean).text));
}

QString enmlBody(const QString &html)
{
    const QString fragment = wellFormedFragment(keepEnmlTags(html));
    DocPtr doc = parseFragment(fragment);
    if (!doc)
        return fragment;
    EnmlWriter writer;
    writer.check(xmlDocGetRootElement(doc.get()));
    if (writer.firstViolation.isEmpty())
        return fragment;
    writer.write(xmlDocGetRootElement(doc.get()));
    return writer.out;
}

bool isEnmlElement(const QString &name)
{
    return EnmlRule::get().attributes.contains(name);
}

bool isEnmlAttribute(const QString &element, const QString &attribute)
{
    const EnmlRule &rule = EnmlRule::get();
    const auto found = rule.attributes.constFind(element);
    return found != rule.attributes.constEnd() && found->contains(attribute);
}

QString firstNonEnmlMarkup(const QString &fragment)
{
    DocPtr doc = parseFragment(fragment);
    if (!doc)
        return QStringLiteral("(not well-formed)");
    EnmlWriter writer;
    writer.check(xmlDocGetRootElement(doc.get()));
    return writer.firstViolation;
}

QString fitToLimit(const QString &text, int maxLength)
{
    QString fitted = text;
    for (QChar &c : fitted) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    fitted = trimmedOfSeparators(fitted);
    if (fitted.size() > maxLength) {
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, fitted);
        graphemes.setPosition(maxLength);
        if (!graphemes.isAtBoundary())
            graphemes.toPreviousBoundary();
        fitted = trimmedOfSeparators(fitted.left(qMax<qsizetype>(graphemes.position(), 0)));
    }
    return fitted;
}

} // namespace NoteText
