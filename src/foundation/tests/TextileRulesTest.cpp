// The hand-written Textile scanners against ICU running the rules' own
// patterns, on many short random texts built from the characters each rule
// cares about (and the ones where ICU's classes are subtle: combining marks,
// joiners, supplementary letters and punctuation, line terminators other
// than LF).

#include "foundation/TextileRules.h"
#include "foundation/RegExConvenience.h"
#include "foundation/TextileScan.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QStringList>

#include <functional>

using namespace RegExConvenience;

namespace {

QStringList pieces(std::initializer_list<const char16_t *> list)
{
    QStringList out;
    for (const char16_t *p : list)
        out.append(QString::fromUtf16(p));
    return out;
}

// Characters every alphabet gets.
const QStringList &common()
{
    static const QStringList c = pieces({u"a", u"b", u"1", u" ", u"\n", u"\r", u"\t", u"\u2028", u"\u0301", u"\u200d",
                                         u"\u00e9", u"\U0001D400", u"\U00010100", u".", u"-"});
    return c;
}

QString randomText(QRandomGenerator &rng, const QStringList &alphabet, int maxLength)
{
    const int length = int(rng.bounded(maxLength + 1));
    QString s;
    for (int i = 0; i < length; ++i) {
        // Favour the rule's own characters over the common ones.
        if (rng.bounded(3) == 0)
            s += common().at(int(rng.bounded(common().size())));
        else
            s += alphabet.at(int(rng.bounded(alphabet.size())));
    }
    return s;
}

QString visible(const QString &s)
{
    QString out;
    for (QChar c : s) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void compare(const QStringList &alphabet, int maxLength, int rounds,
             const std::function<QString(const QString &)> &mine,
             const std::function<QString(const QString &)> &reference)
{
    QRandomGenerator rng(20261207);
    int failures = 0;
    for (int r = 0; r < rounds && failures < 5; ++r) {
        const QString in = randomText(rng, alphabet, maxLength);
        const QString expected = reference(in);
        const QString got = mine(in);
        if (got != expected) {
            ++failures;
            ADD_FAILURE() << "input:    " << visible(in).toStdString()
                          << "\nexpected: " << visible(expected).toStdString()
                          << "\ngot:      " << visible(got).toStdString();
        }
    }
}

std::function<QString(const QString &)> icuReplace(const char16_t *pattern, const char16_t *tmpl)
{
    const Regex rule(QString::fromUtf16(pattern));
    const QString t = QString::fromUtf16(tmpl);
    return [rule, t](const QString &s) { return rule.replace(s, t); };
}

// ICU's matches, each replaced by the template, except those where one of
// `attributeGroups` holds "<", a double quote or a line feed, and (with
// `outsideTags`) those that start inside a tag: those stay as they are.
std::function<QString(const QString &)> icuReplaceOutsideAttributes(const char16_t *pattern, const char16_t *tmpl,
                                                                    QList<int> attributeGroups,
                                                                    bool outsideTags = false)
{
    const Regex rule(QString::fromUtf16(pattern));
    const QString t = QString::fromUtf16(tmpl);
    return [rule, t, attributeGroups, outsideTags](const QString &s) {
        QString out;
        qsizetype copied = 0;
        const std::vector<std::uint8_t> mask = textile::markupMask(s);
        for (const RegexMatch &m : rule.matches(s)) {
            bool veto = outsideTags && textile::inMarkup(mask, m.range().location);
            for (int g : attributeGroups) {
                const QString value = m.captured(s, g);
                veto = veto || value.contains(QLatin1Char('<')) || value.contains(QLatin1Char('"'))
                       || value.contains(QLatin1Char('\n'));
            }
            if (veto)
                continue;
            out += s.mid(copied, m.range().location - copied);
            for (qsizetype i = 0; i < t.size(); ++i) {
                if (t.at(i) == QLatin1Char('$') && i + 1 < t.size() && t.at(i + 1).isDigit())
                    out += m.captured(s, t.at(++i).digitValue());
                else
                    out += t.at(i);
            }
            copied = m.range().end();
        }
        return out + s.mid(copied);
    };
}

// The auto-linker's steps run literally with ICU on the whole pattern,
// rewriting the text in place.
QString referenceAutoLink(QString text)
{
    static const Regex url(QStringLiteral(
        "(<\\w+.*?>|[^=!:'\"\\/]|^)((?:http[s]?:\\/\\/)|(?:www\\.))(([\\w]+[=?&%+\\/.-]{0,2})*\\w+[\\/]?)"
        "([[:punct:]]|\\s|<|$)"));
    static const Regex linkTag(QStringLiteral("<a\\s"));
    qsizetype position = 0;
    while (true) {
        const auto m = url.firstMatch(text, position);
        if (!m)
            return text;
        const QString g1 = m->captured(text, 1), g2 = m->captured(text, 2), g3 = m->captured(text, 3),
                      g5 = m->captured(text, 5);
        const std::vector<std::uint8_t> mask = textile::markupMask(text);
        const qsizetype address = m->range(2).location;
        if (linkTag.isMatched(g1) || textile::inMarkup(mask, address, textile::InTag | textile::InLink)) {
            position = m->range().end() - 1;
            continue;
        }
        const QString prefix = g2 == QLatin1String("www.") ? QStringLiteral("http://www.") : g2;
        const QString replacement = g1 + QStringLiteral("<a href=\"") + prefix + g3 + QStringLiteral("\">") + g2 + g3
                                    + QStringLiteral("</a>") + g5;
        text.replace(m->range().location, m->range().length, replacement);
        position = m->range().location + replacement.size() - 1;
    }
}

} // namespace

TEST(TextileRules, MatchIcuCharacterClasses)
{
    // Every code point, lone surrogates included, against ICU's own classes.
    struct Class
    {
        const char *pattern;
        bool (*mine)(char32_t);
    };
    const Class classes[] = {
        {"\\w", textile::isWord},
        {"\\s", textile::isSpace},
        {"[[:punct:]]", textile::isPunct},
        {".", textile::isDot},
    };
    for (const Class &c : classes) {
        const Regex rule(QString::fromLatin1(c.pattern));
        int wrong = 0;
        for (char32_t cp = 0; cp <= 0x10FFFF && wrong < 3; cp += (cp < 0x30000 ? 1 : 97)) {
            const QString s = QChar::requiresSurrogates(cp) ? QString::fromUcs4(&cp, 1) : QString(QChar(char16_t(cp)));
            const bool icu = rule.matches(s).size() == 1 && rule.matches(s).first().range().length == s.size();
            if (icu != c.mine(cp)) {
                ++wrong;
                ADD_FAILURE() << c.pattern << " differs at U+" << std::hex << unsigned(cp);
            }
        }
    }
}

TEST(TextileRules, InlineScannersEqualIcu)
{
    struct Rule
    {
        const char *name;
        QStringList alphabet;
        std::function<QString(const QString &)> mine, reference;
    };
    const Rule rules[] = {
        {"footnote reference", pieces({u"[", u"]", u"[", u"x", u"_"}), textile::footnoteReferences,
         icuReplace(u"\\b\\[(.+?)\\]", u"<sup><a href=\"#fn$1\">$1</a></sup>")},
        {"emphasis", pieces({u"_", u"_", u"|", u"x", u"!"}), textile::emphasis,
         icuReplace(u"(?<!\\|)\\b_(.+?)_\\b", u"<em>$1</em>")},
        {"mail address", pieces({u"@", u"@", u".", u"c", u"_", u"%", u"+", u"Z", u"9", u"!", u"x@y.z", u"@a.b", u".c"}),
         textile::mailLinks,
         icuReplace(u"([\\w\\.!#\\$%\\-+.]+@[A-Za-z0-9\\-]+(\\.[A-Za-z0-9\\-]+)+)", u"<a href=\"mailto:$1\">$1</a>")},
        {"textile link", pieces({u"\"", u"\"", u":", u"(", u")", u"/", u";", u"x", u"|", u"!", u"\"a\":b"}),
         textile::textileLinks,
         icuReplaceOutsideAttributes(
             u"\"([^\"\\(\\n]+)\\s?(\\(([^\\)]+)\\))?\":(\\S+?)(\\/)?([^\\w\\/;]*?)(?=<|\\||\\s|$)",
             u"<a href=\"$4$5\" title=\"$3\">$1</a>$6", {3, 4})},
        {"image with text", pieces({u"!", u"!", u"(", u")", u"x", u")!", u"_", u"!a(", u"b)!", u"(c"}),
         textile::imagesWithAlt, icuReplace(u"!\\b(.+?)\\(\\b(.+?)\\b\\)!", u"<img src=\"$1\" alt=\"$2\"/>")},
        {"image", pieces({u"!", u"!", u"x", u"(", u"_"}), textile::images,
         icuReplace(u"!\\b(.+?)\\b!", u"<img src=\"$1\"/>")},
        {"line break", pieces({u"\n", u"\n", u"#", u"*", u"|", u"p", u"x"}), textile::lineBreaks,
         icuReplace(u"([^\\n])\\n([^#\\*\\n\\|p])", u"$1<br/>$2")},
        {"styled span", pieces({u"%", u"%{", u"{", u"}", u"}", u"x"}), textile::styledSpans,
         icuReplace(u"%\\{(.*)\\}(.*)%", u"<span style=\"$1;\">$2</span>")},
    };
    for (const Rule &rule : rules) {
        SCOPED_TRACE(rule.name);
        compare(rule.alphabet, 16, 20000, rule.mine, rule.reference);
    }
}

TEST(TextileRules, AutoLinkerEqualsTheLiteralSteps)
{
    const QStringList alphabet = pieces({u"www.", u"http://", u"https://", u"x", u"_", u"=", u"/", u"?", u"<", u">",
                                         u"<b>", u"<a ", u"\"", u":", u"!", u"$", u"@", u"+"});
    compare(alphabet, 12, 20000, textile::autoLinkURLs, referenceAutoLink);
}

TEST(TextileRules, LineScannersEqualIcu)
{
    const QStringList insertion = pieces({u"+", u"+", u" +", u"x", u"<a href=\"", u"\">", u"</a>"});
    const auto insertionReference = icuReplaceOutsideAttributes(u"\\s\\++?(.+?)\\+\\s+?", u"<ins>$1</ins>", {}, true);
    auto withMatched = [](const QString &in, const QString &out) {
        return out + (out != in ? QStringLiteral("|yes") : QStringLiteral("|no"));
    };
    compare(
        insertion, 14, 20000,
        [&](const QString &s) {
            bool matched = false;
            const QString out = textile::insertions(s, &matched);
            return out + (matched ? QStringLiteral("|yes") : QStringLiteral("|no"));
        },
        [&](const QString &s) { return withMatched(s, insertionReference(s)); });

    // Heading and footnote lines: a match that starts inside a tag is passed
    // over and the search goes on from the character after its start.
    const QStringList level = pieces({u"h1.", u"fn2.", u"h", u"1", u".", u" ", u"<b>", u"<a href=\"", u"\">", u"x"});
    struct Level
    {
        const char *marker;
        const char16_t *pattern, *tmpl;
    };
    for (const Level &l : {Level{"h", u"h([1-6])\\.\\s*(.+)", u"<h$1>$2</h$1>"},
                           Level{"fn", u"fn([1-6])\\.\\s*(.+)", u"<sup>$1</sup><a name=\"fn$1\">$2</a>"}}) {
        SCOPED_TRACE(l.marker);
        const QString tmpl = QString::fromUtf16(l.tmpl);
        const Regex rule(QString::fromUtf16(l.pattern));
        const auto reference = [&](const QString &s) {
            const std::vector<std::uint8_t> mask = textile::markupMask(s);
            QString out;
            qsizetype copied = 0, from = 0;
            while (const auto m = rule.firstMatch(s, from)) {
                const TextRange whole = m->range();
                from = whole.location + 1;
                if (textile::inMarkup(mask, whole.location))
                    continue;
                out += s.mid(copied, whole.location - copied) + rule.replace(m->captured(s), tmpl);
                copied = from = whole.end();
            }
            return out + s.mid(copied);
        };
        compare(
            level, 14, 20000,
            [&](const QString &s) {
                bool matched = false;
                const QString out = textile::replaceOutsideTags(s, rule, QLatin1StringView(l.marker), tmpl, &matched);
                return out + (matched ? QStringLiteral("|yes") : QStringLiteral("|no"));
            },
            [&](const QString &s) { return withMatched(s, reference(s)); });
    }

    const Regex linkElement(QStringLiteral("<a\\s*href=\\\".*\\\">.*</a>"));
    compare(
        insertion, 14, 20000,
        [](const QString &s) { return textile::holdsLinkElement(s) ? QStringLiteral("y") : QStringLiteral("n"); },
        [&](const QString &s) { return linkElement.isMatched(s) ? QStringLiteral("y") : QStringLiteral("n"); });

    const QStringList table = pieces({u"|", u"|", u"|_.", u"_", u".", u"x", u"\r\n", u"\u000b"});
    for (bool header : {true, false}) {
        SCOPED_TRACE(header ? "header" : "row");
        const Regex cells(QString::fromLatin1(header ? "^\\|\\_\\.\\s*(.*)\\s*\\|$" : "^\\|\\s*(.*)\\s*\\|$"),
                          MultiLine | FreeSpacing);
        auto show = [](const QString &s, std::optional<TextRange> r) {
            return r ? QStringLiteral("[%1]").arg(s.mid(r->location, r->length)) : QStringLiteral("none");
        };
        compare(
            table, 14, 20000, [&](const QString &s) { return show(s, textile::tableCells(s, header)); },
            [&](const QString &s) {
                const auto m = cells.firstMatch(s);
                return show(s, m ? std::optional<TextRange>(m->range(1)) : std::nullopt);
            });
        compare(
            table, 14, 20000, [&](const QString &s) { return textile::tableSeparators(s, header); },
            header ? icuReplace(u"\\s*\\|\\_\\s*\\.?\\s*", u"</th><th>") : icuReplace(u"\\s*\\|\\s*", u"</td><td>"));
    }
}

TEST(TextileRules, MarkupMaskCoversTagsAndLinkText)
{
    const QString text = QStringLiteral("a <b x=\"c>d\">e <a href=\"f\">g</a> h <i");
    const std::vector<std::uint8_t> mask = textile::markupMask(text);
    ASSERT_EQ(mask.size(), size_t(text.size()) + 1);
    auto at = [&](const char *needle) { return int(mask[size_t(text.indexOf(QLatin1String(needle)))]); };
    EXPECT_EQ(at("a <"), 0);
    EXPECT_EQ(at("x="), textile::InTag);
    EXPECT_EQ(at("d\""), textile::InTag); // a ">" inside a quoted value does not end the tag
    EXPECT_EQ(at("e "), 0);
    EXPECT_EQ(at("f\""), textile::InTag);
    EXPECT_EQ(at("g<"), textile::InLink); // the link's text
    EXPECT_EQ(at(" h <"), 0);
    EXPECT_EQ(mask.back(), textile::InTag); // the unclosed "<i" runs to the end
    EXPECT_TRUE(textile::markupMask(QStringLiteral("no markup")).empty());

    // A "<" starts a tag only before a name that a tag can go on from.
    struct Case
    {
        const char *text;
        bool tag;
    };
    for (const Case &c : {Case{"<john@example.com>", false}, Case{"<http://x.com>", false}, Case{"< b>", false},
                          Case{"<3 >", false}, Case{"<b>", true}, Case{"</b >", true}, Case{"<br/>", true},
                          Case{"<h1 x>", true}, Case{"<!-- c -->", true}, Case{"<b", true}}) {
        const std::vector<std::uint8_t> m = textile::markupMask(QString::fromLatin1(c.text));
        EXPECT_EQ(textile::inMarkup(m, 1), c.tag) << c.text;
    }
}
