#include "signin/WSKOAuthWindowController.h"

#include "signin/WSKOAuthAuthentication.h"
#include "signin/WebCertificateTrust.h"
#include "signin/WindowFit.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <utility>

namespace {

// 2011-01-01 00:00:00 UTC: a clock at or before it cannot be right, and the
// service would refuse every signature made with it.
constexpr qint64 kEarliestPlausibleTime = 1293840000;

// The first size, where the screen has room for it.
constexpr QSize kWindowSize(820, 640);

const char kClockMessage[] = "<html><body><div align=center><font size='7'>&#x231A; ?<br><i>System Clock "
                             "Incorrect</i><br>%1</font></div></body></html>";

// Blocks every request to the callback, whatever frame or resource asks for
// it, so the token and verifier never go out in clear text. Main-frame ones
// are also reported, in case a navigation slips past the page's own check.
class CallbackInterceptor : public QWebEngineUrlRequestInterceptor
{
public:
    CallbackInterceptor(QString callback, QPointer<WSKOAuthWindowController> controller,
                        std::function<void(const QUrl &)> report, QObject *parent)
        : QWebEngineUrlRequestInterceptor(parent), m_callback(std::move(callback)), m_controller(std::move(controller)),
          m_report(std::move(report))
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QUrl url = info.requestUrl();
        if (!WSKOAuthSignIn::isCallbackURL(url, m_callback))
            return;
        info.block(true);
        if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame && m_controller)
            QMetaObject::invokeMethod(
                m_controller.data(), [report = m_report, url] { report(url); }, Qt::QueuedConnection);
    }

private:
    const QString m_callback;
    const QPointer<WSKOAuthWindowController> m_controller;
    const std::function<void(const QUrl &)> m_report;
};

// Names the widget that takes the page's keys for the view. The view makes
// it, and may make it anew for another renderer; a screen reader announces
// that widget, not the view, when the page has the keys.
class FocusProxyNamer : public QObject
{
public:
    FocusProxyNamer(QWidget *view, QString name) : QObject(view), m_name(std::move(name))
    {
        view->setAccessibleName(m_name);
        view->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildPolished)
            if (QWidget *proxy = static_cast<QWidget *>(watched)->focusProxy())
                proxy->setAccessibleName(m_name);
        return false;
    }

private:
    const QString m_name;
};

} // namespace

namespace wsk_detail {

class SignInPage : public QWebEnginePage
{
public:
    SignInPage(QWebEngineProfile *profile, WSKOAuthWindowController *controller)
        : QWebEnginePage(profile, nullptr), m_controller(controller)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        return m_controller && m_controller->pageWillSendRequest(url, isMainFrame);
    }

private:
    QPointer<WSKOAuthWindowController> m_controller;
};

} // namespace wsk_detail

WSKOAuthWindowController::WSKOAuthWindowController(const QString &scope, const QString &, const QUrl &requestTokenURL,
                                                   const QUrl &authorizeTokenURL, const QUrl &accessTokenURL,
                                                   std::shared_ptr<WSKOAuthAuthentication> auth,
                                                   const QString &appServiceName)
    : m_keychainApplicationServiceName(appServiceName)
{
    Q_ASSERT_X(auth, "WSKOAuthWindowController", "authentication object required");
    auth->setScope(scope);
    auth->setDisplayName(QGuiApplication::applicationDisplayName());
    m_signIn = new WSKOAuthSignIn(std::move(auth), requestTokenURL, authorizeTokenURL, accessTokenURL, this, this);
    m_clock = [] { return QDateTime::currentSecsSinceEpoch(); };
}

WSKOAuthWindowController::~WSKOAuthWindowController()
{
    m_hasCalledFinished = true;
    m_completionBlock = {};
    if (m_window) {
        m_window->disconnect(this);
        delete m_window.data();
    }
    // A page must go before its profile.
    delete m_page;
    delete m_profile;
}

std::shared_ptr<WSKOAuthAuthentication> WSKOAuthWindowController::authentication() const
{
    return m_signIn->authentication();
}

QString WSKOAuthWindowController::displayName() const
{
    return authentication()->displayName();
}

void WSKOAuthWindowController::setDisplayName(const QString &name)
{
    authentication()->setDisplayName(name);
}

double WSKOAuthWindowController::networkLossTimeoutInterval() const
{
    return m_signIn->networkLossTimeoutInterval();
}

void WSKOAuthWindowController::setNetworkLossTimeoutInterval(double seconds)
{
    m_signIn->setNetworkLossTimeoutInterval(seconds);
}

void WSKOAuthWindowController::signInSheetModalForWindow(QWidget *parentWindow, CompletionHandler handler)
{
    m_completionBlock = std::move(handler);
    m_sheetModalForWindow = parentWindow ? parentWindow->window() : nullptr;
    m_hasDoneFinalRedirect = false;
    m_hasCalledFinished = false;
    m_signIn->startSigningIn();
}

void WSKOAuthWindowController::cancelSigningIn()
{
    m_hasCalledFinished = true;
    m_completionBlock = {};
    m_signIn->cancelSigningIn();
    m_hasDoneFinalRedirect = true;
    deleteLater();
}

void WSKOAuthWindowController::closeWindow()
{
    destroyWindow();
    handlePrematureWindowClose();
}

void WSKOAuthWindowController::signIn(WSKOAuthSignIn *, const std::optional<HttpRequest> &request)
{
    if (!m_isWindowShown && request) {
        m_initialRequest = request;
        makeWindow();
        m_isWindowShown = true;
        if (m_sheetModalForWindow)
            m_window->open();
        else
            m_window->show();
    } else if (m_isWindowShown && !request) {
        destroyWindow();
    } else {
        qWarning().noquote() << QStringLiteral("Window state unexpected for request %1")
                                    .arg(request ? request->url : QStringLiteral("(null)"));
    }
}

void WSKOAuthWindowController::makeWindow()
{
    m_window = new QDialog(m_sheetModalForWindow);
    m_window->setWindowTitle(localizedString("Sign In"));

    m_profile = new QWebEngineProfile(this); // no storage name: off the record
    QPointer<WSKOAuthWindowController> self(this);
    m_profile->setUrlRequestInterceptor(new CallbackInterceptor(
        authentication()->callback(), self,
        [self](const QUrl &url) {
            if (self)
                self->pageWillSendRequest(url, true);
        },
        m_profile));
    m_page = new wsk_detail::SignInPage(m_profile, this);
    connect(m_page, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest &request) { openExternally(request.requestedUrl()); });
    connect(m_page, &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) { answerWebCertificateError(error); });

    m_webView = new QWebEngineView(m_window);
    new FocusProxyNamer(m_webView, localizedString("Sign-in page"));
    m_webView->setPage(m_page);
    m_webBackButton = new QPushButton(localizedString("Back"), m_window);
    m_keychainCheckbox = new QCheckBox(localizedString("Stay signed in on this computer"), m_window);
    m_keychainCheckbox->setChecked(true);
    m_webCloseButton = new QPushButton(localizedString("Cancel"), m_window);
    m_webCloseButton->setAutoDefault(false);
    m_webBackButton->setAutoDefault(false);
    // Back follows the page's history: nothing to go back to, no Back.
    QAction *back = m_page->action(QWebEnginePage::Back);
    m_webBackButton->setEnabled(back->isEnabled());
    connect(back, &QAction::changed, m_webBackButton, [this, back] {
        // A greyed button hands its keys on to the keychain box, where a
        // second Space would untick it and a screen reader would announce
        // it: the page takes them before the button greys.
        if (!back->isEnabled() && m_window->focusWidget() == m_webBackButton)
            m_webView->setFocus();
        m_webBackButton->setEnabled(back->isEnabled());
    });
    connect(m_webBackButton, &QPushButton::clicked, back, &QAction::trigger);
    connect(m_webCloseButton, &QPushButton::clicked, this, &WSKOAuthWindowController::closeWindow);
    // The page keeps Escape for itself: the sheet's own is Cancel, wherever
    // the keys are.
    new QShortcut(QKeySequence(Qt::Key_Escape), m_window, this, &WSKOAuthWindowController::closeWindow,
                  Qt::WindowShortcut);
    connect(m_window, &QDialog::finished, this, &WSKOAuthWindowController::windowWillClose);
    // Gone with its parent window: as good as closed by the user.
    connect(m_window, &QObject::destroyed, this, [this] {
        if (m_isWindowShown)
            windowWillClose();
    });

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_webBackButton);
    buttons->addWidget(m_keychainCheckbox);
    buttons->addStretch(1);
    buttons->addWidget(m_webCloseButton);
    auto *layout = new QVBoxLayout(m_window);
    layout->addWidget(m_webView, 1);
    layout->addLayout(buttons);
    WindowFit::resizeIntoScreen(m_window, kWindowSize);
    m_webView->setFocus();

    // The page must hold something before the sheet is shown: one whose
    // first content arrives later stays black on screen under a window
    // manager (a grab of the sheet still looks right).
    const qint64 now = m_clock();
    if (now > kEarliestPlausibleTime) {
        m_page->setHtml(m_initialHTMLString);
        QTimer::singleShot(10, this, &WSKOAuthWindowController::loadInitialPage);
    } else {
        m_page->setHtml(
            QString::fromLatin1(kClockMessage).arg(QDateTime::fromSecsSinceEpoch(now).toString().toHtmlEscaped()));
        m_keychainCheckbox->hide();
    }
    if (!shouldUseKeychain())
        m_keychainCheckbox->hide();
}

void WSKOAuthWindowController::loadInitialPage()
{
    if (m_page && m_isWindowShown && m_initialRequest)
        m_page->load(QUrl(m_initialRequest->url));
}

void WSKOAuthWindowController::destroyWindow()
{
    m_isWindowShown = false;
    if (m_window && m_window->isVisible()) {
        // Closed by this code, not by the user: windowWillClose must not
        // take it for a premature close.
        m_closingFromCode = true;
        m_window->done(QDialog::Accepted);
        m_closingFromCode = false;
    }
    m_sheetModalForWindow = nullptr;
}

void WSKOAuthWindowController::windowWillClose()
{
    m_isWindowShown = false;
    if (!m_closingFromCode)
        handlePrematureWindowClose();
}

void WSKOAuthWindowController::handlePrematureWindowClose()
{
    if (m_hasDoneFinalRedirect)
        return;
    m_hasDoneFinalRedirect = true;
    m_signIn->windowWasClosed();
}

bool WSKOAuthWindowController::pageWillSendRequest(const QUrl &url, bool mainFrame)
{
    if (mainFrame && !m_hasDoneFinalRedirect && m_signIn->requestRedirectedToRequest(url)) {
        m_hasDoneFinalRedirect = true;
        return false;
    }
    // Never load the callback, also not after the sign-in has moved on.
    return !WSKOAuthSignIn::isCallbackURL(url, authentication()->callback());
}

void WSKOAuthWindowController::openExternally(const QUrl &url)
{
    // The callback carries the token and verifier: it never leaves the dialog.
    if (WSKOAuthSignIn::isCallbackURL(url, authentication()->callback()))
        return;
    if (m_externalRequestHandler)
        m_externalRequestHandler(this, url);
    // The page may name any scheme; only web addresses go to the browser.
    else if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
        QDesktopServices::openUrl(url);
}

void WSKOAuthWindowController::signIn(WSKOAuthSignIn *, const std::shared_ptr<WSKOAuthAuthentication> &auth,
                                      const OptionalError &error)
{
    if (m_hasCalledFinished)
        return;
    m_hasCalledFinished = true;
    if (m_isWindowShown)
        destroyWindow();
    if (!error && shouldUseKeychain()) {
        if (m_keychainCheckbox && m_keychainCheckbox->isChecked() && auth->canAuthorize())
            saveParamsToKeychainForName(m_keychainApplicationServiceName, *auth);
        else
            removeParamsFromKeychainForName(m_keychainApplicationServiceName);
    }
    if (CompletionHandler block = std::exchange(m_completionBlock, {}))
        block(auth, error);
    deleteLater();
}
