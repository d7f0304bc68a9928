#include "foundation/RegExConvenience.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <vector>

using namespace RegExConvenience;

TEST(RegExConvenience, ReplaceUsesIcuSyntax)
{
    struct Case
    {
        const char *text, *pattern, *tmpl, *expected;
    };
    const Case cases[] = {
        {"a *b* c", "\\*(.+?)\\*", "<strong>$1</strong>", "a <strong>b</strong> c"},
        // $ also matches before a final line terminator.
        {"ab\n", "b$", "X", "aX\n"},
        // [[:punct:]] is Unicode punctuation; "=" and "+" are symbols.
        {"a.b=c+d!", "[[:punct:]]", "_", "a_b=c+d_"},
        // "." stops at carriage return as well as line feed.
        {"ab\rcd", "a.*", "X", "X\rcd"},
        // \w is Unicode.
        {"\xc3\xa9t\xc3\xa9!", "\\w+", "W", "W!"},
        // An unmatched group is replaced by nothing.
        {"ab", "a(x)?b", "[$1]", "[]"},
        {"no match", "zzz", "y", "no match"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(replaceRegex(QString::fromUtf8(c.text), QString::fromUtf8(c.pattern), QString::fromUtf8(c.tmpl)),
                  QString::fromUtf8(c.expected))
            << c.pattern;
}

TEST(RegExConvenience, MatchedAnywhereAndOptions)
{
    EXPECT_TRUE(isMatchedByRegex(QStringLiteral("x <a href=y>"), QStringLiteral("<a\\s")));
    EXPECT_FALSE(isMatchedByRegex(QStringLiteral("x <A href=y>"), QStringLiteral("<a\\s")));
    EXPECT_TRUE(isMatchedByRegex(QStringLiteral("x <A href=y>"), QStringLiteral("<a\\s"), CaseInsensitive));
    EXPECT_FALSE(isMatchedByRegex(QStringLiteral("abc"), QStringLiteral("(unclosed")));
    EXPECT_EQ(replaceRegex(QStringLiteral("abc"), QStringLiteral("(unclosed"), QStringLiteral("x")),
              QStringLiteral("abc"));
    const Regex bad(QStringLiteral("[z-a]"));
    EXPECT_FALSE(bad.isValid());
    EXPECT_FALSE(bad.errorText().isEmpty());
}

TEST(RegExConvenience, CaptureComponentsAreMultiLineAndFreeSpacing)
{
    const QString text = QStringLiteral("## two\n# one\nx");
    // Free spacing: the blanks in the pattern are ignored, so "#" must be escaped.
    const auto found = arrayOfCaptureComponentsMatchedByRegex(text, QStringLiteral("^ (\\#+) \\s+"));
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0].range(0), (TextRange{0, 3}));
    EXPECT_EQ(found[0].captured(text, 1), QStringLiteral("##"));
    EXPECT_EQ(found[1].range(1), (TextRange{7, 1}));

    const auto inRange = arrayOfCaptureComponentsMatchedByRegex(text, QStringLiteral("^\\#+"), TextRange{7, 6});
    ASSERT_EQ(inRange.size(), 1);
    EXPECT_EQ(inRange[0].range(), (TextRange{7, 1}));

    EXPECT_TRUE(arrayOfCaptureComponentsMatchedByRegex(text, QStringLiteral("(")).isEmpty());
    const auto optional = Regex(QStringLiteral("a(x)?")).matches(QStringLiteral("a"));
    ASSERT_EQ(optional.size(), 1);
    EXPECT_FALSE(optional[0].range(1).isFound());
}

TEST(RegExConvenience, FirstMatchFromPosition)
{
    const Regex digits(QStringLiteral("\\d+"));
    const QString text = QStringLiteral("a1 b22 c333");
    const auto m = digits.firstMatch(text, 3);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->captured(text), QStringLiteral("22"));
    EXPECT_FALSE(digits.firstMatch(text, 11).has_value());
    EXPECT_FALSE(digits.firstMatch(text, 12).has_value());
}

TEST(RegExConvenience, OneCompiledPatternServesManyThreads)
{
    const Regex shared(QStringLiteral("(\\w+)@(\\w+)"));
    std::atomic<int> wrong{0};
    std::vector<QThread *> threads;
    for (int t = 0; t < 8; ++t) {
        threads.push_back(QThread::create([&shared, &wrong, t] {
            for (int i = 0; i < 2000; ++i) {
                const QString in = QStringLiteral("u%1@h%2 x").arg(t).arg(i);
                // Every other call goes through the process-wide cache.
                const QString out = (i % 2)
                                        ? shared.replace(in, QStringLiteral("$2.$1"))
                                        : replaceRegex(in, QStringLiteral("(\\w+)@(\\w+)"), QStringLiteral("$2.$1"));
                if (out != QStringLiteral("h%2.u%1 x").arg(t).arg(i))
                    ++wrong;
            }
        }));
        threads.back()->start();
    }
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    EXPECT_EQ(wrong.load(), 0);
}
