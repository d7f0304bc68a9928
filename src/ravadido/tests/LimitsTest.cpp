// The limits as the service states them: the expressions compile in ICU and
// draw the lines their lengths promise, the sets hold what they should and
// the two upload limits need 64 bits.

#include "ravadido/Limits.h"

#include "foundation/RegExConvenience.h"

#include <gtest/gtest.h>

#include <thread>
#include <type_traits>

using namespace ravadido;
using L = RURULimitsConstants;

namespace {

QString q(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString repeated(const char *piece, int times)
{
    return QString(piece).repeated(times);
}

} // namespace

TEST(Limits, ExpressionsCompileAndDrawTheirLines)
{
    struct Case
    {
        const char *what;
        std::string_view regex;
        QString accepted;
        QString rejected;
    };
    const Case cases[] = {
        {"attribute", L::RURU_ATTRIBUTE_REGEX(), repeated("ä", 4096), repeated("a", 4097)},
        {"guid", L::RURU_GUID_REGEX(), "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"},
        {"e-mail local part", L::RURU_EMAIL_LOCAL_REGEX(), "a.b+c{}~", "a..b"},
        {"e-mail domain", L::RURU_EMAIL_DOMAIN_REGEX(), "mail.example.test", "example.t"},
        {"e-mail", L::RURU_EMAIL_REGEX(), "who`ever@example.test", "who@ever@example.test"},
        {"time zone", L::RURU_TIMEZONE_REGEX(), "GMT+05:30", "+05:30"},
        {"mime", L::RURU_MIME_REGEX(), "application/vnd.ravadido.ink", "image"},
        {"search query", L::RURU_SEARCH_QUERY_REGEX(), "", "a\nb"},
        {"user name", L::RURU_USER_USERNAME_REGEX(), "a" + repeated("_", 62) + "b", "a_"},
        {"full name", L::RURU_USER_NAME_REGEX(), "Jo Bloggs", ""},
        {"tag", L::RURU_TAG_NAME_REGEX(), "a b", "a,b"},
        {"note title", L::RURU_NOTE_TITLE_REGEX(), "T" + repeated("x", 254), " T"},
        {"note title of 256 characters", L::RURU_NOTE_TITLE_REGEX(), "T" + repeated("x", 254),
         "T" + repeated("x", 255)},
        {"application data name", L::RURU_APPLICATIONDATA_NAME_REGEX(), "a.b", "ab"},
        {"application data value", L::RURU_APPLICATIONDATA_VALUE_REGEX(), repeated("v", 4092), repeated("v", 4093)},
        {"notebook", L::RURU_NOTEBOOK_NAME_REGEX(), "Backpack, pages", "Pa\u2028ge"},
        {"publishing uri", L::RURU_PUBLISHING_URI_REGEX(), "my-notes.~_+", "my/notes"},
        {"publishing description", L::RURU_PUBLISHING_DESCRIPTION_REGEX(), "D" + repeated("x", 199),
         "D" + repeated("x", 200)},
        {"password", L::RURU_USER_PASSWORD_REGEX(), "[a\\b]-", "pass word"},
        {"content class", L::RURU_NOTE_CONTENT_CLASS_REGEX(), "ravadido.skitch", "ravadido skitch"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RegExConvenience::Regex regex(q(c.regex));
        ASSERT_TRUE(regex.isValid()) << regex.errorText().toStdString();
        EXPECT_TRUE(regex.isMatched(c.accepted));
        EXPECT_FALSE(regex.isMatched(c.rejected));
    }
    EXPECT_EQ(L::RURU_NOTEBOOK_STACK_REGEX(), L::RURU_NOTEBOOK_NAME_REGEX());
    EXPECT_EQ(L::RURU_SAVED_SEARCH_NAME_REGEX(), L::RURU_NOTEBOOK_NAME_REGEX());
    // The password class ends in a backslash and a hyphen: both are characters.
    EXPECT_NE(L::RURU_USER_PASSWORD_REGEX().find(R"(\[\]\\-])"), std::string_view::npos);
}

TEST(Limits, SetsAndWideValues)
{
    const auto &types = L::RURU_MIME_TYPES();
    EXPECT_EQ(types.size(), 9u);
    for (auto t : {L::RURU_MIME_TYPE_GIF(), L::RURU_MIME_TYPE_JPEG(), L::RURU_MIME_TYPE_PNG(), L::RURU_MIME_TYPE_WAV(),
                   L::RURU_MIME_TYPE_MP3(), L::RURU_MIME_TYPE_AMR(), L::RURU_MIME_TYPE_MP4_VIDEO(),
                   L::RURU_MIME_TYPE_INK(), L::RURU_MIME_TYPE_PDF()})
        EXPECT_EQ(types.count(std::string(t)), 1u) << t;
    EXPECT_EQ(types.count(std::string(L::RURU_MIME_TYPE_DEFAULT())), 0u);
    EXPECT_EQ(L::RURU_PUBLISHING_URI_PROHIBITED(), std::set<std::string>{".."});

    static_assert(std::is_same_v<decltype(L::RURU_USER_UPLOAD_LIMIT_PREMIUM()), std::int64_t>);
    static_assert(std::is_same_v<decltype(L::RURU_NOTE_SIZE_MAX_PREMIUM()), std::int32_t>);
    EXPECT_EQ(L::RURU_USER_UPLOAD_LIMIT_PREMIUM(), std::int64_t{1} << 30);
    EXPECT_EQ(L::RURU_USER_UPLOAD_LIMIT_FREE(), 60 * (std::int64_t{1} << 20));
    EXPECT_EQ(L::RURU_COMMERCE_SERVICE_CYBERSOURCE().size(), 8u);

    // Built once: every thread sees the same set.
    const std::set<std::string> *seen[4] = {};
    std::thread threads[4];
    for (int i = 0; i < 4; ++i)
        threads[i] = std::thread([&seen, i] { seen[i] = &L::RURU_PUBLISHING_URI_PROHIBITED(); });
    for (auto &t : threads)
        t.join();
    for (auto *s : seen)
        EXPECT_EQ(s, &L::RURU_PUBLISHING_URI_PROHIBITED());
}
