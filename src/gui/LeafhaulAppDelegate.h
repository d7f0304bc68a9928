#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QVariantMap>

#include <optional>

class AccountEditor;
class ExportViewController;
class ImportBackpackSheet;
class QAction;
class QApplication;
class QComboBox;
class QLabel;
class QMainWindow;
class QProgressBar;
class QToolBar;
class WSKOAuthAuthentication;
class WSKOAuthWindowController;

// Owns the main window and drives the import road: account picker, page
// list, confirmation, Ravadido sign-in (the keychain's token or the sign-in
// sheet), and a new sign-in when the token has expired.
class LeafhaulAppDelegate : public QObject
{
    Q_OBJECT
public:
    explicit LeafhaulAppDelegate(QObject *parent = nullptr);
    ~LeafhaulAppDelegate() override;

    // Reads the settings that point the program at other services and adds
    // LEAFHAUL_CA_FILE, when set, to what both HTTP stacks and the web views
    // trust. False, with the reason, when the file cannot be used.
    static bool trustCertificateAuthorityFromEnvironment(QString *error);

    // The main window's first size on a screen with `available` room.
    static QSize initialWindowSize(const QSize &available);

    // Makes and shows the main window and loads the selected account's pages.
    void applicationDidFinishLaunching();
    // Saves the selection and asks a running import to stop, without waiting.
    void applicationWillTerminate();
    // Quit, and closing the main window: a running import is stopped as Stop
    // does, and the event loop ends (runLeafhaul then waits for the import).
    void quit();

    // Actions.
    void editAccounts();
    void currentAccountChanged();
    void presentImportSheet();
    void showHelp();

    // The status area.
    void showProgress(const QString &text);
    void hideProgress();

    void reloadAccountPicker();
    // The first stored record whose site name is the picker's title.
    std::optional<QVariantMap> selectedAccount() const;
    void saveSelectedAccount();
    void loadSelectedAccount();
    void updateExportView();

    void beginImport();
    void signOut();
    void reauthorizeAndRestartImport();
    bool isImporting() const;

    QMainWindow *window() const { return m_window; }
    QToolBar *toolBar() const { return m_toolBar; }
    QComboBox *accountsPopup() const { return m_accountsPopup; }
    QAction *importAction() const { return m_importAction; }
    QAction *editAccountsAction() const { return m_editAccountsAction; }
    QAction *helpAction() const { return m_helpAction; }
    QAction *quitAction() const { return m_quitAction; }
    QAction *selectAllForImportAction() const { return m_selectAllAction; }
    QAction *selectNoneForImportAction() const { return m_selectNoneAction; }
    QProgressBar *progressIndicator() const { return m_progressIndicator; }
    QLabel *statusLabel() const { return m_statusLabel; }
    ExportViewController *exportViewController() const { return m_exportViewController; }
    ImportBackpackSheet *importSheet() const { return m_importSheet; }
    AccountEditor *accountEditor() const;
    WSKOAuthWindowController *signInController() const;

    // The Ravadido record with the program's sign-in values; new every call.
    static std::shared_ptr<WSKOAuthAuthentication> ravadidoAuth();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupMenus();
    void setupToolbar();
    void fitIntoScreen();
    void importStateChanged();
    void givePagesTheKeys();
    void createExportView();
    void validateToolbarItems();
    void authenticate();
    void importBackpackSheetDidEnd(int result);
    static void removeOldRavadidoAccountInfo();

    QMainWindow *m_window;
    QToolBar *m_toolBar = nullptr;
    QComboBox *m_accountsPopup = nullptr;
    QAction *m_importAction = nullptr;
    QAction *m_editAccountsAction = nullptr;
    QAction *m_helpAction = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_selectAllAction = nullptr;
    QAction *m_selectNoneAction = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
    QLabel *m_statusLabel = nullptr;
    ExportViewController *m_exportViewController = nullptr;
    ImportBackpackSheet *m_importSheet = nullptr;
    QPointer<AccountEditor> m_accountEditor;
    QPointer<WSKOAuthWindowController> m_signIn;
};

// The program's run: quits on SIGTERM and SIGINT as on a closed window (a
// running import is cancelled and its partial files removed), launches,
// turns the event loop, and on the way out gives a cancelled import a few
// seconds to clean up. Returns the exit code.
int runLeafhaul(QApplication &app, LeafhaulAppDelegate &delegate);
