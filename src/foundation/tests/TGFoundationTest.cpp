#include "foundation/TGFoundation.h"
#include "foundation/TGQuietLog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>

#include <cstdio>
#include <unistd.h>

using namespace TGFoundation;

TEST(TGFoundationStrings, BlankAndEmptyDiffer)
{
    struct Case
    {
        QString text;
        bool blank;
        bool empty;
    };
    const Case cases[] = {
        {QString(), true, true},
        {QStringLiteral(""), true, true},
        {QStringLiteral("   "), false, true},
        {QStringLiteral("\t\r\n\v\f"), false, true},
        {QString(QChar(0x85)) + QChar(0x2028) + QChar(0x00A0) + QChar(0x3000), false, true},
        {QString(QChar(0x200B)), false, false}, // zero width space is not white space
        {QStringLiteral(" x "), false, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(blank(c.text), c.blank) << c.text.toStdString();
        EXPECT_EQ(isEmpty(c.text), c.empty) << c.text.toStdString();
        EXPECT_EQ(empty(c.text), c.empty) << c.text.toStdString();
    }
}

TEST(TGFoundationStrings, TrimmingKeepsInnerWhitespace)
{
    const QString nbsp(QChar(0x00A0));
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("\tsite name\r\n"), QStringLiteral("site name")},
        {nbsp + QStringLiteral("a  b") + QChar(0x85), QStringLiteral("a  b")},
        {QStringLiteral(" \n "), QString()},
        {QStringLiteral("plain"), QStringLiteral("plain")},
    };
    for (const auto &[in, out] : cases) {
        EXPECT_EQ(trimmed(in), out);
        EXPECT_EQ(stringByTrimmingWhitespace(in), out);
    }
}

TEST(TGFoundationStrings, RangeAndLastCharacter)
{
    const QString s = QStringLiteral("ab") + QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(fullRange(s), (TextRange{0, 4}));
    // The last UTF-16 unit, which here is the low half of a surrogate pair.
    EXPECT_EQ(lastCharacter(s), QString(s.at(3)));
    EXPECT_EQ(lastCharacter(QStringLiteral("xyz")), QStringLiteral("z"));
    EXPECT_TRUE(lastCharacter(QString()).isEmpty());
}

TEST(TGFoundationStrings, DocumentPaths)
{
    const QString docs = userDocumentPath();
    EXPECT_EQ(docs, QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation).value(0));
    EXPECT_EQ(pathByAppendingToUserDocumentPath(QStringLiteral("Leafhaul/a.txt")),
              QDir(docs).filePath(QStringLiteral("Leafhaul/a.txt")));
    EXPECT_EQ(pathByAppendingToUserDocumentPath(QStringLiteral("/x")), docs + QStringLiteral("/x"));
}

TEST(TGFoundationData, Md5MatchesRfc1321Vectors)
{
    const std::pair<QByteArray, QByteArray> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &[input, hex] : vectors) {
        const QByteArray digest = md5Digest(input);
        EXPECT_EQ(digest.size(), 16);
        EXPECT_EQ(digest.toHex(), hex) << input.constData();
    }
}

TEST(TGFoundationLists, IndexingNeverReadsPastTheEnd)
{
    const QStringList three{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    const QStringList none;
    EXPECT_EQ(at(three, 2), QStringLiteral("c"));
    EXPECT_EQ(at(three, 3), std::nullopt);
    EXPECT_EQ(nth(three, 1), QStringLiteral("b"));
    EXPECT_EQ(first(three), QStringLiteral("a"));
    EXPECT_EQ(second(three), QStringLiteral("b"));
    EXPECT_EQ(third(three), QStringLiteral("c"));
    EXPECT_EQ(third(three.mid(0, 2)), std::nullopt);
    EXPECT_EQ(last(three), QStringLiteral("c"));
    EXPECT_EQ(first(none), std::nullopt);
    EXPECT_EQ(last(none), std::nullopt);
    EXPECT_TRUE(empty(none));
    EXPECT_FALSE(empty(three));
    EXPECT_EQ(length(three), 3u);
}

TEST(TGFoundationLists, RestIsNothingRatherThanEmpty)
{
    EXPECT_EQ(rest(QList<int>{1, 2}), (QList<int>{2}));
    EXPECT_EQ(rest(QList<int>{1, 2, 3}), (QList<int>{2, 3}));
    EXPECT_EQ(rest(QList<int>{1}), std::nullopt);
    EXPECT_EQ(rest(QList<int>{}), std::nullopt);
}

TEST(TGFoundationLists, WalkingAndMappingKeepOrder)
{
    const QList<int> numbers{3, 1, 2};
    QList<int> seen;
    each(numbers, [&](int n) { seen.append(n); });
    EXPECT_EQ(seen, numbers);

    QList<std::pair<int, std::size_t>> indexed;
    eachWithIndex(numbers, [&](int n, std::size_t i) { indexed.append({n, i}); });
    EXPECT_EQ(indexed, (QList<std::pair<int, std::size_t>>{{3, 0}, {1, 1}, {2, 2}}));

    const QStringList words = map(numbers, [](int n) { return QString::number(n * 10); });
    EXPECT_EQ(words, (QStringList{QStringLiteral("30"), QStringLiteral("10"), QStringLiteral("20")}));
}

namespace {

// Runs `body` with standard output sent to a temporary file and returns the
// bytes it wrote.
template<typename F>
QByteArray captureStdout(F body)
{
    QTemporaryFile file;
    EXPECT_TRUE(file.open());
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    body();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

} // namespace

TEST(TGQuietLog, WritesExactlyTheLineAndOneLineFeed)
{
    const QByteArray out = captureStdout([] {
        TGQuietLog("Received timeout for %@. Waiting and retrying",
                   QUrl(QStringLiteral("https://acme.backpackit.com/ws/pages/all")));
        TGQuietLog("Received Retry-After. Waiting %@ seconds and then retrying", QStringLiteral("5"));
        TGQuietLog("%d%% of %s, %5.2f, %@, %lu, %x, %c", 42, "pages", 3.14159, 7, 9ul, 255u, 'z');
        TGQuietLog("no arguments");
    });
    EXPECT_EQ(out, QByteArray("Received timeout for https://acme.backpackit.com/ws/pages/all. Waiting and retrying\n"
                              "Received Retry-After. Waiting 5 seconds and then retrying\n"
                              "42% of pages,  3.14, 7, 9, ff, z\n"
                              "no arguments\n"));
}

TEST(TGQuietLog, MissingArgumentsDoNotReadGarbage)
{
    const QByteArray out = captureStdout([] { TGQuietLog("%@ and %d and %s%", QStringLiteral("one")); });
    EXPECT_EQ(out, QByteArray("one and 0 and (null)%\n"));
}
