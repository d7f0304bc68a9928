// The sign-in window with the real web view, against the local provider.

#include "FakeProvider.h"

#include "signin/VKKeychain.h"
#include "signin/WSKOAuthWindowController.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QUuid>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

using namespace RavadidoSignInValues;

// Runs `script` in the page and waits for its result.
QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    bool done = false;
    QVariant result;
    page->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    waitFor([&] { return done; });
    return result;
}

void saveScreenshot(QWidget *window, const QString &name)
{
    const QString dir = qEnvironmentVariable("LEAFHAUL_TEST_ARTIFACTS");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    EXPECT_TRUE(window->grab().save(dir + QStringLiteral("/") + name + QStringLiteral(".png")));
}

// Receives what QDesktopServices would hand to the desktop's browser.
class DesktopBrowser : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void openUrl(const QUrl &url) { opened << url; }
};

class SignInWindow : public testing::Test
{
protected:
    void SetUp() override
    {
        QCoreApplication::setOrganizationName(QStringLiteral("LeafhaulTests"));
        QCoreApplication::setApplicationName(QStringLiteral("signin_window_tests"));
        serviceName = QStringLiteral("Leafhaul test: ") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        parent.resize(900, 700);
        parent.show();
    }
    void TearDown() override
    {
        // A case that ends with the sheet open: going with `parent`, the
        // sheet would call its completion into members already gone.
        delete controller.data();
        VKKeychain::deletePasswordForService(serviceName, QString::fromLatin1(kKeychainAccountName));
        QSettings().remove(WSKOAuthKeychainStore::prefsKeyForName(serviceName));
        settle(100);
    }

    // Starts a sign-in as the application does, on `parent`.
    void begin(const QString &service, WSKOAuthWindowController::Clock clock = {}, const QString &callback = {},
               QWidget *onWindow = nullptr)
    {
        auth = applicationAuth();
        if (!callback.isEmpty())
            auth->setCallback(callback);
        controller = new WSKOAuthWindowController(QString::fromLatin1(kScope), QString(), requestTokenURL(),
                                                  authorizeTokenURL(), accessTokenURL(), auth, service);
        controller->signIn()->setRequiresUserEmail(true);
        controller->setNetworkLossTimeoutInterval(0);
        if (clock)
            controller->setClock(std::move(clock));
        controller->signInSheetModalForWindow(
            onWindow ? onWindow : &parent,
            [this](const std::shared_ptr<WSKOAuthAuthentication> &a, const OptionalError &e) {
                ++finished;
                finishedAuth = a;
                error = e;
            });
    }

    // Waits until the dialog shows the authorisation page's form.
    bool waitForAuthorisationPage()
    {
        if (!waitFor([&] { return controller && controller->window() && controller->window()->isVisible(); }))
            return false;
        QWebEnginePage *page = controller->webView()->page();
        QObject::connect(page, &QWebEnginePage::urlChanged, page, [this](const QUrl &url) { pageURLs << url; });
        return waitFor(
            [&] { return evaluate(page, QStringLiteral("!!document.getElementById('authorise')")).toBool(); });
    }

    // Tests in parallel share the display and may take the activation away.
    bool waitForKeysOnThePage()
    {
        return waitFor([&] {
            if (!controller->window()->isActiveWindow())
                controller->window()->activateWindow();
            return controller->webView()->isAncestorOf(QApplication::focusWidget());
        });
    }

    void approve()
    {
        evaluate(controller->webView()->page(), QStringLiteral("document.getElementById('authorise').click(); true"));
    }

    bool callbackWasLoaded(const FakeProvider &provider) const
    {
        for (const QUrl &url : pageURLs)
            if (url.path() == QStringLiteral("/OAuthCallback"))
                return true;
        for (const QJsonObject &request : provider.requests(QStringLiteral("unknown")))
            if (request[QStringLiteral("path")].toString().startsWith(QStringLiteral("/OAuthCallback")))
                return true;
        return false;
    }

    QWidget parent;
    QString serviceName;
    std::shared_ptr<WSKOAuthAuthentication> auth;
    QPointer<WSKOAuthWindowController> controller;
    QList<QUrl> pageURLs;
    int finished = 0;
    std::shared_ptr<WSKOAuthAuthentication> finishedAuth;
    OptionalError error;
};

TEST_F(SignInWindow, FullSignInThroughThePageKeepsTheTokenInTheSecretService)
{
    FakeProvider provider({QStringLiteral("cookie")});
    ASSERT_TRUE(provider.start()) << provider.errorString().toStdString();
    begin(serviceName, {}, provider.callbackURL());
    ASSERT_TRUE(waitForAuthorisationPage()) << provider.errorString().toStdString();

    QDialog *dialog = controller->window();
    EXPECT_EQ(dialog->parentWidget(), &parent);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(controller->keychainCheckbox()->isVisibleTo(dialog));
    EXPECT_TRUE(controller->keychainCheckbox()->isChecked());
    settle(800); // for the picture only: let the page paint
    saveScreenshot(dialog, QStringLiteral("signin-authorisation-page"));

    approve();
    ASSERT_TRUE(waitFor([&] { return finished > 0; })) << provider.errorString().toStdString();
    settle();
    EXPECT_EQ(finished, 1);
    ASSERT_FALSE(error) << error->toString().toStdString();
    EXPECT_EQ(finishedAuth, auth);
    EXPECT_TRUE(auth->canAuthorize());
    EXPECT_EQ(auth->userEmail(), QStringLiteral("https://%1/ruru/notestore").arg(provider.host()));
    EXPECT_FALSE(callbackWasLoaded(provider));
    EXPECT_EQ(provider.requests(QStringLiteral("approve")).size(), 1);
    // The controller went away with the sign-in.
    EXPECT_TRUE(controller.isNull());

    // The token is in the Secret Service and comes back into a new record.
    EXPECT_FALSE(VKKeychain::passwordForService(serviceName, QString::fromLatin1(kKeychainAccountName)).isEmpty());
    std::shared_ptr<WSKOAuthAuthentication> restored = applicationAuth();
    ASSERT_TRUE(WSKOAuthWindowController::authorizeFromKeychainForName(serviceName, *restored));
    EXPECT_EQ(restored->accessToken(), auth->accessToken());
    EXPECT_EQ(restored->userEmail(), auth->userEmail());
}

// The sheet's first size leaves it whole on the screen, also at a scale
// factor of 2 on 1280x800 (this case again, in a process and on a display of
// its own); the keys start on the page, and Back waits for a page to go back to.
TEST_F(SignInWindow, FitsTheScreenStartsOnThePageAndGoesBackOnlyWithHistory)
{
    const bool scaled = qEnvironmentVariableIsSet("QT_SCALE_FACTOR");
    if (!scaled) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
        child.start(QStringLiteral(LEAFHAUL_SOURCE_DIR "/scripts/with-window-manager"),
                    {QCoreApplication::applicationFilePath(),
                     QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
        ASSERT_TRUE(child.waitForFinished(120000));
        EXPECT_EQ(child.exitCode(), 0) << "at a scale factor of 2";
    }

    FakeProvider provider;
    ASSERT_TRUE(provider.start()) << provider.errorString().toStdString();
    begin(serviceName, {}, provider.callbackURL());
    ASSERT_TRUE(waitForAuthorisationPage());
    QDialog *dialog = controller->window();
    QScreen *screen = dialog->screen();
    // The window's own account of its frame: a widget's copy is refreshed only
    // when the window moves or is resized.
    QWindow *window = dialog->windowHandle();
    const auto onScreen = [&] { return screen->availableGeometry().contains(window->frameGeometry()); };
    const auto where = [&] {
        QString text;
        QDebug(&text) << "frame" << window->frameGeometry() << "on" << screen->availableGeometry();
        return text.toStdString();
    };
    if (scaled) {
        EXPECT_EQ(screen->geometry().size(), QSize(640, 400));
        // Framed and placed by the window manager. Qt hears of the frame and of
        // the place in events of their own, late under load: wait for both.
        EXPECT_TRUE(waitFor([&] { return !window->frameMargins().isNull() && onScreen(); })) << where();
        settle(800);
        const QString artifacts = qEnvironmentVariable("LEAFHAUL_TEST_ARTIFACTS");
        if (!artifacts.isEmpty())
            screen->grabWindow(0).save(artifacts + QStringLiteral("/signin-scale-2-screen.png"));
    }
    EXPECT_TRUE(onScreen()) << where();
    QWebEngineView *view = controller->webView();
    QWidget *focus = dialog->focusWidget();
    EXPECT_TRUE(focus && (focus == view || view->isAncestorOf(focus)))
        << (focus ? focus->metaObject()->className() : "");
    // What a screen reader announces as the keys arrive.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(focus)->text(QAccessible::Name).toStdString(), "Sign-in page");

    QPushButton *back = controller->webBackButton();
    QWebEnginePage *page = view->page();
    EXPECT_FALSE(back->isEnabled()) << "nothing to go back to";
    page->load(page->url().resolved(QUrl(QStringLiteral("/help"))));
    ASSERT_TRUE(waitFor([&] { return page->url().path() == QStringLiteral("/help") && !page->isLoading(); }));
    EXPECT_TRUE(waitFor([&] { return back->isEnabled(); }));
    // Back by keyboard: as it greys the keys go back to the page, not on to
    // the next in line, where a second Space would untick the keychain box;
    // not even on their way, or a screen reader would announce the box.
    QWidgetList keys;
    QObject watching; // ends the watch before `keys` goes
    QObject::connect(qApp, &QApplication::focusChanged, &watching, [&](QWidget *, QWidget *now) { keys << now; });
    ASSERT_TRUE(waitForKeysOnThePage());
    back->setFocus();
    QTest::keyClick(back, Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return page->url().path() == QStringLiteral("/OAuth.action") && !page->isLoading(); }));
    EXPECT_TRUE(waitFor([&] { return !back->isEnabled(); })) << "back at the first page";
    focus = dialog->focusWidget();
    EXPECT_TRUE(focus && (focus == view || view->isAncestorOf(focus)))
        << (focus ? focus->metaObject()->className() : "");
    QTest::keyClick(focus ? focus : dialog, Qt::Key_Space);
    EXPECT_TRUE(controller->keychainCheckbox()->isChecked());
    EXPECT_FALSE(keys.contains(controller->keychainCheckbox()));
    controller->cancelSigningIn();
}

TEST_F(SignInWindow, SubResourceRequestsToTheCallbackAreBlocked)
{
    FakeProvider provider;
    ASSERT_TRUE(provider.start()) << provider.errorString().toStdString();
    begin(serviceName, {}, provider.callbackURL());
    ASSERT_TRUE(waitForAuthorisationPage());
    const QString leak = provider.callbackURL() + QStringLiteral("?oauth_token=leak&oauth_verifier=leak");
    QWebEnginePage *page = controller->webView()->page();
    // Each attempt reports when it has failed, so the check below does not
    // depend on how fast the machine is.
    evaluate(page, QStringLiteral("window.failed = []; "
                                  "var i = new Image(); i.onerror = () => failed.push('image'); i.src = '%1'; "
                                  "fetch('%1&by=fetch').catch(() => failed.push('fetch')); "
                                  "var f = document.createElement('iframe'); f.src = '%1&by=frame'; "
                                  "document.body.appendChild(f); true")
                       .arg(leak));
    ASSERT_TRUE(waitFor([&] { return evaluate(page, QStringLiteral("failed.length")).toInt() == 2; }));
    // The frame's navigation has no failure to wait for: give it the time
    // the other two took, and some.
    settle(500);
    EXPECT_FALSE(callbackWasLoaded(provider));
    // Not taken for the callback: the page is still up and the sign-in goes on.
    EXPECT_EQ(finished, 0);
    EXPECT_TRUE(controller->window()->isVisible());
    approve();
    ASSERT_TRUE(waitFor([&] { return finished > 0; }));
    EXPECT_FALSE(error);
    EXPECT_TRUE(auth->canAuthorize());
    EXPECT_FALSE(callbackWasLoaded(provider));
}

TEST_F(SignInWindow, KeychainBoxOffOrNoServiceName)
{
    for (const bool withServiceName : {true, false}) {
        FakeProvider provider;
        ASSERT_TRUE(provider.start()) << provider.errorString().toStdString();
        WSKOAuthAuthentication stored = *applicationAuth();
        stored.setAccessToken(QStringLiteral("tok=1:older"));
        ASSERT_TRUE(WSKOAuthKeychainStore::saveParamsToKeychainForName(serviceName, stored));

        finished = 0;
        begin(withServiceName ? serviceName : QString());
        ASSERT_TRUE(waitForAuthorisationPage());
        EXPECT_EQ(controller->keychainCheckbox()->isVisibleTo(controller->window()), withServiceName);
        controller->keychainCheckbox()->setChecked(false);
        approve();
        ASSERT_TRUE(waitFor([&] { return finished > 0; }));
        ASSERT_FALSE(error) << error->toString().toStdString();

        // With the box off a successful sign-in forgets the older token;
        // without a service name the keychain is left alone.
        std::shared_ptr<WSKOAuthAuthentication> restored = applicationAuth();
        EXPECT_EQ(WSKOAuthKeychainStore::authorizeFromKeychainForName(serviceName, *restored), !withServiceName);
        if (!withServiceName) {
            EXPECT_EQ(restored->accessToken(), QStringLiteral("tok=1:older"));
        }
        WSKOAuthKeychainStore::removeParamsFromKeychainForName(serviceName);
    }
}

TEST_F(SignInWindow, UserClosingTheWindowEndsOnceWithMinus1000)
{
    const struct
    {
        const char *how;
        std::function<void(WSKOAuthWindowController *)> close;
    } cases[] = {
        {"title bar", [](WSKOAuthWindowController *c) { c->window()->close(); }},
        {"reject", [](WSKOAuthWindowController *c) { c->window()->reject(); }},
        {"close button", [](WSKOAuthWindowController *c) { c->webCloseButton()->click(); }},
        // The sheet opens with the keys on its page, which takes Escape.
        {"escape on the page",
         [this](WSKOAuthWindowController *c) {
             ASSERT_TRUE(waitForKeysOnThePage());
             QTest::keyClick(c->window()->focusWidget(), Qt::Key_Escape);
         }},
    };
    for (const auto &c : cases) {
        FakeProvider provider;
        ASSERT_TRUE(provider.start()) << provider.errorString().toStdString();
        WSKOAuthAuthentication stored = *applicationAuth();
        stored.setAccessToken(QStringLiteral("tok=1:kept"));
        ASSERT_TRUE(WSKOAuthKeychainStore::saveParamsToKeychainForName(serviceName, stored));

        finished = 0;
        begin(serviceName);
        ASSERT_TRUE(waitForAuthorisationPage()) << c.how;
        QPointer<QDialog> dialog = controller->window();
        c.close(controller);
        settle();
        EXPECT_FALSE(dialog && dialog->isVisible()) << c.how;
        EXPECT_EQ(finished, 1) << c.how;
        ASSERT_TRUE(error) << c.how;
        EXPECT_TRUE(error->is(QString::fromLatin1(kWSKOAuthErrorDomain), kWSKOAuthErrorCodeWindowClosed)) << c.how;
        EXPECT_TRUE(provider.requests(QStringLiteral("access")).isEmpty()) << c.how;
        // An error leaves the keychain alone.
        std::shared_ptr<WSKOAuthAuthentication> restored = applicationAuth();
        EXPECT_TRUE(WSKOAuthKeychainStore::authorizeFromKeychainForName(serviceName, *restored)) << c.how;
    }
}

TEST_F(SignInWindow, ParentWindowGoingAwayCountsAsClosed)
{
    FakeProvider provider;
    ASSERT_TRUE(provider.start()) << provider.errorString().toStdString();
    auto *owner = new QWidget;
    owner->show();
    begin(serviceName, {}, {}, owner);
    ASSERT_TRUE(waitForAuthorisationPage());
    delete owner;
    settle();
    EXPECT_EQ(finished, 1);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kWSKOAuthErrorCodeWindowClosed);
    EXPECT_TRUE(controller.isNull());
}

TEST_F(SignInWindow, CancelCallsNobodyAndALaterCloseReportsNothing)
{
    FakeProvider provider;
    ASSERT_TRUE(provider.start()) << provider.errorString().toStdString();
    begin(serviceName);
    ASSERT_TRUE(waitForAuthorisationPage());
    QPointer<QDialog> dialog = controller->window();
    controller->cancelSigningIn();
    EXPECT_FALSE(dialog->isVisible());
    if (dialog)
        dialog->close();
    settle();
    EXPECT_EQ(finished, 0);
    EXPECT_TRUE(controller.isNull());
}

TEST_F(SignInWindow, AnEarlyClockShowsTheClockMessageInsteadOfThePage)
{
    for (const qint64 now : {qint64(1293840000), qint64(1293840001)}) {
        FakeProvider provider;
        ASSERT_TRUE(provider.start()) << provider.errorString().toStdString();
        finished = 0;
        begin(serviceName, [now] { return now; });
        ASSERT_TRUE(waitFor([&] { return controller && controller->window() && controller->window()->isVisible(); }));
        QWebEnginePage *page = controller->webView()->page();
        const bool clockWrong = now <= 1293840000;
        if (clockWrong) {
            ASSERT_TRUE(waitFor([&] {
                return evaluate(page, QStringLiteral("document.body ? document.body.innerText : ''"))
                    .toString()
                    .contains(QStringLiteral("System Clock Incorrect"));
            }));
            EXPECT_FALSE(controller->keychainCheckbox()->isVisibleTo(controller->window()));
            saveScreenshot(controller->window(), QStringLiteral("signin-clock-message"));
            settle(500);
            EXPECT_TRUE(provider.requests(QStringLiteral("authorise-page")).isEmpty());
        } else {
            ASSERT_TRUE(waitFor([&] { return !provider.requests(QStringLiteral("authorise-page")).isEmpty(); }));
        }
        // Either way only the user can end it now.
        controller->window()->close();
        ASSERT_TRUE(waitFor([&] { return finished > 0; }));
        EXPECT_EQ(error ? error->code : 0, kWSKOAuthErrorCodeWindowClosed);
    }
}

TEST_F(SignInWindow, NewWindowLinksGoToTheDesktopBrowser)
{
    FakeProvider provider;
    ASSERT_TRUE(provider.start()) << provider.errorString().toStdString();
    DesktopBrowser browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "openUrl");
    begin(serviceName, {}, provider.callbackURL());
    ASSERT_TRUE(waitForAuthorisationPage());
    QWebEnginePage *page = controller->webView()->page();
    // Script is no user gesture: let it open windows, as a click would.
    page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    // A window opened on the callback would hand its token and verifier to
    // the browser: it goes nowhere. The help link, opened after it, must be
    // the only one the browser gets.
    evaluate(page, QStringLiteral("window.open('%1?oauth_token=t&oauth_verifier=v'); "
                                  "document.getElementById('help').click(); true")
                       .arg(provider.callbackURL()));
    EXPECT_TRUE(waitFor([&] { return !browser.opened.isEmpty(); }));
    settle();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    ASSERT_EQ(browser.opened.size(), 1) << browser.opened.value(0).toString().toStdString() << " "
                                        << browser.opened.value(1).toString().toStdString();
    EXPECT_EQ(browser.opened[0].path(), QStringLiteral("/help"));
    // The dialog still shows the authorisation page.
    EXPECT_EQ(page->url().path(), QStringLiteral("/OAuth.action"));
    EXPECT_TRUE(provider.requests(QStringLiteral("help")).isEmpty());
    controller->cancelSigningIn();
}

} // namespace

#include "SignInWindowTest.moc"
