#include "app/NoteText.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace NoteText;

namespace {

struct Row
{
    const char *name;
    QString input;
    QString expected;
};

TEST(NoteText, FixupNoteText)
{
    const Row rows[] = {
        {"ampersandBeforeLaterSemicolon", "fish & chips; peas", "fish &amp; chips; peas"},
        {"semicolonOnALaterLine", "a & b\nc; d", "a &amp; b\nc; d"},
        {"entitiesKept", "&lt; &#123; &#x1F; &amp; &eacute;", "&lt; &#123; &#x1F; &amp; &eacute;"},
        {"doubleAmpersand", "a && b;", "a &amp;&amp; b;"},
        {"ampersandAtEnd", "Grüße &", "Grüße &amp;"},
        {"notAnEntityName", "& ; &1; &#x; &#xZZ;", "&amp; ; &amp;1; &amp;#x; &amp;#xZZ;"},
        {"classStopsAtQuote", R"(<p class="a">Hi <span class="b">x</span></p>)",
         R"(<p>Hi <span class="b">x</span></p>)"},
        {"twoParagraphIdsOnOneLine", R"(<p id="x">ä</p><p id="y">ö</p>)", "<p>ä</p><p>ö</p>"},
        {"headingKeepsLevel", R"(<h2 class="c">Tïtel</h2><h9 id="z">x</h9><h0 id="z">)",
         R"(<h2>Tïtel</h2><h9>x</h9><h0 id="z">)"},
        {"breaksRulesAndDoubledBrackets", "a<br>b<hr> a << b >> c <<<", "a<br/>b<hr/> a &lt;< b >&gt; c &lt;<<"},
        {"inputWithAttributesRemoved", R"(x<input type="checkbox" checked>y<input>)", "xy<input>"},
        {"iframesBecomeLinks",
         R"(<iframe width="1" src="http://v.example/ü" height="2"></iframe> und <iframe src="http://b/"></iframe>)",
         R"(<a href="http://v.example/ü">http://v.example/ü</a> und <a href="http://b/">http://b/</a>)"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(fixupNoteText(row.input), row.expected) << row.name;
}

// Only "&name;", "&#digits;" and "&#xhex;" are references; an ampersand
// before anything else, "&#;" and "&#x;" included, is bare.
TEST(NoteText, EntitizeAmpersandsKeepsOnlyCompleteReferences)
{
    const Row rows[] = {
        {"emptyDecimal", "a &#; b", "a &amp;#; b"},
        {"emptyHex", "a &#x; b", "a &amp;#x; b"},
        {"capitalEmptyHex", "&#X;", "&amp;#X;"},
        {"named", "&name; &eacute;", "&name; &eacute;"},
        {"decimal", "&#123;", "&#123;"},
        {"hex", "&#x1F; &#X1f;", "&#x1F; &#X1f;"},
        {"emptyBeforeComplete", "&#;&#123;", "&amp;#;&#123;"},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(entitizeAmpersands(row.input), row.expected) << row.name;
        EXPECT_EQ(fixupNoteText(row.input), row.expected) << row.name;
    }
}

// The service rejects a note with an element or attribute its ENML DTD does
// not allow.
TEST(NoteText, EnmlBodyHoldsOnlyWhatTheServiceAllows)
{
    const Row rows[] = {
        {"textThatLooksLikeATag", "Buy <adapter> &amp; charger", "Buy &lt;adapter&gt; &amp; charger"},
        {"unknownEndTag", "a </adapter> b", "a &lt;/adapter&gt; b"},
        {"unknownWithAttributes", R"(<x-y z="1">w)", R"(&lt;x-y z="1"&gt;w)"},
        {"namespaced", "<o:p>x</o:p>", "&lt;o:p&gt;x&lt;/o:p&gt;"},
        {"builderElementsAreText", R"(<en-todo checked="true"/>x)", R"(&lt;en-todo checked="true"/&gt;x)"},
        {"strayLess", "a < b <3", "a &lt; b &lt;3"},
        {"forbiddenElementKeepsItsText", R"(<form action="/x">Name <input type="text"><button>Los</button></form>)",
         "Name Los"},
        {"scriptTextStays", "<p>a<script>b()</script></p>", "<p>ab()</p>"},
        {"documentWrappersGo", "<html><head><title>T</title></head><body><p>x</p></body></html>",
         "&lt;title&gt;T&lt;/title&gt;<p>x</p>"},
        {"forbiddenAttributesGo", R"re(<p id="a" class="b" onclick="c()" style="color:red">x</p>)re",
         R"(<p style="color:red">x</p>)"},
        {"attributesOfAnotherElementGo", R"(<span href="x" align="left">y</span>)", "<span>y</span>"},
        {"focusAndDataAttributesGo",
         R"(<a href="h" accesskey="k" tabindex="1" onmouseover="m">l</a><img src="s" dynsrc="d" data="e"/>)",
         R"(<a href="h">l</a><img src="s"/>)"},
        {"capitalTagsLowered", "<B>fett</B><BR/>", "<b>fett</b><br/>"},
        {"commentsGo", "a<!-- b -->c", "ac"},
        {"allowedMarkupKeptAsWritten",
         R"(<p align="center">Grüße <a href="http://x/?a=1&amp;b=2">mehr</a></p><br/><table border="1"><tr><td colspan="2">z</td></tr></table>)",
         R"(<p align="center">Grüße <a href="http://x/?a=1&amp;b=2">mehr</a></p><br/><table border="1"><tr><td colspan="2">z</td></tr></table>)"},
    };
    for (const Row &row : rows) {
        const QString body = enmlBody(row.input);
        EXPECT_EQ(body, row.expected) << row.name;
        EXPECT_TRUE(isWellFormedFragment(body)) << row.name;
        EXPECT_EQ(firstNonEnmlMarkup(body), QString()) << row.name;
    }
}

TEST(NoteText, FirstNonEnmlMarkup)
{
    const Row rows[] = {
        {"allowed", R"(<p>a<en-todo checked="true"/><en-media type="image/png" hash="00"/></p>)", ""},
        {"forbiddenElement", "<p><form/></p>", "form"},
        {"unknownElement", "<adapter/>", "adapter"},
        {"forbiddenAttribute", R"(<p class="x"/>)", "p@class"},
        {"attributeOfAnotherElement", R"(<en-todo hash="x"/>)", "en-todo@hash"},
        {"notWellFormed", "<p>", "(not well-formed)"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(firstNonEnmlMarkup(row.input), row.expected) << row.name;
    for (const char *forbidden :
         {"applet", "base",   "basefont",  "bgsound", "blink",  "body",   "button",   "dir",      "embed",   "fieldset",
          "form",   "frame",  "frameset",  "head",    "html",   "iframe", "ilayer",   "input",    "isindex", "label",
          "layer",  "legend", "link",      "marquee", "menu",   "meta",   "noframes", "noscript", "object",  "optgroup",
          "option", "param",  "plaintext", "script",  "select", "style",  "textarea", "xml"})
        EXPECT_FALSE(isEnmlElement(QLatin1String(forbidden))) << forbidden;
    for (const char *attribute : {"id", "class", "onclick", "accesskey", "data", "dynsrc", "tabindex"})
        for (const char *element : {"a", "p", "img", "td", "en-media"})
            EXPECT_FALSE(isEnmlAttribute(QLatin1String(element), QLatin1String(attribute))) << element << attribute;
}

TEST(NoteText, PreprocessNoteTextReducesMailLinks)
{
    const Row rows[] = {
        {"lower", R"(Mail <a href="mailto:jörg@example.de">Jörg</a>!)", "Mail jörg@example.de!"},
        {"capitals", R"(<A HREF="MAILTO:a@b.c">X</A>)", "a@b.c"},
        {"twoOnOneLine", R"(<a href="mailto:a@b.c">A</a>, <a href="mailto:d@e.f">D</a>)", "a@b.c, d@e.f"},
        {"otherLinkKept", R"(<a href="http://x/">X</a>)", R"(<a href="http://x/">X</a>)"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(preprocessNoteText(row.input), row.expected) << row.name;
}

TEST(NoteText, FixupNoteTitle)
{
    const Row rows[] = {
        {"strong", "*Fette* Wörter", "Fette Wörter"},
        {"entity", "Fish &amp; Chips", "Fish & Chips"},
        {"blank", " \t ", ""},
        {"trimmed", "  Ünïcödé  ", "Ünïcödé"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(fixupNoteTitle(row.input), row.expected) << row.name;
}

TEST(NoteText, ReadHtmlGivesTextAndLinks)
{
    const HtmlReading reading = readHtml(
        QStringLiteral(R"(<p><a href=" http://example.org/ä ">Lïnk</a> &amp; &eacute;tude</p>)"
                       "\n<p>zwei<br>drei</p>"));
    EXPECT_EQ(reading.text.trimmed(), QStringLiteral("Lïnk & étude\nzwei\ndrei"));
    EXPECT_EQ(reading.linkAt(0), QStringLiteral("http://example.org/ä"));
    EXPECT_EQ(reading.linkAt(3), QStringLiteral("http://example.org/ä"));
    EXPECT_TRUE(reading.linkAt(4).isNull());
    EXPECT_TRUE(readHtml(QString()).text.isEmpty());
}

TEST(NoteText, ReadHtmlWorksOnWorkerThreads)
{
    QList<QString> results(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&results, i] {
            for (int n = 0; n < 200; ++n)
                results[i] = fixupNoteTitle(QStringLiteral("*Fäden* &amp; %1").arg(i));
        });
    for (std::thread &thread : threads)
        thread.join();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(results[i], QStringLiteral("Fäden & %1").arg(i));
}

TEST(NoteText, EscapeXmlAttribute)
{
    EXPECT_EQ(escapeXmlAttribute(QStringLiteral(R"(Q&A "Grüße" <b> 'x')")),
              QStringLiteral("Q&amp;A &quot;Grüße&quot; &lt;b&gt; 'x'"));
    EXPECT_TRUE(
        isWellFormedFragment(QStringLiteral(R"(<e t="%1"/>)").arg(escapeXmlAttribute(QStringLiteral("\"<&>\x01\n")))));
}

TEST(NoteText, WellFormedFragmentRepairsOnlyBrokenXml)
{
    const QString good = QStringLiteral(R"(<p>Grüße &amp; <a href="http://x/">mehr</a></p><br/>)");
    EXPECT_EQ(wellFormedFragment(good), good);
    struct Broken
    {
        const char *name;
        QString input;
        QString words; // text that must survive
    };
    const Broken rows[] = {
        {"strayLess", "<p>a < b</p>", "a < b"},
        {"htmlEntity", "<p>&nbsp;Übung&mdash;gut</p>", "Übung\u2014gut"},
        {"undeclaredEntity", "AT&T; ok", "AT&T; ok"},
        {"misnested", "<strong>fett <em>kursiv</strong> weiter</em>", "fett kursiv weiter"},
        {"unclosed", "<p>offen", "offen"},
        {"controlCharacter", "a\001b\013c", "abc"},
    };
    for (const Broken &row : rows) {
        ASSERT_FALSE(isWellFormedFragment(row.input)) << row.name;
        const QString repaired = wellFormedFragment(row.input);
        EXPECT_TRUE(isWellFormedFragment(repaired)) << row.name << ": " << repaired.toStdString();
        EXPECT_EQ(readHtml(repaired).text.trimmed(), row.words) << row.name;
    }
}

TEST(NoteText, FitToLimit)
{
    const struct
    {
        const char *name;
        QString input;
        int limit;
        QString expected;
    } rows[] = {
        {"trimmed", " \tTitel\r\n ", 255, "Titel"},
        {"innerBreaks", "a\nb\tc\u2028d", 255, "a b c d"},
        {"blankOnly", "\u00a0 \u2029", 255, ""},
        {"cutAtLimit", QString(300, QChar(0xE9)), 255, QString(255, QChar(0xE9))},
        {"graphemeNotSplit", QString(254, QLatin1Char('a')) + QStringLiteral("e\u0301"), 255,
         QString(254, QLatin1Char('a'))},
        {"blankBeforeCut", QStringLiteral("abc  defgh"), 5, "abc"},
        {"fits", QString(100, QLatin1Char('x')), 100, QString(100, QLatin1Char('x'))},
    };
    for (const auto &row : rows)
        EXPECT_EQ(fitToLimit(row.input, row.limit), row.expected) << row.name;
}

} // namespace
