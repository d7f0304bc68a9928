#include "signin/WSKCookieStorage.h"

#include "CaseName.h"

#include <gtest/gtest.h>

#include <QDateTime>

namespace {

QNetworkCookie makeCookie(const char *name, const QString &domain, const QString &path = QStringLiteral("/"),
                          const char *value = "v")
{
    QNetworkCookie cookie(name, value);
    cookie.setDomain(domain);
    cookie.setPath(path);
    return cookie;
}

QStringList namesFor(WSKCookieStorage &jar, const char *url)
{
    QStringList names;
    for (const QNetworkCookie &cookie : jar.cookiesForURL(QUrl(QString::fromLatin1(url))))
        names.append(QString::fromLatin1(cookie.name()));
    return names;
}

struct MatchCase
{
    const char *cookieDomain;
    const char *cookiePath;
    bool secure;
    const char *url;
    bool sent;
};

void PrintTo(const MatchCase &c, std::ostream *os)
{
    *os << c.cookieDomain << c.cookiePath << (c.secure ? " secure" : "") << " -> " << c.url;
}

std::string matchCaseName(const testing::TestParamInfo<MatchCase> &info)
{
    const MatchCase &c = info.param;
    return caseName({c.cookieDomain, c.cookiePath, c.secure ? "secure" : "plain", c.url, c.sent ? "sent" : "withheld"});
}

class CookieMatchTest : public testing::TestWithParam<MatchCase>
{
};

TEST_P(CookieMatchTest, SendsCookieOnlyWhereItBelongs)
{
    const MatchCase &c = GetParam();
    WSKCookieStorage jar;
    QNetworkCookie cookie = makeCookie("c", QString::fromLatin1(c.cookieDomain), QString::fromLatin1(c.cookiePath));
    cookie.setSecure(c.secure);
    jar.setCookies({cookie});
    ASSERT_EQ(jar.cookies().size(), 1);
    EXPECT_EQ(jar.cookiesForURL(QUrl(QString::fromLatin1(c.url))).size(), c.sent ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(DomainRule, CookieMatchTest,
                         testing::Values(
                             // A domain cookie goes to the domain and its subdomains.
                             MatchCase{".example.com", "/", false, "http://example.com/", true},
                             MatchCase{".example.com", "/", false, "http://www.example.com/a", true},
                             MatchCase{".EXAMPLE.com", "/", false, "http://Example.COM/", true},
                             // Never to a host that merely ends in the same letters.
                             MatchCase{".example.com", "/", false, "http://notexample.com/", false},
                             MatchCase{".ample.com", "/", false, "http://example.com/", false},
                             // A host-only cookie goes to its own host only.
                             MatchCase{"example.com", "/", false, "http://example.com/", true},
                             MatchCase{"example.com", "/", false, "http://www.example.com/", false},
                             // Never a subdomain's cookie to its parent.
                             MatchCase{".www.example.com", "/", false, "http://example.com/", false},
                             // Addresses match exactly.
                             MatchCase{"127.0.0.1", "/", false, "http://127.0.0.1:8080/", true},
                             MatchCase{".0.0.1", "/", false, "http://127.0.0.1/", false},
                             // localhost takes its two names only.
                             MatchCase{"localhost", "/", false, "http://localhost/", true},
                             MatchCase{"localhost.local", "/", false, "http://localhost:99/x", true},
                             MatchCase{".example.com", "/", false, "http://localhost/", false},
                             // Nothing without a host.
                             MatchCase{"localhost", "/", false, "file:///tmp/x", false}),
                         matchCaseName);

INSTANTIATE_TEST_SUITE_P(PathRule, CookieMatchTest,
                         testing::Values(MatchCase{"h.test", "/", false, "http://h.test/any/thing", true},
                                         MatchCase{"h.test", "/", false, "http://h.test", true},
                                         MatchCase{"h.test", "/foo", false, "http://h.test/foo", true},
                                         MatchCase{"h.test", "/foo", false, "http://h.test/foo/bar", true},
                                         MatchCase{"h.test", "/foo/", false, "http://h.test/foo/bar", true},
                                         MatchCase{"h.test", "/foo", false, "http://h.test/foobar", false},
                                         MatchCase{"h.test", "/foo", false, "http://h.test", false},
                                         MatchCase{"h.test", "/foo/bar", false, "http://h.test/foo", false}),
                         matchCaseName);

INSTANTIATE_TEST_SUITE_P(SecureRule, CookieMatchTest,
                         testing::Values(MatchCase{"h.test", "/", true, "https://h.test/", true},
                                         MatchCase{"h.test", "/", true, "http://h.test/", false},
                                         MatchCase{"h.test", "/", false, "https://h.test/", true}),
                         matchCaseName);

TEST(CookieStoreRule, ReplacingByNameDomainAndPathMovesTheCookieLast)
{
    WSKCookieStorage jar;
    jar.setCookies({makeCookie("a", "h.test"), makeCookie("b", "h.test"), makeCookie("a", "h.test", "/x")});
    jar.setCookies({makeCookie("a", "h.test", "/", "new")});
    const QList<QNetworkCookie> sent = jar.cookiesForURL(QUrl("http://h.test/x"));
    ASSERT_EQ(sent.size(), 3);
    EXPECT_EQ(sent.at(0).name(), "b");
    EXPECT_EQ(sent.at(1).path(), "/x");
    EXPECT_EQ(sent.at(2).value(), "new");
    // Same name under another domain or case is another cookie.
    jar.setCookies({makeCookie("A", "h.test"), makeCookie("a", ".h.test")});
    EXPECT_EQ(jar.cookies().size(), 5);
}

TEST(CookieStoreRule, ExpiredCookieDeletesItsNamesakeAndIsNotStored)
{
    WSKCookieStorage jar;
    QNetworkCookie kept = makeCookie("a", "h.test");
    kept.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(1));
    jar.setCookies({kept, makeCookie("session", "h.test")});
    QNetworkCookie gone = makeCookie("a", "h.test");
    gone.setExpirationDate(QDateTime::currentDateTimeUtc().addSecs(-1));
    QNetworkCookie neverStored = makeCookie("b", "h.test");
    neverStored.setExpirationDate(QDateTime::currentDateTimeUtc().addSecs(-60));
    jar.setCookies({gone, neverStored});
    EXPECT_EQ(namesFor(jar, "http://h.test/"), QStringList{"session"});
    jar.removeExpiredCookies();
    EXPECT_EQ(jar.cookies().size(), 1); // a cookie without expiry stays
}

TEST(CookieStoreRule, IncompleteCookiesAreNotStored)
{
    WSKCookieStorage jar;
    jar.setCookies(
        {makeCookie("", "h.test"), makeCookie("a", ""), makeCookie("b", "h.test", ""), makeCookie("ok", "h.test")});
    EXPECT_EQ(namesFor(jar, "http://h.test/"), QStringList{"ok"});
}

TEST(CookieStoreRule, LookUpDeleteAndEmpty)
{
    WSKCookieStorage jar;
    jar.setCookies({makeCookie("a", "h.test", "/", "1"), makeCookie("b", "h.test")});
    const auto found = jar.cookieMatchingCookie(makeCookie("a", "h.test", "/", "other value"));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->value(), "1");
    EXPECT_FALSE(jar.cookieMatchingCookie(makeCookie("a", "h.test", "/y")).has_value());

    jar.deleteCookie(makeCookie("a", "h.test", "/", "whatever"));
    EXPECT_EQ(namesFor(jar, "http://h.test/"), QStringList{"b"});
    jar.deleteCookie(makeCookie("zz", "h.test"));
    EXPECT_EQ(jar.cookies().size(), 1);
    jar.removeAllCookies();
    EXPECT_TRUE(jar.cookiesForURL(QUrl("http://h.test/")).isEmpty());
}

struct SetCookieCase
{
    const char *header;
    const char *responseURL;
    const char *domain; // nullptr: the cookie is refused
    const char *path;
};

std::string setCookieCaseName(const testing::TestParamInfo<SetCookieCase> &info)
{
    return caseName({info.param.header, info.param.responseURL});
}

class SetCookieTest : public testing::TestWithParam<SetCookieCase>
{
};

TEST_P(SetCookieTest, CompletesOrRefusesTheCookie)
{
    const SetCookieCase &c = GetParam();
    const QList<QNetworkCookie> cookies = cookiesFromSetCookieHeaders({QByteArray(c.header)},
                                                                      QUrl(QString::fromLatin1(c.responseURL)));
    if (!c.domain) {
        EXPECT_TRUE(cookies.isEmpty());
        return;
    }
    ASSERT_EQ(cookies.size(), 1);
    EXPECT_EQ(cookies.at(0).domain(), QString::fromLatin1(c.domain));
    EXPECT_EQ(cookies.at(0).path(), QString::fromLatin1(c.path));
}

INSTANTIATE_TEST_SUITE_P(
    ResponseRule, SetCookieTest,
    testing::Values(SetCookieCase{"a=1", "http://www.example.com/dir/page", "www.example.com", "/dir"},
                    SetCookieCase{"a=1", "http://Example.com/page", "example.com", "/"},
                    SetCookieCase{"a=1; Path=/p", "http://example.com/x/y", "example.com", "/p"},
                    SetCookieCase{"a=1; Path=rel", "http://example.com/", "example.com", "/"},
                    SetCookieCase{"a=1; Domain=example.com", "http://www.example.com/", ".example.com", "/"},
                    SetCookieCase{"a=1; Domain=.www.example.com", "http://www.example.com/", ".www.example.com", "/"},
                    SetCookieCase{"a=1; Domain=127.0.0.1", "http://127.0.0.1:80/", "127.0.0.1", "/"},
                    SetCookieCase{"a=1; Domain=localhost", "http://localhost:8080/", "localhost", "/"},
                    // Another site, a subdomain, or a longer name ending alike.
                    SetCookieCase{"a=1; Domain=other.com", "http://example.com/", nullptr, nullptr},
                    SetCookieCase{"a=1; Domain=www.example.com", "http://example.com/", nullptr, nullptr},
                    SetCookieCase{"a=1; Domain=ample.com", "http://example.com/", nullptr, nullptr},
                    SetCookieCase{"a=1; Domain=0.0.1", "http://127.0.0.1/", nullptr, nullptr},
                    SetCookieCase{"a=1", "file:///tmp/x", nullptr, nullptr}),
    setCookieCaseName);

// A public suffix as Domain would send the cookie to every site under it.
INSTANTIATE_TEST_SUITE_P(
    PublicSuffixRule, SetCookieTest,
    testing::Values(SetCookieCase{"a=1; Domain=.com", "http://example.com/", nullptr, nullptr},
                    SetCookieCase{"a=1; Domain=com", "http://www.example.com/", nullptr, nullptr},
                    SetCookieCase{"a=1; Domain=co.uk", "http://shop.co.uk/", nullptr, nullptr},
                    SetCookieCase{"a=1; Domain=.CO.UK", "http://www.shop.co.uk/", nullptr, nullptr},
                    SetCookieCase{"a=1; Domain=github.io", "http://someone.github.io/", nullptr, nullptr},
                    // Unknown top-level names count as suffixes too.
                    SetCookieCase{"a=1; Domain=test", "http://h.test/", nullptr, nullptr},
                    SetCookieCase{"a=1; Domain=localhost", "http://a.localhost/", nullptr, nullptr},
                    // One level below the suffix is a site of its own.
                    SetCookieCase{"a=1; Domain=shop.co.uk", "http://www.shop.co.uk/", ".shop.co.uk", "/"},
                    SetCookieCase{"a=1; Domain=someone.github.io", "http://x.someone.github.io/", ".someone.github.io",
                                  "/"},
                    SetCookieCase{"a=1; Domain=h.test", "http://h.test/", ".h.test", "/"},
                    // A suffix's own host keeps the cookie to itself.
                    SetCookieCase{"a=1; Domain=co.uk", "http://co.uk/", "co.uk", "/"}),
    setCookieCaseName);

// RFC 6265 4.1.1: a control character in a name or value drops the cookie.
INSTANTIATE_TEST_SUITE_P(ControlCharacterRule, SetCookieTest,
                         testing::Values(SetCookieCase{"a=1\r2", "http://h.test/", nullptr, nullptr},
                                         SetCookieCase{"a=1\rSet-Cookie: evil=1", "http://h.test/", nullptr, nullptr},
                                         SetCookieCase{"a\rb=1", "http://h.test/", nullptr, nullptr},
                                         SetCookieCase{"a=x\x01y", "http://h.test/", nullptr, nullptr},
                                         SetCookieCase{"a=x\x7fy", "http://h.test/", nullptr, nullptr},
                                         SetCookieCase{"a=x\ty", "http://h.test/", nullptr, nullptr},
                                         SetCookieCase{"a=\"x\x1by\"", "http://h.test/", nullptr, nullptr},
                                         // Attributes are not the name or value.
                                         SetCookieCase{"a=1; Path=/p", "http://h.test/", "h.test", "/p"}),
                         setCookieCaseName);

TEST(CookieStoreRule, ControlCharactersNeverReachTheCookieHeader)
{
    WSKCookieStorage jar;
    jar.setCookies({makeCookie("a", "h.test", "/", "1\r\nX: y"), makeCookie("b\x7f", "h.test"),
                    makeCookie("ok", "h.test", "/", "1")});
    EXPECT_EQ(namesFor(jar, "http://h.test/"), QStringList{"ok"});
    // Cookies that never went through a jar are filtered too.
    EXPECT_EQ(cookieHeaderForCookies({makeCookie("a", "h.test", "/", "1\n2"), makeCookie("ok", "h.test")}), "ok=v");
}

TEST(SetCookieRule, EveryLineOfEveryHeaderCountsAndMaxAgeExpires)
{
    const QList<QNetworkCookie> cookies = cookiesFromSetCookieHeaders(
        {QByteArray("a=1\nb=2; Max-Age=0"), QByteArray("c=3; Secure")}, QUrl("https://h.test/"));
    ASSERT_EQ(cookies.size(), 3);
    EXPECT_FALSE(cookies.at(1).isSessionCookie());
    EXPECT_TRUE(cookies.at(2).isSecure());
    WSKCookieStorage jar;
    jar.setCookies(cookies);
    EXPECT_EQ(namesFor(jar, "https://h.test/"), (QStringList{"a", "c"}));
    EXPECT_EQ(cookieHeaderForCookies(jar.cookiesForURL(QUrl("https://h.test/"))), "a=1; c=3");
}

} // namespace
