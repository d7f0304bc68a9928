#include "foundation/TGTextileConverter.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <functional>
#include <vector>

namespace {

struct Golden
{
    const char *textile;
    const char *html;
};

void expectConversions(std::initializer_list<Golden> cases)
{
    const TGTextileConverter converter;
    for (const Golden &c : cases)
        EXPECT_EQ(converter.convert(QString::fromUtf8(c.textile)).toStdString(), std::string(c.html))
            << "input: " << c.textile;
}

} // namespace

TEST(TGTextileConverter, PhraseRules)
{
    expectConversions({
        {"*bold* text", "<p><strong>bold</strong> text</p>"},
        {"*a* and *b*", "<p><strong>a</strong> and <strong>b</strong></p>"},
        {"??c?? ~s~ ^p^ @x@", "<p><cite>c</cite> <sub>s</sub> <sup>p</sup> <code>x</code></p>"},
        {"**", "<p>**</p>"},
        // A phrase never spans a line break.
        {"*a\nb*", "<p>*a<br/>b*</p>"},
        // Two at-signs on a line make code before the address rule runs.
        {"a@b.com and c@d.com", "<p>a<code>b.com and c</code>d.com</p>"},
    });
}

TEST(TGTextileConverter, FootnotesEmphasisAndDeletion)
{
    expectConversions({
        {"word[1]", "<p>word<sup><a href=\"#fn1\">1</a></sup></p>"},
        {"a [1]", "<p>a [1]</p>"},
        {"an _em_ word", "<p>an <em>em</em> word</p>"},
        {"snake_case_name", "<p>snake_case_name</p>"},
        {"|_x_", "<p>|_x_</p>"},
        // Deletion eats the white space around it.
        {"a -gone- b", "<p>a<del>gone</del>b</p>"},
        {"fn1. The note", "<sup>1</sup><a name=\"fn1\">The note</a>"},
    });
}

TEST(TGTextileConverter, AddressesAndLinks)
{
    expectConversions({
        {"Mail bob@example.com now", "<p>Mail <a href=\"mailto:bob@example.com\">bob@example.com</a> now</p>"},
        {"go to http://example.com/x now",
         "<p>go to <a href=\"http://example.com/x\">http://example.com/x</a> now</p>"},
        {"www.example.com", "<p><a href=\"http://www.example.com\">www.example.com</a></p>"},
        {"(see https://a.org).", "<p>(see <a href=\"https://a.org\">https://a.org</a>).</p>"},
        {"http://a.com http://b.com",
         "<p><a href=\"http://a.com\">http://a.com</a> <a href=\"http://b.com\">http://b.com</a></p>"},
        {"see www.example.com/a?b=1, ok",
         "<p>see <a href=\"http://www.example.com/a?b=1\">www.example.com/a?b=1</a>, ok</p>"},
        // After "=", ":", a quote, "!" or "/" an address is left alone.
        {"src=http://x.com", "<p>src=http://x.com</p>"},
        {"\"Example\":http://example.com.", "<p><a href=\"http://example.com\" title=\"\">Example</a>.</p>"},
        {"\"Ex (tip)\":http://e.com/ done", "<p><a href=\"http://e.com/\" title=\"tip\">Ex </a> done</p>"},
        {"!pic.png!", "<p><img src=\"pic.png\"/></p>"},
        {"!pic.png(A cat)!", "<p><img src=\"pic.png\" alt=\"A cat\"/></p>"},
        {"%{color:red}hot%", "<p><span style=\"color:red;\">hot</span></p>"},
    });
}

TEST(TGTextileConverter, LinesJoinUnevenly)
{
    expectConversions({
        {"Hello world", "<p>Hello world</p>"},
        {"one\ntwo", "<p>one<br/>two</p>"},
        {"First\n\nSecond", "<p>First</p>\n\n<p>Second</p>"},
        // A line starting with "p" is never joined.
        {"one\npara", "<p>one</p>\n<p>para</p>"},
        // The first join consumes the second character.
        {"a\nb\nc", "<p>a<br/>b</p>\n<p>c</p>"},
        // A joined heading opens mid-line; a joined block quote stays text.
        {"text\nh1. Title", "text<br/><h1>Title</h1>"},
        {"text\nbq. quote", "<p>text<br/>bq. quote</p>"},
        {"   ", "   "},
        {" \t ", " \t "},
        {"\n", ""},
        {"trailing/  ", "<p>trailing</p>"},
    });
}

TEST(TGTextileConverter, BlockRules)
{
    expectConversions({
        {"bq. Quote", "<blockquote>\n\t<p>Quote</p>\n</blockquote>"},
        {"h2. Heading", "<h2>Heading</h2>"},
        {"p. text", "<p>text</p>"},
        {"p(#main). text", "<p id=\"main\">text</p>"},
        {"p(note). text", "<p class=\"note\">text</p>"},
        {"p.", "<p>p.</p>"},
        // Insertion eats the white space around it and takes the line.
        {"an +added+ word", "an<ins>added</ins>word"},
        {"\"x\":http://a.com +b+ c", "<p><a href=\"http://a.com\" title=\"\">x</a> +b+ c</p>"},
    });
}

TEST(TGTextileConverter, ListsAndTables)
{
    expectConversions({
        {"* one\n* two", "<ul>\n\t<li>one</li>\n\t<li>two</li>\n</ul><br/>"},
        {"* a\n* b\n\nafter", "<ul>\n\t<li>a</li>\n\t<li>b</li>\n</ul>\n<br/>\n\n<p>after</p>"},
        {"# a\n## b\n# c", "<ol>\n\t<li>a</li>\n<ol>\n\t<li>b</li>\n</ol>\n\t<li>c</li>\n</ol><br/>"},
        // Two levels back at once close two lists.
        {"# a\n## b\n### c\n# d",
         "<ol>\n\t<li>a</li>\n<ol>\n\t<li>b</li>\n<ol>\n\t<li>c</li>\n</ol>\n</ol>\n\t<li>d</li>\n</ol><br/>"},
        // Only depth counts: a bullet at the depth of an open numbered list joins it.
        {"# a\n* b", "<ol>\n\t<li>a</li>\n\t<li>b</li>\n</ol><br/>"},
        // A paragraph does not close a list.
        {"* a\npara", "<ul>\n\t<li>a</li>\n<p>para</p>\n</ul><br/>"},
        {"|_. a |_. b |\n| 1 | 2 |",
         "<table><tr><th>a</th><th>b</th></tr>\n<tr><td>1</td><td>2</td></tr>\n</table><br/>"},
        {"| a | b |", "<table><tr><td>a</td><td>b</td></tr>\n</table><br/>"},
        {"|_. a |\n|_. b |", "<table><tr><th>a</th></tr>\n<table><tr><th>b</th></tr>\n</table><br/>"},
        {"| a |\n\nx", "<table><tr><td>a</td></tr>\n</table><br/>\n\n<p>x</p>"},
    });
}

TEST(TGTextileConverter, EntryPoints)
{
    const TGTextileConverter c;
    EXPECT_TRUE(c.convert(QString()).isNull());
    EXPECT_EQ(c.convert(QStringLiteral("")), QStringLiteral(""));
    // allowBlocks changes nothing.
    for (const char *text : {"h1. T", "* a", "*b* c", "bq. q"})
        EXPECT_EQ(c.convert(QString::fromUtf8(text), false), c.convert(QString::fromUtf8(text), true));
    // A list item loses its paragraph; without one it comes back whole.
    EXPECT_EQ(c.convert(QStringLiteral("*bold* item"), false, true), QStringLiteral("<strong>bold</strong> item"));
    EXPECT_EQ(c.convert(QStringLiteral("h1. x"), false, true), QStringLiteral("<h1>x</h1>"));
    EXPECT_EQ(c.cleanupListItem(QStringLiteral("<p>a</p><p>b</p>")), QStringLiteral("a"));
    EXPECT_EQ(c.cleanupListItem(QStringLiteral("x<p>open")), QStringLiteral("open"));
    EXPECT_EQ(c.process(QStringLiteral("a\n")), QStringLiteral("<p>a</p>\n"));
    EXPECT_EQ(c.autoLinkURLs(QStringLiteral("at www.a.io")),
              QStringLiteral("at <a href=\"http://www.a.io\">www.a.io</a>"));
}

// An address is never linked inside a tag, an attribute value or a link's
// text: the result would nest a link inside an attribute or another link.
TEST(TGTextileConverter, NoLinksInsideMarkup)
{
    expectConversions({
        {"me@www.example.com", "<p><a href=\"mailto:me@www.example.com\">me@www.example.com</a></p>"},
        {"write to me@www.example.com today",
         "<p>write to <a href=\"mailto:me@www.example.com\">me@www.example.com</a> today</p>"},
        {"<img src=\"x\" title=\"see www.example.com\">", "<p><img src=\"x\" title=\"see www.example.com\"></p>"},
        {"<a href=\"/p\">see www.x.com</a>", "<p><a href=\"/p\">see www.x.com</a></p>"},
        {"<a href=\"/p\">mail me@x.org</a>", "<p><a href=\"/p\">mail me@x.org</a></p>"},
        {"<a href=\"http://x.com\">http://x.com</a>", "<p><a href=\"http://x.com\">http://x.com</a></p>"},
        // An auto-linked address in a Textile link's text keeps its own link.
        {"\"Visit www.example.com\":http://example.com",
         "<p>\"Visit <a href=\"http://www.example.com\">www.example.com</a>\":http://example.com</p>"},
        // Outside markup the same addresses are linked.
        {"<b>www.x.com</b>", "<p><b><a href=\"http://www.x.com\">www.x.com</a></b></p>"},
        // Nor does any other rule put markup into an attribute value.
        {"<a href=\"mailto:a@b.com\">a@b.com</a>", "<p><a href=\"mailto:a@b.com\">a@b.com</a></p>"},
        {"<a href=\"/a_b_/\">x</a>", "<p><a href=\"/a_b_/\">x</a></p>"},
        {"\"tip (see *x*)\":http://a.com", "<p>\"tip (see <strong>x</strong>)\":http://a.com</p>"},
        {"word[*x*]", "<p>word[<strong>x</strong>]</p>"},
        {"p(*c*). text", "<p>p(<strong>c</strong>). text</p>"},
        // Heading, footnote and insertion rules leave tags alone too.
        {"!graph2.png!", "<p><img src=\"graph2.png\"/></p>"},
        {"\"a\":http://e.com/fn1.txt", "<p><a href=\"http://e.com/fn1.txt\" title=\"\">a</a></p>"},
        {"!p.png(a +b+ c)!", "<p><img src=\"p.png\" alt=\"a +b+ c\"/></p>"},
        // Angle brackets around an address are text, not a tag.
        {"John <john@example.com>", "<p>John <<a href=\"mailto:john@example.com\">john@example.com</a>></p>"},
        {"see <http://example.com/x>", "<p>see <<a href=\"http://example.com\">http://example.com</a>/x></p>"},
    });
}

// Converters on several threads at once share only the compiled patterns.
TEST(TGTextileConverter, ConvertsOnManyThreadsAtOnce)
{
    const QString text = QStringLiteral(
        "h1. Plan\n\n* *one* www.a.com/x\n## two me@b.org\n\n|_. a |_. b |\n| 1 | 2 |\n\n"
        "\"link (t)\":http://c.net/ and _em_ word[1] !i.png(alt)! %{color:red}x%\nbq. quote");
    const QString expected = TGTextileConverter().convert(text);
    std::atomic<int> wrong{0};
    std::vector<QThread *> threads;
    for (int t = 0; t < 8; ++t) {
        threads.push_back(QThread::create([&] {
            for (int i = 0; i < 300; ++i)
                if (TGTextileConverter().convert(text) != expected)
                    ++wrong;
        }));
        threads.back()->start();
    }
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    EXPECT_EQ(wrong.load(), 0);
}

namespace {

// Whether some attribute value holds a "<", or a link opens inside another
// (the inputs below hold at most one link of their own).
QString markupFault(const QString &html)
{
    bool inTag = false, inLink = false;
    QChar quote;
    for (qsizetype i = 0; i < html.size(); ++i) {
        const QChar c = html.at(i);
        if (!inTag) {
            if (c == QLatin1Char('<')) {
                inTag = true;
                if (html.mid(i, 8) == QLatin1String("<a href=")) {
                    if (inLink)
                        return QStringLiteral("link inside a link at %1").arg(i);
                    inLink = true;
                } else if (html.mid(i, 4) == QLatin1String("</a>")) {
                    inLink = false;
                }
            }
        } else if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            else if (c == QLatin1Char('<'))
                return QStringLiteral("markup inside an attribute at %1").arg(i);
        } else if (c == QLatin1Char('"') && i > 0 && html.at(i - 1) == QLatin1Char('=')) {
            quote = c;
        } else if (c == QLatin1Char('>')) {
            inTag = false;
        }
    }
    return {};
}

} // namespace

TEST(TGTextileConverter, RandomTextNeverPutsMarkupInAttributes)
{
    const QStringList pieces = {QStringLiteral("me"),    QStringLiteral("@"),
                                QStringLiteral("www."),  QStringLiteral("http://"),
                                QStringLiteral("x.com"), QStringLiteral(" "),
                                QStringLiteral("\""),    QStringLiteral("\":"),
                                QStringLiteral("["),     QStringLiteral("]"),
                                QStringLiteral("!"),     QStringLiteral("*"),
                                QStringLiteral("_"),     QStringLiteral("/"),
                                QStringLiteral("\n"),    QStringLiteral("."),
                                QStringLiteral("a"),     QStringLiteral("("),
                                QStringLiteral(")"),     QStringLiteral("%{"),
                                QStringLiteral("}"),     QStringLiteral("%"),
                                QStringLiteral("<b>"),   QStringLiteral("</a>"),
                                QStringLiteral("h2."),   QStringLiteral("fn1."),
                                QStringLiteral(" +"),    QStringLiteral("<a href=\"x_y_z@a@b.c*d*\">")};
    QRandomGenerator rng(42);
    const TGTextileConverter converter;
    int faults = 0;
    for (int round = 0; round < 20000 && faults < 5; ++round) {
        QString text;
        const int length = int(rng.bounded(14));
        for (int i = 0; i < length; ++i)
            text += pieces.at(int(rng.bounded(pieces.size())));
        if (text.count(QStringLiteral("<a ")) > 1)
            continue;
        const QString html = converter.convert(text);
        const QString fault = markupFault(html);
        if (!fault.isEmpty()) {
            ++faults;
            ADD_FAILURE() << fault.toStdString() << "\ninput: " << text.toStdString()
                          << "\nhtml:  " << html.toStdString();
        }
    }
}

TEST(TGTextileConverter, AnyInputConverts)
{
    const TGTextileConverter converter;
    // Lengths come from the literals themselves.
    static constexpr char kInvalidUtf8[] = "\xff\xfe\xc3(\xa0\xa1 *x* \xf0\x28\x8c\x28 _y_";
    const QByteArray invalidUtf8(kInvalidUtf8, sizeof kInvalidUtf8 - 1);
    static constexpr char kWithNuls[] = "a\0b *c*\0 www.d.com\0";
    QString loneSurrogates;
    loneSurrogates += QChar(0xD800);
    loneSurrogates += QStringLiteral("_a_ ");
    loneSurrogates += QChar(0xDC00);
    loneSurrogates += QStringLiteral("!b!");
    const QString inputs[] = {
        QString::fromUtf8(invalidUtf8),
        QString::fromUtf8(kWithNuls, sizeof kWithNuls - 1),
        loneSurrogates,
        QStringLiteral("*unclosed _markup \"link ( [note !img %{span"),
        QStringLiteral("|_. |\n|\n| |\n# \n* \n##\n"),
    };
    for (const QString &in : inputs) {
        const QString out = converter.convert(in);
        EXPECT_FALSE(out.isEmpty());
        EXPECT_LT(out.size(), in.size() * 8 + 64);
    }
    // Text passes through when no rule applies.
    EXPECT_EQ(converter.convert(QString::fromUtf8(invalidUtf8)),
              QStringLiteral("<p>")
                  + QString::fromUtf8(invalidUtf8)
                        .replace(QStringLiteral("*x*"), QStringLiteral("<strong>x</strong>"))
                        .replace(QStringLiteral("_y_"), QStringLiteral("<em>y</em>"))
                  + QStringLiteral("</p>"));
}

namespace {

double threadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double convertSeconds(const QString &text)
{
    const TGTextileConverter converter;
    double best = 1e9;
    for (int run = 0; run < 2; ++run) {
        const double start = threadSeconds();
        const QString html = converter.convert(text);
        best = std::min(best, threadSeconds() - start);
        EXPECT_FALSE(html.isEmpty());
    }
    return best;
}

QString repeatTo(const QString &unit, qsizetype size)
{
    QString s;
    s.reserve(size + unit.size());
    while (s.size() < size)
        s += unit;
    return s;
}

} // namespace

// Hostile input of 10 KB, 100 KB and 1 MB, each on one line: runs of markup
// characters without closers, and the shapes that make a backtracking
// engine retry from every position. Ten times the input may cost about ten
// times the work; the bound only separates that from squared growth, which
// would be a hundredfold.
TEST(TGTextileConverter, HostileInputGrowsLinearly)
{
    struct Shape
    {
        const char *prefix, *unit;
    };
    const Shape shapes[] = {
        {"", "*"},
        {"", "_"},
        {"", "\""},
        {"", "["},
        {"", "%"},
        {"", "!"},
        {"", "a["},
        {"", "_a "},
        {"", "\"a("},
        {"", "!a("},
        {"", "!a "},
        {"", "%{}"},
        {"", "a+b "},
        {"", " +a"},
        {"", "aaaaaaaaaa"},
        {"", "www."},
        {"", "http://a="},
        {"", "<b>"},
        {"", "<b"},
        {"", "<a href=\"x\">"},
        {"", "a@"},
        {"", "|"},
        {"", "|_. "},
        {"", "# "},
        {"", "*a* "},
        {"", "\"a\":....x "},
        {"", "h1."},
        {"", "/ "},
        {"", "a\u0301"},
        {"", "x\r"},
        {"", "??a"},
        {"", "~a"},
        {"", "^a"},
        {"", " -a-"},
        {"", "@a"},
        // A well-formed start, so every rule sees a long hostile tail.
        {"\"x\":http://a.b www.c.d *e* ", "\"a"},
        {"<b>http://a.b ", "<i"},
        // Level markers and insertions inside one long tag, and "<" that opens none.
        {"<b title=\"", "h1.fn1."},
        {"", "<b t=\" +a+ \">"},
        {"", "<a@"},
    };
    for (const Shape &shape : shapes) {
        SCOPED_TRACE(std::string(shape.prefix) + shape.unit);
        const QString prefix = QString::fromUtf8(shape.prefix);
        const QString u = QString::fromUtf8(shape.unit);
        const double small = convertSeconds(prefix + repeatTo(u, 10'000));
        const double medium = convertSeconds(prefix + repeatTo(u, 100'000));
        const double large = convertSeconds(prefix + repeatTo(u, 1'000'000));
        // Timer resolution and fixed costs blur the smallest size.
        EXPECT_LT(medium, std::max(small, 2e-4) * 30) << "10 KB " << small << " s, 100 KB " << medium << " s";
        EXPECT_LT(large, std::max(medium, 2e-3) * 30) << "100 KB " << medium << " s, 1 MB " << large << " s";
    }
}
