#pragma once

#include <QList>
#include <QString>

// Text operations that turn Backpack's Textile and e-mail text into note titles
// and ENML body fragments. Each depends on its input alone and may run on any
// thread; a null string counts as empty text.
namespace NoteText {

// Plain text read from HTML, with the address of the link each character lies in.
struct HtmlReading
{
    struct Link
    {
        qsizetype start = 0;
        qsizetype length = 0;
        QString href;
    };

    QString text;
    QList<Link> links;

    // The address of the link holding the character at `index`, or a null string.
    QString linkAt(qsizetype index) const;
};

// Reads HTML (libxml2's HTML parser: markup dropped, character references
// decoded, paragraphs and line breaks as line breaks).
HtmlReading readHtml(const QString &html);

// Textile title -> trimmed plain text.
QString fixupNoteTitle(const QString &textile);

// Every '&' that does not start an entity or character reference becomes "&amp;".
QString entitizeAmpersands(const QString &text);

// Mail links reduced to their bare addresses.
QString preprocessNoteText(const QString &text);

// Converter HTML -> HTML fit for an ENML body.
QString fixupNoteText(const QString &html);

// One "<br/>"-terminated line per text line.
QString toPlainText(const QString &text);

// Plain text escaped for an XML attribute value between double quotes.
QString escapeXmlAttribute(const QString &text);

// True when `fragment`, wrapped in one element, parses as XML without a DTD.
bool isWellFormedFragment(const QString &fragment);

// `fragment` itself when it is well-formed XML content; otherwise the same
// content repaired by the HTML parser (stray '<', undeclared entities,
// misnested or unclosed tags, characters XML forbids) and written as XML.
QString wellFormedFragment(const QString &fragment);

// The last step before a body fragment goes into a note: only the elements
// and attributes the service's ENML DTD allows (XHTML's, less the ones it
// forbids) remain. A tag of a forbidden element is dropped and its text kept;
// anything else that only looks like a tag is escaped as text ("Buy <adapter>
// & charger" stays those words); comments go. Takes clean-up output, which
// need not be well-formed; returns well-formed XML content.
QString enmlBody(const QString &html);

// True for the elements a note may hold ("en-media" and "en-todo" among
// them) and for the attributes each of them may carry.
bool isEnmlElement(const QString &name);
bool isEnmlAttribute(const QString &element, const QString &attribute);

// The first element or attribute of the XML content `fragment` that a note
// may not hold, as "name" or "element@attribute"; empty when there is none,
// and "(not well-formed)" when the content does not parse.
QString firstNonEnmlMarkup(const QString &fragment);

// A name or title the service accepts: control characters and line or
// paragraph separators become blanks, the ends are trimmed, and the text is
// cut to `maxLength` UTF-16 units at a character boundary. May return empty.
QString fitToLimit(const QString &text, int maxLength);

} // namespace NoteText
