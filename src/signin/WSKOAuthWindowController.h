#pragma once

#include "foundation/Error.h"
#include "signin/HttpRequest.h"
#include "signin/WSKOAuthKeychainStore.h"
#include "signin/WSKOAuthSignIn.h"

#include <QCheckBox>
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWebEngineView>

#include <functional>
#include <memory>
#include <optional>

class QWebEngineProfile;
class WSKOAuthAuthentication;

namespace wsk_detail {
class SignInPage;
}

// Shows the service's authorisation page in a dialog: window-modal on the
// given window, or a window of its own. Owns the sign-in it drives and, when
// the sign-in succeeds with the keychain box ticked, keeps the token in the
// Secret Service. The page runs in an off-the-record profile of its own, so
// its cookies live and die with the dialog.
//
// The controller deletes itself (later) once the sign-in has ended, by its
// final callback or by cancelSigningIn(); callers that keep a pointer hold a
// QPointer.
class WSKOAuthWindowController : public QObject, public WSKOAuthSignInDelegate, public WSKOAuthKeychainStore
{
    Q_OBJECT
public:
    using CompletionHandler =
        std::function<void(const std::shared_ptr<WSKOAuthAuthentication> &auth, const OptionalError &error)>;
    // Takes links that want a new window instead of the desktop's browser.
    using ExternalRequestHandler = std::function<void(WSKOAuthWindowController *controller, const QUrl &url)>;
    // Seconds since 1970-01-01 00:00 UTC.
    using Clock = std::function<qint64()>;

    // `language` is accepted and ignored. The record must not be null; its
    // scope is set here.
    WSKOAuthWindowController(const QString &scope, const QString &language, const QUrl &requestTokenURL,
                             const QUrl &authorizeTokenURL, const QUrl &accessTokenURL,
                             std::shared_ptr<WSKOAuthAuthentication> auth, const QString &appServiceName);
    ~WSKOAuthWindowController() override;

    // Starts the sign-in. The dialog appears once the request token has
    // arrived. `handler` runs exactly once, on this thread, unless the sign-in
    // is cancelled: with the record and no error on success, or with an error
    // (kWSKOAuthErrorDomain -1000 when the user closed the dialog).
    void signInSheetModalForWindow(QWidget *parentWindow, CompletionHandler handler);
    // Ends without calling the handler.
    void cancelSigningIn();
    // The close button: the user gives up.
    void closeWindow();

    std::shared_ptr<WSKOAuthAuthentication> authentication() const;
    WSKOAuthSignIn *signIn() const { return m_signIn; }
    QString displayName() const;
    void setDisplayName(const QString &name);
    double networkLossTimeoutInterval() const;
    void setNetworkLossTimeoutInterval(double seconds);
    bool shouldUseKeychain() const { return !m_keychainApplicationServiceName.isEmpty(); }
    QString keychainApplicationServiceName() const { return m_keychainApplicationServiceName; }
    void setKeychainApplicationServiceName(const QString &name) { m_keychainApplicationServiceName = name; }
    std::optional<HttpRequest> initialRequest() const { return m_initialRequest; }
    QString initialHTMLString() const { return m_initialHTMLString; }
    void setInitialHTMLString(const QString &html) { m_initialHTMLString = html; }
    void setExternalRequestHandler(ExternalRequestHandler handler) { m_externalRequestHandler = std::move(handler); }
    QVariant userData() const { return m_userData; }
    void setUserData(const QVariant &data) { m_userData = data; }
    // The clock of the clock check; the system's unless replaced.
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // The dialog and its parts; null until the page is first shown.
    QDialog *window() const { return m_window; }
    QWebEngineView *webView() const { return m_webView; }
    QCheckBox *keychainCheckbox() const { return m_keychainCheckbox; }
    QPushButton *webCloseButton() const { return m_webCloseButton; }
    QPushButton *webBackButton() const { return m_webBackButton; }
    bool isWindowShown() const { return m_isWindowShown; }

    // WSKOAuthSignInDelegate
    void signIn(WSKOAuthSignIn *signIn, const std::optional<HttpRequest> &request) override;
    void signIn(WSKOAuthSignIn *signIn, const std::shared_ptr<WSKOAuthAuthentication> &auth,
                const OptionalError &error) override;

private:
    friend class wsk_detail::SignInPage;

    void makeWindow();
    void loadInitialPage();
    void destroyWindow();
    void windowWillClose();
    void handlePrematureWindowClose();
    // Every main-frame request of the page, and sub-resource requests to the
    // callback. False means: do not load it.
    bool pageWillSendRequest(const QUrl &url, bool mainFrame);
    void openExternally(const QUrl &url);

    WSKOAuthSignIn *m_signIn = nullptr;
    std::optional<HttpRequest> m_initialRequest;
    CompletionHandler m_completionBlock;
    ExternalRequestHandler m_externalRequestHandler;
    Clock m_clock;
    bool m_isWindowShown = false;
    bool m_hasDoneFinalRedirect = false;
    bool m_hasCalledFinished = false;
    bool m_closingFromCode = false;
    QPointer<QWidget> m_sheetModalForWindow;
    QString m_keychainApplicationServiceName;
    QString m_initialHTMLString;
    QVariant m_userData;

    QPointer<QDialog> m_window;
    QPointer<QWebEngineView> m_webView;
    QPointer<QCheckBox> m_keychainCheckbox;
    QPointer<QPushButton> m_webCloseButton;
    QPointer<QPushButton> m_webBackButton;
    QWebEngineProfile *m_profile = nullptr;
    wsk_detail::SignInPage *m_page = nullptr;
};
