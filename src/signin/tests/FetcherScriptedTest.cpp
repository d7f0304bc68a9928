// The fetcher's status, redirect, challenge and retry rules, driven through a
// scripted connection: each test plays the network's events by hand.
#include "signin/WSKHTTPFetcher.h"

#include "CaseName.h"
#include "foundation/SyncHttp.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <functional>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

class FakeConnection : public WSKURLConnection
{
public:
    FakeConnection(WSKConnectionRequest sent, std::shared_ptr<WSKURLConnectionDelegate> receiver)
        : request(std::move(sent)), delegate(std::move(receiver))
    {
    }

    void start() override { started = true; }
    void cancel() override { cancelled = true; }
    void useCredential(const WSKURLCredential &credential, const WSKAuthenticationChallenge &) override
    {
        credentialsUsed.push_back(credential.user);
    }
    void cancelAuthenticationChallenge(const WSKAuthenticationChallenge &) override
    {
        ++challengeCancels;
        // The platform reports its own failure for the cancelled challenge.
        delegate->connectionDidFailWithError(this, Error(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorCancelled));
    }
    void setDelegateQueue(QObject *queue) override { delegateQueue = queue; }

    static WSKURLResponse response(int status, QList<std::pair<QByteArray, QByteArray>> headers = {},
                                   const char *url = "http://a.test/")
    {
        WSKURLResponse r;
        r.url = QUrl(QString::fromLatin1(url));
        r.hasHeaderFields = true;
        r.statusCode = status;
        r.headerFields = std::move(headers);
        return r;
    }

    void respond(int status, const QByteArray &body = {}, QList<std::pair<QByteArray, QByteArray>> headers = {})
    {
        WSKURLResponse r = response(status, std::move(headers), request.request.url.toLatin1().constData());
        respondWith(r, body);
    }
    void respondWith(const WSKURLResponse &r, const QByteArray &body)
    {
        const auto keep = delegate;
        keep->connectionDidReceiveResponse(this, r);
        if (!body.isEmpty())
            keep->connectionDidReceiveData(this, body);
        keep->connectionDidFinishLoading(this);
    }
    void fail(long code) { delegate->connectionDidFailWithError(this, Error(SyncHttp::kURLErrorDomain, code)); }
    std::optional<HttpRequest> redirect(const char *location, QList<std::pair<QString, QString>> extraHeaders = {},
                                        QList<std::pair<QByteArray, QByteArray>> responseHeaders = {})
    {
        HttpRequest proposed = request.request;
        proposed.url = QString::fromLatin1(location);
        for (const auto &[name, value] : extraHeaders)
            proposed.setHeader(name, value);
        responseHeaders.append(std::pair<QByteArray, QByteArray>("Location", location));
        const WSKURLResponse r = response(302, responseHeaders, request.request.url.toLatin1().constData());
        std::optional<HttpRequest> next = delegate->connectionWillSendRequest(this, proposed, &r);
        if (next)
            request.request = *next;
        return next;
    }
    void challenge(int previousFailureCount, bool isProxy = false)
    {
        WSKAuthenticationChallenge c;
        c.previousFailureCount = previousFailureCount;
        c.isProxy = isProxy;
        c.host = QStringLiteral("a.test");
        c.realm = QStringLiteral("realm");
        delegate->connectionDidReceiveAuthenticationChallenge(this, c);
    }

    WSKConnectionRequest request;
    std::shared_ptr<WSKURLConnectionDelegate> delegate;
    bool started = false;
    bool cancelled = false;
    int challengeCancels = 0;
    std::vector<QString> credentialsUsed;
    QObject *delegateQueue = nullptr;
};

struct Outcome
{
    int calls = 0;
    QByteArray data;
    OptionalError error;
};

bool waitUntil(const std::function<bool()> &done)
{
    // Only a guard against a hang; the tests' timers run in milliseconds.
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

class FetcherTest : public testing::Test
{
protected:
    void SetUp() override
    {
        WSKConnectionClass fake;
        fake.create = [this](const WSKConnectionRequest &request,
                             std::shared_ptr<WSKURLConnectionDelegate> delegate) -> WSKURLConnection * {
            auto *connection = new FakeConnection(request, std::move(delegate));
            connections.push_back(connection);
            return connection;
        };
        fake.takesDelegateQueue = takesDelegateQueue;
        WSKHTTPFetcher::setConnectionClass(fake);
        WSKHTTPFetcher::staticCookieStorage()->removeAllCookies();

        auto *notifier = WSKHTTPFetcherNotifier::instance();
        notificationConnection = QObject::connect(
            notifier, &WSKHTTPFetcherNotifier::notificationPosted,
            [this](const QString &name, WSKHTTPFetcher *) { notifications[name] += 1; });
    }

    void TearDown() override
    {
        QObject::disconnect(notificationConnection);
        WSKHTTPFetcher::setConnectionClass({});
        // Let connections dropped with deleteLater go.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    std::shared_ptr<WSKHTTPFetcher> begin(HttpRequest request = HttpRequest(QStringLiteral("http://a.test/")))
    {
        auto fetcher = WSKHTTPFetcher::fetcherWithRequest(std::move(request));
        EXPECT_TRUE(beginWithOutcome(*fetcher));
        return fetcher;
    }

    bool beginWithOutcome(WSKHTTPFetcher &fetcher)
    {
        return fetcher.beginFetchWithCompletionHandler([this](const QByteArray &data, const OptionalError &error) {
            ++outcome.calls;
            outcome.data = data;
            outcome.error = error;
        });
    }

    FakeConnection &last() { return *connections.back(); }

    int count(const char *name) const { return notifications.value(QString::fromLatin1(name)); }
    void expectBalancedNotifications() const
    {
        EXPECT_EQ(count(kWSKHTTPFetcherStartedNotification), count(kWSKHTTPFetcherStoppedNotification));
        EXPECT_EQ(count(kWSKHTTPFetcherRetryDelayStartedNotification),
                  count(kWSKHTTPFetcherRetryDelayStoppedNotification));
    }

    bool takesDelegateQueue = false;
    std::vector<FakeConnection *> connections;
    Outcome outcome;
    QHash<QString, int> notifications;
    QMetaObject::Connection notificationConnection;
};

// --- Status rule -----------------------------------------------------------------

struct StatusCase
{
    int status;
    bool httpResponse;
    const char *body;
    bool isError;
    bool hasDataKey;
};

std::string statusCaseName(const testing::TestParamInfo<StatusCase> &info)
{
    const StatusCase &c = info.param;
    return caseName({std::to_string(c.status).c_str(), c.httpResponse ? "http" : "notHttp", c.body});
}

class FetcherStatusTest : public FetcherTest, public testing::WithParamInterface<StatusCase>
{
};

TEST_P(FetcherStatusTest, StatusDecidesTheOutcome)
{
    const StatusCase &c = GetParam();
    auto fetcher = begin();
    WSKURLResponse response = FakeConnection::response(c.status);
    response.hasHeaderFields = c.httpResponse;
    last().respondWith(response, QByteArray(c.body));
    ASSERT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.data, QByteArray(c.body));
    EXPECT_EQ(outcome.error.has_value(), c.isError);
    if (outcome.error) {
        EXPECT_EQ(outcome.error->domain, QString::fromLatin1(kWSKHTTPFetcherStatusDomain));
        EXPECT_EQ(outcome.error->code, c.status);
        EXPECT_EQ(outcome.error->userInfo.contains(QStringLiteral("data")), c.hasDataKey);
        if (c.hasDataKey) {
            EXPECT_EQ(outcome.error->userInfo.value(QStringLiteral("data")).toByteArray(), QByteArray(c.body));
        }
    }
    EXPECT_FALSE(fetcher->isFetching());
    expectBalancedNotifications();
}

INSTANTIATE_TEST_SUITE_P(
    StatusRule, FetcherStatusTest,
    testing::Values(StatusCase{200, true, "ok", false, false}, StatusCase{299, true, "", false, false},
                    StatusCase{0, false, "file body", false, false}, StatusCase{300, true, "", true, false},
                    StatusCase{401, true, "who are you", true, true}, StatusCase{-3, true, "odd", true, true}),
    statusCaseName);

// --- Redirect rule ---------------------------------------------------------------

struct SchemeCase
{
    const char *from;
    const char *location;
    const char *followed;
};

class FetcherRedirectSchemeTest : public FetcherTest, public testing::WithParamInterface<SchemeCase>
{
};

TEST_P(FetcherRedirectSchemeTest, HttpMayBecomeHttpsNeverTheReverse)
{
    auto fetcher = begin(HttpRequest(QString::fromLatin1(GetParam().from)));
    const std::optional<HttpRequest> next = last().redirect(GetParam().location);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->url, QString::fromLatin1(GetParam().followed));
    EXPECT_EQ(fetcher->mutableRequest()->url, next->url);
    EXPECT_EQ(fetcher->statusCode(), 302);
}

INSTANTIATE_TEST_SUITE_P(RedirectRule, FetcherRedirectSchemeTest,
                         testing::Values(SchemeCase{"http://a.test/x", "https://b.test/y?q=1", "https://b.test/y?q=1"},
                                         SchemeCase{"https://a.test/x", "http://b.test/y?q=1", "https://b.test/y?q=1"},
                                         SchemeCase{"http://a.test/x", "http://a.test:8080/z", "http://a.test:8080/z"},
                                         SchemeCase{"HTTP://a.test/x", "HTTPS://b.test/", "https://b.test/"}),
                         [](const testing::TestParamInfo<SchemeCase> &c) {
                             return caseName({c.param.from, c.param.location});
                         });

TEST_F(FetcherTest, RedirectKeepsMethodBodyAndHeadersAndTakesTheRedirectsValues)
{
    HttpRequest request(QStringLiteral("http://a.test/form"), QStringLiteral("PUT"));
    request.body = "payload";
    request.setHeader(QStringLiteral("X-Mine"), QStringLiteral("1"));
    request.setHeader(QStringLiteral("X-Both"), QStringLiteral("old"));
    auto fetcher = begin(request);
    const auto next = last().redirect("http://a.test/other", {{QStringLiteral("X-Both"), QStringLiteral("new")}});
    ASSERT_TRUE(next);
    EXPECT_EQ(next->method, QStringLiteral("PUT"));
    EXPECT_EQ(next->body, QByteArray("payload"));
    EXPECT_EQ(next->header(QStringLiteral("X-Mine")), QStringLiteral("1"));
    EXPECT_EQ(next->header(QStringLiteral("X-Both")), QStringLiteral("new"));
    last().respond(200, "done");
    EXPECT_EQ(outcome.data, QByteArray("done"));
    EXPECT_FALSE(outcome.error);
}

struct CookieRedirectCase
{
    const char *name;
    const char *location;
    const char *cookieAfter; // the Cookie header sent to the new URL (nullptr: none)
    bool keepsAuthorization;
};

class FetcherRedirectCookieTest : public FetcherTest, public testing::WithParamInterface<CookieRedirectCase>
{
};

TEST_P(FetcherRedirectCookieTest, CookiesAndCredentialsStayWithTheirHost)
{
    const CookieRedirectCase &c = GetParam();
    WSKHTTPFetcher::staticCookieStorage()->setCookies(
        cookiesFromSetCookieHeaders({"jar=a", "wide=all; Domain=site.test"}, QUrl("http://a.site.test/")));
    WSKHTTPFetcher::staticCookieStorage()->setCookies(
        cookiesFromSetCookieHeaders({"jar=b"}, QUrl("http://b.site.test/")));

    HttpRequest request(QStringLiteral("http://a.site.test/start"));
    request.setHeader(QStringLiteral("Cookie"), QStringLiteral("mine=1"));
    request.setHeader(QStringLiteral("Authorization"), QStringLiteral("OAuth secret"));
    auto fetcher = begin(request);
    EXPECT_EQ(last().request.request.header(QStringLiteral("Cookie")), QStringLiteral("mine=1; jar=a; wide=all"));

    // The redirect response sets one more cookie for its own host.
    const auto next = last().redirect(c.location, {}, {{"Set-Cookie", "fresh=1"}});
    ASSERT_TRUE(next);
    const QString cookie = next->header(QStringLiteral("Cookie"));
    if (c.cookieAfter)
        EXPECT_EQ(cookie, QString::fromLatin1(c.cookieAfter));
    else
        EXPECT_TRUE(cookie.isNull()) << cookie.toStdString();
    EXPECT_EQ(next->hasHeader(QStringLiteral("Authorization")), c.keepsAuthorization);
}

INSTANTIATE_TEST_SUITE_P(
    RedirectRule, FetcherRedirectCookieTest,
    testing::Values(CookieRedirectCase{"sameHost", "http://a.site.test/next", "mine=1; jar=a; wide=all; fresh=1", true},
                    CookieRedirectCase{"otherHost", "http://b.site.test/next", "wide=all; jar=b", false},
                    CookieRedirectCase{"otherPort", "http://a.site.test:81/next", "jar=a; wide=all; fresh=1", false},
                    CookieRedirectCase{"toHttps", "https://a.site.test/next", "jar=a; wide=all; fresh=1", false},
                    CookieRedirectCase{"elsewhere", "http://c.example/next", nullptr, false}),
    [](const testing::TestParamInfo<CookieRedirectCase> &c) { return std::string(c.param.name); });

TEST_F(FetcherTest, RetryDoesNotSendTheJarsCookiesTwice)
{
    WSKHTTPFetcher::staticCookieStorage()->setCookies(cookiesFromSetCookieHeaders({"jar=a"}, QUrl("http://a.test/")));
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    fetcher->setRetryEnabled(true);
    fetcher->setMinRetryInterval(0.001);
    fetcher->setMaxRetryInterval(0.01);
    beginWithOutcome(*fetcher);
    last().respond(503);
    ASSERT_TRUE(waitUntil([&] { return connections.size() == 2; }));
    EXPECT_EQ(last().request.request.header(QStringLiteral("Cookie")), QStringLiteral("jar=a"));
    fetcher->stopFetching();
}

// --- Challenges ------------------------------------------------------------------

TEST_F(FetcherTest, ChallengeIsAnsweredThreeTimesThenFailsOnce)
{
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    fetcher->setCredential(WSKURLCredential{QStringLiteral("user"), QStringLiteral("pw")});
    beginWithOutcome(*fetcher);
    for (int failures = 0; failures <= 2; ++failures)
        last().challenge(failures);
    EXPECT_EQ(last().credentialsUsed.size(), 3u);
    EXPECT_EQ(outcome.calls, 0);
    last().challenge(3);
    EXPECT_EQ(last().challengeCancels, 1);
    ASSERT_EQ(outcome.calls, 1); // the cancellation's own failure is not reported again
    ASSERT_TRUE(outcome.error);
    EXPECT_TRUE(outcome.error->is(QString::fromLatin1(kWSKHTTPFetcherErrorDomain), -2));
    const auto challenge =
        outcome.error->userInfo.value(QStringLiteral("challenge")).value<WSKAuthenticationChallenge>();
    EXPECT_EQ(challenge.previousFailureCount, 3);
    EXPECT_EQ(challenge.realm, QStringLiteral("realm"));
    expectBalancedNotifications();
}

TEST_F(FetcherTest, ProxyChallengeGetsTheProxyCredential)
{
    auto proxied = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    proxied->setCredential(WSKURLCredential{QStringLiteral("server"), {}});
    proxied->setProxyCredential(WSKURLCredential{QStringLiteral("proxy"), {}});
    beginWithOutcome(*proxied);
    last().challenge(0, true);
    last().challenge(0, false);
    EXPECT_EQ(last().credentialsUsed, (std::vector<QString>{QStringLiteral("proxy"), QStringLiteral("server")}));
    proxied->stopFetching();
}

// --- Retries ---------------------------------------------------------------------

TEST_F(FetcherTest, RetriesDoubleUntilTheMaximumThenReportTheError)
{
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    fetcher->setRetryEnabled(true);
    fetcher->setMinRetryInterval(0.002);
    fetcher->setMaxRetryInterval(0.01);
    std::vector<double> intervals;
    fetcher->setRetryBlock([&, f = fetcher.get()](bool willRetry, const Error &) {
        intervals.push_back(f->nextRetryInterval());
        return willRetry;
    });
    beginWithOutcome(*fetcher);
    for (size_t attempt = 1; outcome.calls == 0 && attempt < 10; ++attempt) {
        ASSERT_TRUE(waitUntil([&] { return connections.size() == attempt; }));
        last().respond(503, "busy");
        if (outcome.calls == 0) {
            ASSERT_TRUE(waitUntil([&] { return connections.size() == attempt + 1 || outcome.calls > 0; }));
        }
    }
    // 0.002, 0.004, 0.008; the next (0.016, capped to 0.01) is not below the maximum.
    EXPECT_EQ(fetcher->retryCount(), 3u);
    ASSERT_EQ(intervals.size(), 3u);
    EXPECT_DOUBLE_EQ(intervals[0], 0.002);
    EXPECT_DOUBLE_EQ(intervals[2], 0.008);
    ASSERT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.error->is(QString::fromLatin1(kWSKHTTPFetcherStatusDomain), 503));
    EXPECT_EQ(outcome.error->userInfo.value(QStringLiteral("data")).toByteArray(), QByteArray("busy"));
    expectBalancedNotifications();
}

struct RetryCase
{
    const char *name;
    int status; // 0: a transport failure with `code`
    long code;
    bool blockAnswer; // what the retry block says (it sees the suggestion first)
    bool suggested;
    bool retried;
};

class FetcherRetryDecisionTest : public FetcherTest, public testing::WithParamInterface<RetryCase>
{
};

TEST_P(FetcherRetryDecisionTest, SuggestionAndCallbacksDecide)
{
    const RetryCase &c = GetParam();
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    fetcher->setRetryEnabled(true);
    fetcher->setMinRetryInterval(0.001);
    fetcher->setMaxRetryInterval(1);
    std::optional<bool> suggestion;
    fetcher->setRetryBlock([&](bool willRetry, const Error &) {
        suggestion = willRetry;
        return c.blockAnswer ? true : willRetry;
    });
    beginWithOutcome(*fetcher);
    if (c.status)
        last().respond(c.status);
    else
        last().fail(c.code);
    ASSERT_TRUE(suggestion.has_value());
    EXPECT_EQ(*suggestion, c.suggested);
    if (c.retried) {
        ASSERT_TRUE(waitUntil([&] { return connections.size() == 2; }));
        EXPECT_EQ(outcome.calls, 0);
        fetcher->stopFetching();
    } else {
        EXPECT_EQ(outcome.calls, 1);
    }
    expectBalancedNotifications();
}

INSTANTIATE_TEST_SUITE_P(RetryRule, FetcherRetryDecisionTest,
                         testing::Values(RetryCase{"timeout408", 408, 0, false, true, true},
                                         RetryCase{"unavailable503", 503, 0, false, true, true},
                                         RetryCase{"notFound404", 404, 0, false, false, false},
                                         RetryCase{"blockInsists404", 404, 0, true, false, true},
                                         RetryCase{"timedOut", 0, SyncHttp::URLErrorTimedOut, false, true, true},
                                         RetryCase{"refused", 0, SyncHttp::URLErrorCannotConnectToHost, false, false,
                                                   false}),
                         [](const testing::TestParamInfo<RetryCase> &c) { return std::string(c.param.name); });

TEST_F(FetcherTest, StopDuringTheRetryWaitEndsEverything)
{
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    fetcher->setRetryEnabled(true);
    fetcher->setMinRetryInterval(0.05);
    fetcher->setMaxRetryInterval(10);
    beginWithOutcome(*fetcher);
    last().respond(503);
    EXPECT_TRUE(fetcher->isFetching());
    EXPECT_EQ(count(kWSKHTTPFetcherRetryDelayStartedNotification), 1);
    fetcher->stopFetching();
    EXPECT_FALSE(fetcher->isFetching());
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit); // past the retry time
    loop.exec();
    EXPECT_EQ(connections.size(), 1u);
    EXPECT_EQ(outcome.calls, 0);
    expectBalancedNotifications();
}

TEST_F(FetcherTest, RetryIntervalDefaults)
{
    // An unset minimum is a random 1 to 2 s; an unset maximum becomes 60 s
    // for GET and 600 s for anything else.
    for (const bool post : {false, true}) {
        auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
        fetcher->setMinRetryInterval(0);
        EXPECT_GE(fetcher->minRetryInterval(), 1.0);
        EXPECT_LE(fetcher->minRetryInterval(), 2.0);
        fetcher->setRetryEnabled(true);
        if (post)
            fetcher->setPostData("x");
        beginWithOutcome(*fetcher);
        EXPECT_EQ(fetcher->maxRetryInterval(), post ? 600 : 60);
        fetcher->stopFetching();
    }
}

// --- Begin, stop and callbacks -----------------------------------------------------

TEST_F(FetcherTest, BeginningARunningFetcherFailsToTheNewCallbacks)
{
    auto fetcher = begin();
    Outcome second;
    const bool began = fetcher->beginFetchWithCompletionHandler([&](const QByteArray &, const OptionalError &error) {
        ++second.calls;
        second.error = error;
    });
    EXPECT_FALSE(began);
    ASSERT_EQ(second.calls, 1);
    EXPECT_TRUE(second.error->is(QString::fromLatin1(kWSKHTTPFetcherErrorDomain), -1));
    EXPECT_EQ(outcome.calls, 0);

    auto empty = WSKHTTPFetcher::fetcherWithRequest(std::nullopt);
    EXPECT_FALSE(beginWithOutcome(*empty));
    EXPECT_TRUE(outcome.error->is(QString::fromLatin1(kWSKHTTPFetcherErrorDomain), -1));
    fetcher->stopFetching();
}

struct MethodCase
{
    const char *method;
    const char *override;
    const char *sentMethod;
};

class FetcherMethodTest : public FetcherTest, public testing::WithParamInterface<MethodCase>
{
};

TEST_P(FetcherMethodTest, PostDataTurnsAGetIntoAPost)
{
    HttpRequest request(QStringLiteral("http://a.test/"), QString::fromLatin1(GetParam().method));
    if (GetParam().override)
        request.setHeader(QStringLiteral("X-HTTP-Method-Override"), QString::fromLatin1(GetParam().override));
    auto fetcher = WSKHTTPFetcher::fetcherWithRequest(request);
    fetcher->setPostData("body");
    beginWithOutcome(*fetcher);
    EXPECT_EQ(last().request.request.method, QString::fromLatin1(GetParam().sentMethod));
    EXPECT_EQ(last().request.request.body, QByteArray("body"));
    fetcher->stopFetching();
}

INSTANTIATE_TEST_SUITE_P(BeginRule, FetcherMethodTest,
                         testing::Values(MethodCase{"GET", nullptr, "POST"}, MethodCase{"PUT", nullptr, "PUT"},
                                         MethodCase{"GET", "PUT", "GET"}, MethodCase{"", "GET", "POST"}),
                         [](const testing::TestParamInfo<MethodCase> &c) {
                             return caseName({c.param.method, c.param.override, c.param.sentMethod});
                         });

TEST_F(FetcherTest, StopAndDropInsideTheFinishedCallbackAreSafe)
{
    QObject delegate;
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    std::weak_ptr<WSKHTTPFetcher> watch = fetcher;
    int calls = 0;
    fetcher->setCompletionBlock([&](const QByteArray &, const OptionalError &) { ++calls; });
    fetcher->beginFetchWithDelegate(&delegate, [&](WSKHTTPFetcher &f, const QByteArray &data, const OptionalError &) {
        ++calls;
        EXPECT_EQ(data, QByteArray("x"));
        f.stopFetching();
        fetcher.reset();
    });
    last().respond(200, "x");
    EXPECT_EQ(calls, 1); // the completion block went with the stop
    TearDown();
    EXPECT_TRUE(watch.expired());
    expectBalancedNotifications();
}

struct EndCase
{
    const char *name;
    std::function<void(FakeConnection &, WSKHTTPFetcher &)> end;
};

void PrintTo(const EndCase &c, std::ostream *os)
{
    *os << c.name;
}

class FetcherEndTest : public FetcherTest, public testing::WithParamInterface<EndCase>
{
};

// The connection goes only with a later event; the fetcher must not wait for
// it, or the two keep each other alive when that event never comes.
TEST_P(FetcherEndTest, AnEndedFetchLetsItsFetcherGoBeforeItsConnection)
{
    auto fetcher = begin();
    std::weak_ptr<WSKHTTPFetcher> watch = fetcher;
    GetParam().end(last(), *fetcher);
    fetcher.reset();
    EXPECT_TRUE(watch.expired());
    expectBalancedNotifications();
}

INSTANTIATE_TEST_SUITE_P(
    EveryEnd, FetcherEndTest,
    testing::Values(EndCase{"finished", [](FakeConnection &c, WSKHTTPFetcher &) { c.respond(200, "x"); }},
                    EndCase{"statusError", [](FakeConnection &c, WSKHTTPFetcher &) { c.respond(404); }},
                    EndCase{"failed", [](FakeConnection &c, WSKHTTPFetcher &) { c.fail(SyncHttp::URLErrorTimedOut); }},
                    EndCase{"stopped", [](FakeConnection &, WSKHTTPFetcher &f) { f.stopFetching(); }},
                    EndCase{"redirectedThenFinished",
                            [](FakeConnection &c, WSKHTTPFetcher &) {
                                c.redirect("http://a.test/next");
                                c.respond(200, "x");
                            }},
                    EndCase{"redirectedThenStopped",
                            [](FakeConnection &c, WSKHTTPFetcher &f) {
                                c.redirect("http://b.test/next");
                                f.stopFetching();
                            }},
                    EndCase{"redirectTakenAsTheAnswer",
                            [](FakeConnection &c, WSKHTTPFetcher &) {
                                c.redirect("http://a.test/next");
                                c.respond(302, {}, {{"Location", "http://a.test/again"}});
                            }},
                    EndCase{"challengeRefused", [](FakeConnection &c, WSKHTTPFetcher &) { c.challenge(3); }}),
    [](const testing::TestParamInfo<EndCase> &c) { return std::string(c.param.name); });

TEST_F(FetcherTest, NoCallbackAfterStopEvenWhenTheConnectionGoesOn)
{
    auto fetcher = begin();
    FakeConnection &connection = last();
    fetcher->stopFetching();
    EXPECT_TRUE(connection.cancelled);
    connection.respond(200, "late");
    connection.fail(SyncHttp::URLErrorTimedOut);
    EXPECT_EQ(outcome.calls, 0);
    EXPECT_EQ(count(kWSKHTTPFetcherStartedNotification), 1);
    expectBalancedNotifications();
}

TEST_F(FetcherTest, DelegateSelectorsRunOnlyWhileTheDelegateLives)
{
    auto delegate = std::make_unique<QObject>();
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    std::vector<QByteArray> received;
    std::vector<qint64> sent;
    int finished = 0;
    fetcher->setReceivedDataSelector([&](WSKHTTPFetcher &, const QByteArray &soFar) { received.push_back(soFar); });
    fetcher->setReceivedDataBlock([&](const QByteArray &soFar) { received.push_back(soFar); });
    fetcher->setSentDataSelector([&](WSKHTTPFetcher &, qint64, qint64 total, qint64) { sent.push_back(total); });
    fetcher->setSentDataBlock([&](qint64 written, qint64, qint64) { sent.push_back(written); });
    fetcher->beginFetchWithDelegate(delegate.get(),
                                    [&](WSKHTTPFetcher &, const QByteArray &, const OptionalError &) { ++finished; });
    FakeConnection &connection = last();
    connection.delegate->connectionDidSendBodyData(&connection, 5, 5, 9);
    connection.delegate->connectionDidReceiveResponse(&connection, FakeConnection::response(200));
    connection.delegate->connectionDidReceiveData(&connection, "ab");
    delegate.reset();
    connection.delegate->connectionDidReceiveData(&connection, "cd");
    connection.delegate->connectionDidFinishLoading(&connection);
    EXPECT_EQ(sent, (std::vector<qint64>{5, 5}));
    EXPECT_EQ(received, (std::vector<QByteArray>{"ab", "ab", "abcd"}));
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(fetcher->downloadedLength(), 4u);
    EXPECT_FALSE(fetcher->isFetching());
}

TEST_F(FetcherTest, FailureToBeginGoesThroughTheDelegateQueueWhenSet)
{
    QObject queue;
    auto fetcher = WSKHTTPFetcher::fetcherWithRequest(std::nullopt);
    fetcher->setDelegateQueue(&queue);
    EXPECT_FALSE(beginWithOutcome(*fetcher));
    EXPECT_EQ(outcome.calls, 0); // not yet: it is queued
    ASSERT_TRUE(waitUntil([&] { return outcome.calls == 1; }));
    EXPECT_TRUE(outcome.error->is(QString::fromLatin1(kWSKHTTPFetcherErrorDomain), -1));

    // A connection class that cannot take a queue drops it.
    auto other = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    other->setDelegateQueue(&queue);
    beginWithOutcome(*other);
    EXPECT_EQ(other->delegateQueue(), nullptr);
    EXPECT_EQ(last().delegateQueue, nullptr);
    other->stopFetching();
}

class FetcherQueueTest : public FetcherTest
{
protected:
    FetcherQueueTest() { takesDelegateQueue = true; }
};

TEST_F(FetcherQueueTest, AConnectionClassThatTakesAQueueGetsIt)
{
    QObject queue;
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    fetcher->setDelegateQueue(&queue);
    fetcher->setRunLoopModes({QStringLiteral("default")});
    beginWithOutcome(*fetcher);
    EXPECT_EQ(last().delegateQueue, &queue);
    last().respond(200, "q");
    EXPECT_EQ(outcome.data, QByteArray("q"));
    EXPECT_EQ(fetcher->delegateQueue(), nullptr); // released with the callbacks
}

// --- Authoriser ------------------------------------------------------------------

class FakeAuthorizer : public WSKFetcherAuthorizationProtocol
{
public:
    void authorizeRequest(HttpRequest &request, const FinishedCallback &finished) override
    {
        ++authorizeCalls;
        OptionalError error;
        if (!authorizeRequest(request))
            error = Error(QStringLiteral("com.websignkit.WSKOAuth"), -1);
        if (finished)
            finished(this, request, error);
    }
    bool authorizeRequest(HttpRequest &request) override
    {
        if (!canAuthorize)
            return false;
        request.setHeader(QStringLiteral("Authorization"), QStringLiteral("OAuth token=%1").arg(authorizeCalls));
        return true;
    }
    void stopAuthorization() override { ++stops; }
    bool isAuthorizingRequest(const HttpRequest &) const override { return false; }
    bool isAuthorizedRequest(const HttpRequest &request) const override
    {
        return request.hasHeader(QStringLiteral("Authorization"));
    }
    QString userEmail() const override { return {}; }
    bool primeForRefresh() override { return refreshes; }

    bool canAuthorize = true;
    bool refreshes = false;
    int authorizeCalls = 0;
    int stops = 0;
};

TEST_F(FetcherTest, AuthorizerDecoratesTheRequestOrFailsTheBegin)
{
    auto authorizer = std::make_shared<FakeAuthorizer>();
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    fetcher->setAuthorizer(authorizer);
    EXPECT_TRUE(beginWithOutcome(*fetcher));
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(last().request.request.header(QStringLiteral("Authorization")), QStringLiteral("OAuth token=1"));
    last().respond(200);
    EXPECT_FALSE(outcome.error);
    EXPECT_GE(authorizer->stops, 1);

    authorizer->canAuthorize = false;
    auto refused = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    refused->setAuthorizer(authorizer);
    EXPECT_TRUE(beginWithOutcome(*refused)); // handed to the authoriser
    EXPECT_EQ(connections.size(), 1u);
    ASSERT_TRUE(outcome.error);
    EXPECT_TRUE(outcome.error->is(QStringLiteral("com.websignkit.WSKOAuth"), -1));
    EXPECT_EQ(refused->authorizer(), nullptr);
}

TEST_F(FetcherTest, A401RefreshesTheAuthorizerOnce)
{
    auto authorizer = std::make_shared<FakeAuthorizer>();
    authorizer->refreshes = true;
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    fetcher->setAuthorizer(authorizer);
    beginWithOutcome(*fetcher);
    last().respond(401);
    ASSERT_TRUE(waitUntil([&] { return connections.size() == 2; }));
    // Authorised afresh after the old header was removed.
    EXPECT_EQ(last().request.request.header(QStringLiteral("Authorization")), QStringLiteral("OAuth token=2"));
    last().respond(401, "still no");
    ASSERT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.error->is(QString::fromLatin1(kWSKHTTPFetcherStatusDomain), 401));
    expectBalancedNotifications();
}

// --- Fetch history -----------------------------------------------------------------

TEST_F(FetcherTest, NotModifiedIsAnsweredFromTheHistoryWhenItKeepsBodies)
{
    for (const bool keepsBodies : {true, false}) {
        auto history = std::make_shared<WSKHTTPFetchHistory>(1000, keepsBodies);
        history->setShouldRememberETags(true);
        auto first = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/doc"));
        first->setFetchHistory(history);
        EXPECT_EQ(first->cookieStorageMethod(), cookieStorageMethodFetchHistory);
        beginWithOutcome(*first);
        last().respond(200, "document", {{"ETag", "\"v1\""}, {"Set-Cookie", "h=1"}});
        EXPECT_EQ(history->cookieJar()->cookies().size(), 1);
        EXPECT_TRUE(WSKHTTPFetcher::staticCookieStorage()->cookies().isEmpty());

        auto second = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/doc"));
        second->setFetchHistory(history);
        beginWithOutcome(*second);
        EXPECT_EQ(last().request.request.header(QStringLiteral("If-None-Match")), QStringLiteral("\"v1\""));
        EXPECT_EQ(last().request.request.header(QStringLiteral("Cookie")), QStringLiteral("h=1"));
        last().respond(304);
        if (keepsBodies) {
            EXPECT_FALSE(outcome.error);
            EXPECT_EQ(outcome.data, QByteArray("document"));
        } else {
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(outcome.error->code, 304);
        }
        second->setFetchHistory(nullptr);
        EXPECT_EQ(second->cookieStorageMethod(), cookieStorageMethodStatic);
    }
}

TEST_F(FetcherTest, CookieStorageMethods)
{
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    EXPECT_EQ(fetcher->cookieStorageMethod(), cookieStorageMethodStatic);
    EXPECT_EQ(fetcher->cookieStorage(), WSKHTTPFetcher::staticCookieStorage());
    for (const qint64 method : {cookieStorageMethodSystemDefault, cookieStorageMethodNone, qint64(7)}) {
        fetcher->setCookieStorageMethod(method);
        EXPECT_EQ(fetcher->cookieStorage(), nullptr);
        WSKHTTPFetcher::staticCookieStorage()->setCookies(cookiesFromSetCookieHeaders({"s=1"}, QUrl("http://a.test/")));
        beginWithOutcome(*fetcher);
        EXPECT_FALSE(last().request.request.hasHeader(QStringLiteral("Cookie")));
        EXPECT_EQ(last().request.shouldHandleCookies, method == cookieStorageMethodSystemDefault);
        last().respond(200, {}, {{"Set-Cookie", "n=1"}});
        EXPECT_EQ(WSKHTTPFetcher::staticCookieStorage()->cookies().size(), 1);
    }
}

// --- Downloads to a file --------------------------------------------------------------

TEST_F(FetcherTest, DownloadFailuresLeaveNoFileBehind)
{
    // The target's folder does not exist: the body is kept in the temporary
    // folder, and moving it into place fails with the file system's error.
    auto unmovable = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/f"));
    const QString nowhere = QDir::temp().filePath(
        QStringLiteral("no-such-folder-%1/f.bin").arg(QCoreApplication::applicationPid()));
    unmovable->setDownloadPath(nowhere);
    beginWithOutcome(*unmovable);
    const QString temporary = unmovable->temporaryDownloadPath();
    EXPECT_TRUE(QFile::exists(temporary));
    last().respond(200, "abc");
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, QString::fromLatin1(kWSKFileErrorDomain));
    EXPECT_FALSE(QFile::exists(temporary));
    EXPECT_TRUE(unmovable->temporaryDownloadPath().isEmpty());

    // A write that fails ends the fetch with -4.
    QTemporaryDir dir;
    auto unwritable = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/f"));
    unwritable->setDownloadPath(dir.filePath(QStringLiteral("f.bin")));
    auto history = std::make_shared<WSKHTTPFetchHistory>(1000, true);
    history->updateFetchHistoryWithRequest(*unwritable->mutableRequest(),
                                           FakeConnection::response(200, {{"ETag", "\"1\""}}), QByteArray("old"));
    unwritable->setFetchHistory(history);
    beginWithOutcome(*unwritable);
    FakeConnection &connection = last();
    connection.delegate->connectionDidReceiveResponse(&connection, FakeConnection::response(200));
    unwritable->downloadFileHandle()->close();
    connection.delegate->connectionDidReceiveData(&connection, "data");
    ASSERT_TRUE(outcome.error);
    EXPECT_TRUE(outcome.error->is(QString::fromLatin1(kWSKHTTPFetcherStatusDomain), -4));
    EXPECT_FALSE(outcome.error->localizedDescription.isEmpty());
    EXPECT_TRUE(connection.cancelled);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
    expectBalancedNotifications();

    // A finished download is never remembered by the history.
    auto saved = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/f"));
    saved->setDownloadPath(dir.filePath(QStringLiteral("f.bin")));
    saved->setFetchHistory(history);
    beginWithOutcome(*saved);
    last().respond(200, "new", {{"ETag", "\"2\""}});
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(history->cachedDataForRequest(*saved->mutableRequest()), std::nullopt);
}

// --- Service -------------------------------------------------------------------------

class FakeService : public WSKHTTPFetcherServiceProtocol
{
public:
    bool fetcherShouldBeginFetching(WSKHTTPFetcher &fetcher) override
    {
        delayed.push_back(&fetcher);
        return false;
    }
    void fetcherDidStop(WSKHTTPFetcher &) override { ++stops; }
    bool isDelayingFetcher(const WSKHTTPFetcher &fetcher) const override
    {
        return std::find(delayed.begin(), delayed.end(), &fetcher) != delayed.end();
    }
    std::vector<WSKHTTPFetcher *> delayed;
    int stops = 0;
};

TEST_F(FetcherTest, AServiceMayHoldAFetchBack)
{
    auto service = std::make_shared<FakeService>();
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(QStringLiteral("http://a.test/"));
    fetcher->setService(service);
    fetcher->setServiceHost(QStringLiteral("a.test"));
    fetcher->setServicePriority(2);
    EXPECT_TRUE(beginWithOutcome(*fetcher));
    EXPECT_TRUE(connections.empty());
    EXPECT_TRUE(fetcher->isFetching());
    service->delayed.clear();
    EXPECT_FALSE(fetcher->isFetching());
    EXPECT_TRUE(fetcher->beginFetchMayDelay(false, true));
    ASSERT_EQ(connections.size(), 1u);
    last().respond(200, "later");
    EXPECT_EQ(outcome.data, QByteArray("later"));
    EXPECT_EQ(service->stops, 1);
    EXPECT_EQ(fetcher->serviceHost(), QStringLiteral("a.test"));
}

// --- Properties and helpers --------------------------------------------------------

class SelectorOwner : public QObject
{
    Q_OBJECT
public slots:
    void fetcherFinished(WSKHTTPFetcher *, QByteArray, QString) {}
};

TEST(FetcherHelpers, SelectorCheckAndUserAgentStrings)
{
    SelectorOwner owner;
    EXPECT_TRUE(WSKAssertSelectorNilOrImplementedWithArgs(nullptr, "x", {}));
    EXPECT_TRUE(WSKAssertSelectorNilOrImplementedWithArgs(&owner, nullptr, {}));
    EXPECT_TRUE(WSKAssertSelectorNilOrImplementedWithArgs(&owner, "fetcherFinished",
                                                          {"WSKHTTPFetcher*", "QByteArray", "QString"}));
    EXPECT_FALSE(WSKAssertSelectorNilOrImplementedWithArgs(&owner, "fetcherFinishd", {}));
    EXPECT_FALSE(WSKAssertSelectorNilOrImplementedWithArgs(&owner, "fetcherFinished", {"WSKHTTPFetcher*"}));

    EXPECT_TRUE(WSKCleanedUserAgentString(QString()).isNull());
    EXPECT_EQ(WSKCleanedUserAgentString(QStringLiteral("My App (beta)/1.0; x=y\t\"q\"")),
              QStringLiteral("My_App_beta1.0_xyq"));
}

} // namespace

#include "FetcherScriptedTest.moc"
