// The three-step sign-in against a real local provider, with the page played
// by the test: it approves the request token as the form would and hands the
// provider's redirect to the sign-in, as the window does.

#include "FakeProvider.h"

#include "signin/WSKOAuthSignIn.h"

#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

using namespace RavadidoSignInValues;

const QString kStatusDomain = QStringLiteral("com.websignkit.HTTPStatus");
const QString kOAuthDomain = QString::fromLatin1(kWSKOAuthErrorDomain);

// Plays the window: records what it is asked to show and what it is told at
// the end; when `approve` is on, the user approves as soon as the page shows.
class PageDouble : public WSKOAuthSignInDelegate
{
public:
    explicit PageDouble(FakeProvider &provider) : m_provider(provider) {}

    void signIn(WSKOAuthSignIn *signIn, const std::optional<HttpRequest> &request) override
    {
        shown << request;
        if (!request && closeReportsUserClose)
            signIn->windowWasClosed();
        if (request && approve)
            QTimer::singleShot(0, [this, signIn, url = QUrl(request->url)] {
                const QString token = QUrlQuery(url).queryItemValue(QStringLiteral("oauth_token"));
                redirect = m_provider.approve(token);
                redirectRecognised = signIn->requestRedirectedToRequest(redirect);
            });
    }

    void signIn(WSKOAuthSignIn *, const std::shared_ptr<WSKOAuthAuthentication> &finishedAuth,
                const OptionalError &finishedError) override
    {
        ++finished;
        auth = finishedAuth;
        error = finishedError;
    }

    bool approve = true;
    // A window that takes every close for the user's.
    bool closeReportsUserClose = false;
    QList<std::optional<HttpRequest>> shown;
    QUrl redirect;
    bool redirectRecognised = false;
    int finished = 0;
    std::shared_ptr<WSKOAuthAuthentication> auth;
    OptionalError error;

private:
    FakeProvider &m_provider;
};

class FakeReachability : public WSKReachabilitySource
{
public:
    void set(bool reachable) { emit reachabilityChanged(reachable); }
};

struct Flow
{
    explicit Flow(const QStringList &faults = {}) : provider(faults) {}

    bool start()
    {
        if (!provider.start())
            return false;
        auth = applicationAuth();
        signIn = std::make_unique<WSKOAuthSignIn>(auth, requestTokenURL(), authorizeTokenURL(), accessTokenURL(),
                                                  &page);
        signIn->setReachabilityFactory([this](const QString &host) -> std::unique_ptr<WSKReachabilitySource> {
            watchedHost = host;
            auto source = std::make_unique<FakeReachability>();
            reachability = source.get();
            return source;
        });
        // Each notification by name, with its fetch type when it has one;
        // the signal of its own must agree with it.
        QObject::connect(signIn.get(), &WSKOAuthSignIn::notificationPosted,
                         [this](const QString &name, const QVariantMap &userInfo) {
                             const QString type = userInfo.value(QString::fromLatin1(kWSKOAuthFetchTypeKey)).toString();
                             events << (type.isEmpty() ? name : name + QStringLiteral(" ") + type);
                         });
        const auto own = [this](const char *name) {
            return [this, name](const QString &type = {}) {
                const QString n = QString::fromLatin1(name);
                ownSignals << (type.isEmpty() ? n : n + QStringLiteral(" ") + type);
            };
        };
        QObject::connect(signIn.get(), &WSKOAuthSignIn::fetchStarted, own(kWSKOAuthFetchStarted));
        QObject::connect(signIn.get(), &WSKOAuthSignIn::fetchStopped, own(kWSKOAuthFetchStopped));
        QObject::connect(signIn.get(), &WSKOAuthSignIn::userWillSignIn, own(kWSKOAuthUserWillSignIn));
        QObject::connect(signIn.get(), &WSKOAuthSignIn::userHasSignedIn, own(kWSKOAuthUserHasSignedIn));
        QObject::connect(signIn.get(), &WSKOAuthSignIn::networkLost, own(kWSKOAuthNetworkLost));
        QObject::connect(signIn.get(), &WSKOAuthSignIn::networkFound, own(kWSKOAuthNetworkFound));
        return true;
    }

    FakeProvider provider;
    PageDouble page{provider};
    std::shared_ptr<WSKOAuthAuthentication> auth;
    std::unique_ptr<WSKOAuthSignIn> signIn;
    FakeReachability *reachability = nullptr;
    QString watchedHost;
    QStringList events;
    QStringList ownSignals;
};

struct FlowCase
{
    const char *name;
    QStringList faults;
    bool requiresUserEmail;
    // Empty domain: success.
    QString domain;
    long code;
    QByteArray body;
    bool pageShown;
};

void PrintTo(const FlowCase &c, std::ostream *os)
{
    *os << c.name;
}

class SignInFlow : public testing::TestWithParam<FlowCase>
{
};

TEST_P(SignInFlow, EndsOnceWithTheRightOutcome)
{
    const FlowCase &c = GetParam();
    Flow flow(c.faults);
    ASSERT_TRUE(flow.start()) << flow.provider.errorString().toStdString();
    flow.signIn->setRequiresUserEmail(c.requiresUserEmail);

    EXPECT_TRUE(flow.signIn->startSigningIn());
    ASSERT_TRUE(waitFor([&] { return flow.page.finished > 0; })) << flow.provider.errorString().toStdString();
    // Once ended, nothing brings a second callback.
    flow.signIn->windowWasClosed();
    flow.signIn->cancelSigningIn();
    settle();
    EXPECT_EQ(flow.page.finished, 1);
    EXPECT_EQ(flow.page.auth, flow.auth);
    EXPECT_EQ(!flow.page.shown.isEmpty(), c.pageShown);
    EXPECT_FALSE(flow.signIn->isWatchingReachability());

    if (c.domain.isEmpty()) {
        ASSERT_FALSE(flow.page.error) << flow.page.error->toString().toStdString();
        EXPECT_TRUE(flow.auth->canAuthorize());
        EXPECT_TRUE(flow.auth->accessToken().startsWith(QStringLiteral("tok=1:")));
        if (c.requiresUserEmail) {
            EXPECT_EQ(flow.auth->userEmail(), QStringLiteral("https://%1/ruru/notestore").arg(flow.provider.host()));
        }
        EXPECT_EQ(flow.events, (QStringList{"kWSKOAuthFetchStarted request", "kWSKOAuthFetchStopped request",
                                            "kWSKOAuthUserWillSignIn", "kWSKOAuthUserHasSignedIn",
                                            "kWSKOAuthFetchStarted access", "kWSKOAuthFetchStopped access"}));
        EXPECT_EQ(flow.ownSignals, flow.events);
        // Shown once, closed once, and the redirect was the callback.
        ASSERT_EQ(flow.page.shown.size(), 2);
        EXPECT_FALSE(flow.page.shown[1].has_value());
        EXPECT_TRUE(flow.page.redirectRecognised);
        return;
    }

    ASSERT_TRUE(flow.page.error);
    EXPECT_EQ(flow.page.error->domain, c.domain);
    EXPECT_EQ(flow.page.error->code, c.code);
    if (!c.body.isEmpty()) {
        EXPECT_EQ(flow.page.error->userInfo.value(QStringLiteral("data")).toByteArray(), c.body);
    }
    // Neither the request token nor anything else passes for an access token.
    EXPECT_FALSE(flow.auth->canAuthorize());
    EXPECT_TRUE(flow.auth->accessToken().isEmpty());
    if (c.domain == kOAuthDomain) {
        EXPECT_FALSE(flow.auth->token().startsWith(QStringLiteral("rt-")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SignInFlow,
    testing::Values(
        FlowCase{"Success", {}, true, {}, 0, {}, true},
        FlowCase{"CookieFromStepOneReturnsAtStepThree", {"cookie"}, true, {}, 0, {}, true},
        FlowCase{"NoNoteStoreURLAcceptedWhenNotRequired", {"access-no-store"}, false, {}, 0, {}, true},
        FlowCase{
            "RequestToken401", {"request-401"}, true, kStatusDomain, 401, "oauth_problem=consumer_key_rejected", false},
        FlowCase{"RequestTokenReplyWithoutToken",
                 {"request-no-token"},
                 true,
                 kOAuthDomain,
                 kWSKOAuthErrorCodeNoRequestToken,
                 "oauth_callback_confirmed=true",
                 false},
        FlowCase{"AccessToken401", {"access-401"}, true, kStatusDomain, 401, "oauth_problem=token_expired", true},
        FlowCase{"AccessTokenReplyWithoutToken",
                 {"access-no-token"},
                 true,
                 kOAuthDomain,
                 kWSKOAuthErrorCodeNoAccessToken,
                 {},
                 true},
        FlowCase{"AccessTokenReplyWithoutNoteStoreURL",
                 {"access-no-store"},
                 true,
                 kOAuthDomain,
                 kWSKOAuthErrorCodeNoUserEmail,
                 {},
                 true}),
    [](const testing::TestParamInfo<FlowCase> &c) { return std::string(c.param.name); });

TEST(SignInRequests, CarryScopeAndCallbackOnlyWhereTheyBelong)
{
    Flow flow;
    ASSERT_TRUE(flow.start()) << flow.provider.errorString().toStdString();
    flow.signIn->startSigningIn();
    ASSERT_TRUE(waitFor([&] { return flow.page.finished > 0; }));
    ASSERT_FALSE(flow.page.error);

    const auto request = flow.provider.requests(QStringLiteral("request"));
    const auto access = flow.provider.requests(QStringLiteral("access"));
    ASSERT_EQ(request.size(), 1);
    ASSERT_EQ(access.size(), 1);
    EXPECT_TRUE(request[0]["verified"].toBool());
    EXPECT_TRUE(access[0]["verified"].toBool());
    EXPECT_EQ(request[0]["path"].toString(), QStringLiteral("/oauth?scope=Full%20access"));
    EXPECT_TRUE(request[0]["authorization"].toString().contains(
        QStringLiteral("oauth_callback=\"http%3A%2F%2Fcallback.leafhaul.invalid%2FOAuthCallback\"")));
    EXPECT_EQ(access[0]["path"].toString(), QStringLiteral("/oauth"));
    EXPECT_FALSE(access[0]["authorization"].toString().contains(QStringLiteral("oauth_callback")));
    EXPECT_TRUE(access[0]["authorization"].toString().contains(QStringLiteral("oauth_verifier=")));

    // The page asked for is the authorisation page with the request token
    // and the scope.
    const QUrl page(flow.page.shown.value(0)->url);
    EXPECT_EQ(page.path(), QStringLiteral("/OAuth.action"));
    EXPECT_EQ(QUrlQuery(page).queryItemValue(QStringLiteral("scope"), QUrl::FullyDecoded),
              QStringLiteral("Full access"));
    EXPECT_TRUE(QUrlQuery(page).queryItemValue(QStringLiteral("oauth_token")).startsWith(QStringLiteral("rt-")));
}

TEST(SignInCallback, IsRecognisedByHostAndPathOnly)
{
    const QString callback = QString::fromLatin1(kCallbackURL);
    const struct
    {
        const char *url;
        bool isCallback;
    } cases[] = {
        {"http://callback.leafhaul.invalid/OAuthCallback", true},
        {"https://callback.leafhaul.invalid/OAuthCallback", true},
        {"http://callback.leafhaul.invalid:8080/OAuthCallback?oauth_token=a&oauth_verifier=b", true},
        {"http://callback.leafhaul.invalid/OAuthcallback", false},
        {"http://callback.leafhaul.invalid/OAuthCallback/more", false},
        {"http://callback.leafhaul.invalid/", false},
        {"http://other.leafhaul.invalid/OAuthCallback", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WSKOAuthSignIn::isCallbackURL(QUrl(QString::fromLatin1(c.url)), callback), c.isCallback) << c.url;
    EXPECT_FALSE(WSKOAuthSignIn::isCallbackURL(QUrl(callback), QString()));
}

TEST(SignInEnd, ClosingThePageEndsOnceWithMinus1000AndNoAccessFetch)
{
    Flow flow;
    ASSERT_TRUE(flow.start()) << flow.provider.errorString().toStdString();
    flow.page.approve = false;
    flow.signIn->startSigningIn();
    ASSERT_TRUE(waitFor([&] { return !flow.page.shown.isEmpty(); }));
    EXPECT_TRUE(flow.signIn->isWatchingReachability());

    flow.signIn->windowWasClosed();
    flow.signIn->windowWasClosed();
    settle();
    EXPECT_EQ(flow.page.finished, 1);
    ASSERT_TRUE(flow.page.error);
    EXPECT_TRUE(flow.page.error->is(kOAuthDomain, kWSKOAuthErrorCodeWindowClosed));
    EXPECT_FALSE(flow.signIn->isWatchingReachability());
    // A late redirect is still recognised as the callback, and starts nothing.
    EXPECT_TRUE(flow.signIn->requestRedirectedToRequest(QUrl(QString::fromLatin1(kCallbackURL))));
    settle();
    EXPECT_TRUE(flow.provider.requests(QStringLiteral("access")).isEmpty());
    EXPECT_EQ(flow.page.finished, 1);
}

TEST(SignInEnd, CancelMakesNoCallbackEvenWhenThePageIsClosedLater)
{
    for (const bool cancelWhilePageShown : {false, true}) {
        Flow flow;
        ASSERT_TRUE(flow.start()) << flow.provider.errorString().toStdString();
        flow.page.approve = false;
        flow.signIn->startSigningIn();
        if (cancelWhilePageShown) {
            ASSERT_TRUE(waitFor([&] { return !flow.page.shown.isEmpty(); }));
        }
        flow.signIn->cancelSigningIn();
        EXPECT_TRUE(flow.events.contains(QStringLiteral("kWSKOAuthFetchStopped request")) || cancelWhilePageShown);
        flow.signIn->windowWasClosed();
        settle(500);
        EXPECT_EQ(flow.page.finished, 0) << cancelWhilePageShown;
        EXPECT_FALSE(flow.signIn->isWatchingReachability());
        if (cancelWhilePageShown) {
            EXPECT_FALSE(flow.page.shown.last().has_value());
        }
    }
}

TEST(SignInEnd, ClosingThePageItselfIsNotTheUserClosingIt)
{
    Flow flow;
    ASSERT_TRUE(flow.start()) << flow.provider.errorString().toStdString();
    flow.page.closeReportsUserClose = true;
    flow.signIn->startSigningIn();
    // The close on recognising the callback must not end the sign-in with
    // -1000 and leave the access-token fetch to nobody.
    ASSERT_TRUE(waitFor([&] { return flow.page.finished > 0; })) << flow.provider.errorString().toStdString();
    settle();
    EXPECT_EQ(flow.page.finished, 1);
    EXPECT_FALSE(flow.page.error) << flow.page.error->toString().toStdString();
    EXPECT_TRUE(flow.auth->canAuthorize());
}

TEST(SignInReachability, LossIsPostedOnceAfterTheTimeoutAndRecoveryOnlyAfterALoss)
{
    Flow flow;
    ASSERT_TRUE(flow.start()) << flow.provider.errorString().toStdString();
    flow.page.approve = false;
    flow.signIn->setNetworkLossTimeoutInterval(0.05);
    flow.signIn->startSigningIn();
    ASSERT_TRUE(waitFor([&] { return flow.reachability != nullptr; }));
    EXPECT_EQ(flow.watchedHost, QStringLiteral("127.0.0.1"));
    flow.events.clear();

    flow.reachability->set(true);
    flow.reachability->set(false);
    ASSERT_TRUE(waitFor([&] { return flow.events.contains(QStringLiteral("kWSKOAuthNetworkLost")); }));
    flow.reachability->set(false);
    settle(200);
    flow.reachability->set(true);
    flow.reachability->set(true);
    EXPECT_EQ(flow.events, (QStringList{"kWSKOAuthNetworkLost", "kWSKOAuthNetworkFound"}));
    EXPECT_EQ(flow.ownSignals.mid(flow.ownSignals.size() - 2), flow.events);

    // The page stays up and the sign-in goes on.
    EXPECT_EQ(flow.page.finished, 0);
    EXPECT_EQ(flow.page.shown.size(), 1);
    flow.signIn->cancelSigningIn();
}

TEST(SignInReachability, AFlapShorterThanTheTimeoutPostsNothing)
{
    Flow flow;
    ASSERT_TRUE(flow.start()) << flow.provider.errorString().toStdString();
    flow.page.approve = false;
    flow.signIn->setNetworkLossTimeoutInterval(0.2);
    flow.signIn->startSigningIn();
    ASSERT_TRUE(waitFor([&] { return flow.reachability != nullptr; }));
    flow.events.clear();
    flow.reachability->set(false);
    flow.reachability->set(true);
    settle(600);
    EXPECT_TRUE(flow.events.isEmpty()) << flow.events.join(QStringLiteral(", ")).toStdString();
    flow.signIn->cancelSigningIn();
}

TEST(SignInReachability, NoWatchWithoutTimeoutOrSource)
{
    for (const bool noSource : {false, true}) {
        Flow flow;
        ASSERT_TRUE(flow.start()) << flow.provider.errorString().toStdString();
        flow.page.approve = false;
        int made = 0;
        if (noSource)
            flow.signIn->setReachabilityFactory([&made](const QString &) {
                ++made;
                return std::unique_ptr<WSKReachabilitySource>();
            });
        else
            flow.signIn->setNetworkLossTimeoutInterval(0);
        flow.signIn->startSigningIn();
        ASSERT_TRUE(waitFor([&] { return !flow.page.shown.isEmpty(); }));
        EXPECT_FALSE(flow.signIn->isWatchingReachability());
        EXPECT_EQ(flow.reachability, nullptr);
        EXPECT_EQ(made, noSource ? 1 : 0);
        flow.signIn->cancelSigningIn();
    }
}

} // namespace
