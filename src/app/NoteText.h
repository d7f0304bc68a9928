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

// A name or title the service accepts: control characters and line or
// paragraph separators become blanks, the ends are trimmed, and the text is
// cut to `maxLength` UTF-16 units at a character boundary. May return empty.
QString fitToLimit(const QString &text, int maxLength);

} // namespace NoteText
