#include "foundation/TGTextileConverter.h"

#include "foundation/RegExConvenience.h"
#include "foundation/TGFoundation.h"
#include "foundation/TextileRules.h"
#include "foundation/TextileScan.h"

#include <QStringList>

using RegExConvenience::Regex;

namespace {

// Each pattern is compiled once per process and shared by all threads.
#define TEXTILE_REGEX(name, pattern, ...)                                                \
    const Regex &name()                                                                  \
    {                                                                                    \
        static const Regex compiled(QStringLiteral(pattern) __VA_OPT__(, ) __VA_ARGS__); \
        return compiled;                                                                 \
    }

TEXTILE_REGEX(strongRule, "\\*(.+?)\\*")
TEXTILE_REGEX(citeRule, "\\?\\?(.+?)\\?\\?")
TEXTILE_REGEX(subRule, "~(.+?)~")
TEXTILE_REGEX(supRule, "\\^(.+?)\\^")
TEXTILE_REGEX(codeRule, "@(.+?)@")
TEXTILE_REGEX(deletionRule, "[\\s\\n]-(\\S+?)-[\\s\\n]")
TEXTILE_REGEX(trailingSlashRule, "/\\s*$")
TEXTILE_REGEX(blockQuoteRule, "^bq\\.\\s+")
TEXTILE_REGEX(headingRule, "h([1-6])\\.\\s*(.+)")
TEXTILE_REGEX(footnoteRule, "fn([1-6])\\.\\s*(.+)")
TEXTILE_REGEX(numberedFind, "^\\#+\\s+", RegExConvenience::MultiLine | RegExConvenience::FreeSpacing)
TEXTILE_REGEX(numberedRule, "^\\#+\\s+")
TEXTILE_REGEX(bulletedFind, "^\\*+\\s+", RegExConvenience::MultiLine | RegExConvenience::FreeSpacing)
TEXTILE_REGEX(bulletedRule, "^\\*+\\s+")
TEXTILE_REGEX(paragraphTest, "^p\\.\\s+\\S")
TEXTILE_REGEX(paragraphRule, "^p\\.\\s(.*)")
TEXTILE_REGEX(paragraphIdTest, "^p\\(\\#([^\\)]*)\\)\\.\\s+\\S")
TEXTILE_REGEX(paragraphIdRule, "^p\\(\\#([^\\)]*)\\)\\.\\s(.*)")
TEXTILE_REGEX(paragraphClassTest, "^p\\(([^\\)]*)\\)\\.\\s+\\S")
TEXTILE_REGEX(paragraphClassRule, "^p\\(([^\\)]*)\\)\\.\\s(.*)")

#undef TEXTILE_REGEX

// Skips the engine for the common text that cannot match at all.
QString wrapIfHolds(const QString &text, QLatin1StringView marker, const Regex &rule, const char *tag)
{
    if (!text.contains(marker))
        return text;
    const QByteArray open = QByteArray("<") + tag + '>';
    const QByteArray close = QByteArray("</") + tag + '>';
    return textile::wrapMatches(text, rule, QLatin1StringView(open), QLatin1StringView(close));
}

// Whether "<letter><digit 1-6>." occurs, the shape the heading and footnote
// rules need before they can match.
bool holdsLevelMarker(const QString &line, QLatin1StringView letters)
{
    qsizetype i = 0;
    while ((i = line.indexOf(letters, i)) >= 0) {
        const qsizetype d = i + letters.size();
        if (d + 1 < line.size() && line.at(d) >= QLatin1Char('1') && line.at(d) <= QLatin1Char('6')
            && line.at(d + 1) == QLatin1Char('.'))
            return true;
        ++i;
    }
    return false;
}

// Whether the rule matches and its group 1, bound for an attribute value,
// carries no markup into it.
bool fitsAttribute(const Regex &rule, const QString &line)
{
    const auto m = rule.firstMatch(line);
    if (!m)
        return false;
    const QString value = m->captured(line, 1);
    return !value.contains(QLatin1Char('<')) && !value.contains(QLatin1Char('"'));
}

// Replaces the rule's matches outside tags in `line`; true when there were any.
bool replaceOutsideTags(QString &line, const Regex &rule, QLatin1StringView marker, QStringView replacement)
{
    bool matched = false;
    QString replaced = textile::replaceOutsideTags(line, rule, marker, replacement, &matched);
    if (matched)
        line = std::move(replaced);
    return matched;
}

bool holdsNonWhitespace(const QString &line)
{
    const textile::Text t(line);
    for (qsizetype i = 0; i < t.size();) {
        int len;
        if (!textile::isSpace(t.at(i, len)))
            return true;
        i += len;
    }
    return false;
}

QString inlinePass(QString text)
{
    text = wrapIfHolds(text, QLatin1StringView("*"), strongRule(), "strong");
    text = wrapIfHolds(text, QLatin1StringView("??"), citeRule(), "cite");
    text = wrapIfHolds(text, QLatin1StringView("~"), subRule(), "sub");
    text = wrapIfHolds(text, QLatin1StringView("^"), supRule(), "sup");
    text = wrapIfHolds(text, QLatin1StringView("@"), codeRule(), "code");
    text = textile::footnoteReferences(text);
    text = textile::emphasis(text);
    text = wrapIfHolds(text, QLatin1StringView("-"), deletionRule(), "del");
    text = textile::mailLinks(text);
    text = textile::autoLinkURLs(text);
    text = textile::textileLinks(text);
    text = textile::imagesWithAlt(text);
    text = textile::images(text);
    text = textile::styledSpans(text);
    text = textile::lineBreaks(text);
    return text;
}

struct LinePass
{
    QStringList output;
    QStringList lists; // "ol" / "ul", innermost last
    bool tableOpen = false;

    void adjustLists(qsizetype depth, const QString &kind)
    {
        while (lists.size() < depth) {
            output.append(QLatin1Char('<') + kind + QLatin1Char('>'));
            lists.append(kind);
        }
        while (lists.size() > depth)
            output.append(QStringLiteral("</") + lists.takeLast() + QLatin1Char('>'));
    }

    // A list line: "#"/"*" markers at the start of the line, or after a line
    // break inside it.
    bool listItem(QString &line, QChar marker, const Regex &find, const Regex &rule, const QString &kind)
    {
        if (!line.contains(marker))
            return false;
        const auto m = find.firstMatch(line);
        if (!m)
            return false;
        const qsizetype depth = TGFoundation::stringByTrimmingWhitespace(m->captured(line)).size();
        adjustLists(depth, kind);
        line = rule.replace(line, QStringLiteral("\t<li>")) + QStringLiteral("</li>");
        return true;
    }

    void add(QString line)
    {
        if (line.contains(QLatin1Char('/')))
            line = trailingSlashRule().replace(line, QString());
        bool handled = false;

        if (line.startsWith(QLatin1StringView("bq.")) && blockQuoteRule().isMatched(line)) {
            line = blockQuoteRule().replace(line, QStringLiteral("<blockquote>\n\t<p>"))
                   + QStringLiteral("</p>\n</blockquote>");
            handled = true;
        }
        // Like the inline rules, these leave tags (an address or an image
        // source such as "graph2.png") alone.
        if (holdsLevelMarker(line, QLatin1StringView("h")))
            handled = replaceOutsideTags(line, headingRule(), QLatin1StringView("h"), u"<h$1>$2</h$1>") || handled;
        if (holdsLevelMarker(line, QLatin1StringView("fn")))
            handled = replaceOutsideTags(line, footnoteRule(), QLatin1StringView("fn"),
                                         u"<sup>$1</sup><a name=\"fn$1\">$2</a>")
                      || handled;
        if (line.contains(QLatin1Char('+')) && !textile::holdsLinkElement(line)) {
            bool matched = false;
            QString inserted = textile::insertions(line, &matched);
            if (matched) {
                line = std::move(inserted);
                handled = true;
            }
        }

        if (!handled)
            handled = listItem(line, QLatin1Char('#'), numberedFind(), numberedRule(), QStringLiteral("ol"));
        if (!handled)
            handled = listItem(line, QLatin1Char('*'), bulletedFind(), bulletedRule(), QStringLiteral("ul"));
        if (!handled && line.contains(QLatin1Char('|'))) {
            if (const auto headerCells = textile::tableCells(line, true)) {
                tableOpen = true;
                line = QStringLiteral("<table><tr><th>")
                       + TGFoundation::stringByTrimmingWhitespace(line.mid(headerCells->location, headerCells->length))
                       + QStringLiteral("</th></tr>");
                line = textile::tableSeparators(line, true);
                handled = true;
            } else if (const auto cells = textile::tableCells(line, false)) {
                line = (tableOpen ? QStringLiteral("<tr><td>") : QStringLiteral("<table><tr><td>"))
                       + TGFoundation::stringByTrimmingWhitespace(line.mid(cells->location, cells->length))
                       + QStringLiteral("</td></tr>");
                tableOpen = true;
                line = textile::tableSeparators(line, false);
                handled = true;
            }
        }
        if (!handled && line.startsWith(QLatin1Char('p'))) {
            if (paragraphTest().isMatched(line)) {
                line = paragraphRule().replace(line, QStringLiteral("<p>$1</p>"));
                handled = true;
            } else if (fitsAttribute(paragraphIdTest(), line)) {
                line = paragraphIdRule().replace(line, QStringLiteral("<p id=\"$1\">$2</p>"));
                handled = true;
            } else if (fitsAttribute(paragraphClassTest(), line)) {
                line = paragraphClassRule().replace(line, QStringLiteral("<p class=\"$1\">$2</p>"));
                handled = true;
            }
        }
        if (!handled && holdsNonWhitespace(line)) {
            line = QStringLiteral("<p>") + line + QStringLiteral("</p>");
            handled = true;
        }
        if (!handled) {
            // A blank line closes the open lists and table.
            if (!lists.isEmpty()) {
                adjustLists(0, QString());
                output.append(QStringLiteral("<br/>"));
            }
            if (tableOpen) {
                output.append(QStringLiteral("</table><br/>"));
                tableOpen = false;
            }
        }
        output.append(line);
    }

    QString finish()
    {
        while (!lists.isEmpty())
            output.append(QStringLiteral("</") + lists.takeLast() + QStringLiteral("><br/>"));
        if (tableOpen)
            output.append(QStringLiteral("</table><br/>"));
        return output.join(QLatin1Char('\n'));
    }
};

} // namespace

QString TGTextileConverter::convert(const QString &text) const
{
    return convert(text, true, false);
}

QString TGTextileConverter::convert(const QString &text, bool allowBlocks) const
{
    return convert(text, allowBlocks, false);
}

QString TGTextileConverter::convert(const QString &text, bool /*allowBlocks*/, bool isListItem) const
{
    if (text.isEmpty())
        return text;
    QString html = process(text);
    if (isListItem && !html.isEmpty())
        html = cleanupListItem(html);
    if (html.endsWith(QLatin1Char('\n')))
        html.chop(1);
    return html;
}

QString TGTextileConverter::cleanupListItem(const QString &html) const
{
    const qsizetype open = html.indexOf(QLatin1StringView("<p>"));
    if (open < 0)
        return html;
    const qsizetype start = open + 3;
    const qsizetype close = html.indexOf(QLatin1StringView("</p>"), start);
    return close < 0 ? html.mid(start) : html.mid(start, close - start);
}

QString TGTextileConverter::process(const QString &text) const
{
    const QString html = inlinePass(text);
    LinePass pass;
    qsizetype start = 0;
    while (true) {
        const qsizetype lf = html.indexOf(QLatin1Char('\n'), start);
        pass.add(html.mid(start, lf < 0 ? -1 : lf - start));
        if (lf < 0)
            break;
        start = lf + 1;
    }
    return pass.finish();
}

QString TGTextileConverter::autoLinkURLs(const QString &text) const
{
    return textile::autoLinkURLs(text);
}
