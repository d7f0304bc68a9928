#include "gui/LeafhaulAppDelegate.h"

#include "gui/AccountEditor.h"
#include "gui/AccountStore.h"
#include "gui/Alerts.h"
#include "gui/ExportViewController.h"
#include "gui/ImportBackpackSheet.h"
#include "gui/ImportController.h"
#include "gui/ImportProgressSheet.h"

#include "app/WorkQueue.h"
#include "foundation/Error.h"
#include "foundation/SyncHttp.h"
#include "foundation/SystemLog.h"
#include "signin/RavadidoSignInValues.h"
#include "signin/SettingsKeys.h"
#include "signin/VKKeychain.h"
#include "signin/WSKOAuthAuthentication.h"
#include "signin/WSKOAuthSignIn.h"
#include "signin/WSKOAuthWindowController.h"
#include "signin/WindowFit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace RavadidoSignInValues;

constexpr char kCAFileVariable[] = "LEAFHAUL_CA_FILE";
// The keychain service of the password an older sign-in kept.
constexpr char kOldPasswordService[] = "Leafhaul";
// How long the way out waits for a cancelled import to clean up.
constexpr int kQuitGraceMs = 4000;
// The first size, where the screen has room for it.
constexpr QSize kInitialSize(960, 640);

QString keychainName()
{
    return QString::fromLatin1(kKeychainName);
}

} // namespace

LeafhaulAppDelegate::LeafhaulAppDelegate(QObject *parent) : QObject(parent), m_window(new QMainWindow)
{
    m_window->setWindowTitle(QStringLiteral("Leafhaul"));
    m_window->setWindowIcon(QIcon(QStringLiteral(":/leafhaul/leafhaul.svg")));
    m_window->resize(kInitialSize);
    m_window->installEventFilter(this);

    // One action per command, shared by the toolbar and the menus: each menu
    // item is enabled exactly when its toolbar button is.
    m_importAction = new QAction(localizedString("Import"), this);
    m_importAction->setEnabled(false);
    connect(m_importAction, &QAction::triggered, this, &LeafhaulAppDelegate::presentImportSheet);
    m_editAccountsAction = new QAction(localizedString("Edit Accounts"), this);
    connect(m_editAccountsAction, &QAction::triggered, this, &LeafhaulAppDelegate::editAccounts);
    m_helpAction = new QAction(localizedString("Help"), this);
    m_helpAction->setShortcut(QKeySequence::HelpContents);
    connect(m_helpAction, &QAction::triggered, this, &LeafhaulAppDelegate::showHelp);
    m_quitAction = new QAction(localizedString("Quit"), this);
    m_quitAction->setShortcut(QKeySequence::Quit);
    // Also from the progress sheet, which leaves the window unblocked.
    m_quitAction->setShortcutContext(Qt::ApplicationShortcut);
    m_quitAction->setMenuRole(QAction::QuitRole);
    connect(m_quitAction, &QAction::triggered, this, &LeafhaulAppDelegate::quit);
    m_selectAllAction = new QAction(localizedString("Select All for Import"), this);
    m_selectAllAction->setShortcut(QKeySequence::SelectAll);
    m_selectNoneAction = new QAction(localizedString("Select None for Import"), this);
    m_selectNoneAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    for (QAction *action :
         {m_importAction, m_editAccountsAction, m_helpAction, m_quitAction, m_selectAllAction, m_selectNoneAction})
        m_window->addAction(action);

    m_toolBar = m_window->addToolBar(localizedString("Toolbar"));
    m_toolBar->setObjectName(QStringLiteral("toolbar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_toolBar->addAction(m_importAction);
    m_accountsPopup = new QComboBox;
    m_accountsPopup->setAccessibleName(localizedString("Account"));
    m_accountsPopup->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_accountsPopup->setMinimumContentsLength(12);
    m_toolBar->addWidget(m_accountsPopup);
    connect(m_accountsPopup, &QComboBox::activated, this, &LeafhaulAppDelegate::currentAccountChanged);
    m_toolBar->addAction(m_editAccountsAction);
    m_toolBar->addAction(m_helpAction);
    if (auto *more = m_toolBar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(localizedString("More Toolbar Items"));

    m_progressIndicator = new QProgressBar;
    m_progressIndicator->setRange(0, 0); // indeterminate
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->setFixedSize(64, 12);
    m_progressIndicator->setAccessibleName(localizedString("Activity"));
    m_progressIndicator->hide();
    m_statusLabel = new QLabel;
    m_statusLabel->hide();
    m_window->statusBar()->setSizeGripEnabled(false);
    m_window->statusBar()->addWidget(m_progressIndicator);
    m_window->statusBar()->addWidget(m_statusLabel, 1);

    connect(qApp, &QCoreApplication::aboutToQuit, this, &LeafhaulAppDelegate::applicationWillTerminate);
}

LeafhaulAppDelegate::~LeafhaulAppDelegate()
{
    // The window deletes its page list before any sheet opened on it later,
    // and that sheet, going, unblocks the window: no page list to give the
    // keys to by then.
    m_window->removeEventFilter(this);
    delete m_window;
}

AccountEditor *LeafhaulAppDelegate::accountEditor() const
{
    return m_accountEditor;
}

WSKOAuthWindowController *LeafhaulAppDelegate::signInController() const
{
    return m_signIn;
}

bool LeafhaulAppDelegate::trustCertificateAuthorityFromEnvironment(QString *error)
{
    const QString path = qEnvironmentVariable(kCAFileVariable);
    if (path.isEmpty())
        return true;
    const QList<QSslCertificate> authorities = QSslCertificate::fromPath(path, QSsl::Pem);
    if (authorities.isEmpty() || !SyncHttp::setExtraCaFile(path)) {
        if (error)
            *error = QStringLiteral("%1: no certificate authority could be read from %2")
                         .arg(QLatin1String(kCAFileVariable), path);
        return false;
    }
    // The sign-in's fetches and every web view check against the default
    // configuration (see signin/WebCertificateTrust.h).
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}

void LeafhaulAppDelegate::applicationDidFinishLaunching()
{
    WorkQueue::runInBackground(&LeafhaulAppDelegate::removeOldRavadidoAccountInfo);
    setupToolbar();
    reloadAccountPicker();
    loadSelectedAccount();
    createExportView();
    setupMenus();
    updateExportView();
    fitIntoScreen();
    m_window->show();
    m_exportViewController->pagesTableView()->setFocus();
}

void LeafhaulAppDelegate::setupMenus()
{
    QMenuBar *bar = m_window->menuBar();
    QMenu *file = bar->addMenu(localizedString("&File"));
    file->addAction(m_importAction);
    file->addAction(m_editAccountsAction);
    file->addSeparator();
    file->addAction(m_quitAction);
    QMenu *edit = bar->addMenu(localizedString("&Edit"));
    edit->addAction(m_selectAllAction);
    edit->addAction(m_selectNoneAction);
    QMenu *help = bar->addMenu(localizedString("&Help"));
    help->addAction(m_helpAction);
    connect(m_selectAllAction, &QAction::triggered, m_exportViewController, &ExportViewController::selectAllForImport);
    connect(m_selectNoneAction, &QAction::triggered, m_exportViewController,
            &ExportViewController::selectNoneForImport);
}

QSize LeafhaulAppDelegate::initialWindowSize(const QSize &available)
{
    return WindowFit::initialSize(kInitialSize, available);
}

void LeafhaulAppDelegate::fitIntoScreen()
{
    WindowFit::resizeIntoScreen(m_window, kInitialSize);
}

void LeafhaulAppDelegate::quit()
{
    if (isImporting()) {
        if (ImportProgressSheet *sheet = m_exportViewController->importController()->progressSheet())
            sheet->cancelImport();
    }
    // Not QCoreApplication::quit(): that asks every window to close first,
    // and the progress sheet stays until its import has ended.
    QCoreApplication::exit(0);
}

bool LeafhaulAppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // Every sheet but the progress sheet blocks the window; its end gives
    // the window back.
    if (watched == m_window && event->type() == QEvent::WindowUnblocked)
        givePagesTheKeys();
    if (watched == m_window && event->type() == QEvent::Close && isImporting()) {
        event->accept();
        m_window->hide();
        quit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void LeafhaulAppDelegate::importStateChanged()
{
    // The progress sheet leaves the window unblocked, so that it can still
    // be closed; the list and its marks stay as they are under an import.
    const bool importing = isImporting();
    m_exportViewController->setEnabled(!importing);
    m_toolBar->setEnabled(!importing);
    validateToolbarItems();
    // The progress sheet has gone; the controls lost the keys as they were
    // disabled, and the window would give them to its first, the picker.
    if (!importing)
        givePagesTheKeys();
}

void LeafhaulAppDelegate::givePagesTheKeys()
{
    // After a sheet the keys go to the page list, whichever control had
    // them: an arrow key on the picker would switch accounts and reload
    // the list.
    if (m_exportViewController)
        m_exportViewController->pagesTableView()->setFocus(Qt::OtherFocusReason);
}

void LeafhaulAppDelegate::applicationWillTerminate()
{
    // A quit or a signal ends the editor as Done would: its edits are kept.
    // Nothing is reloaded for a window about to go.
    if (m_accountEditor) {
        disconnect(m_accountEditor, &AccountEditor::accountEditorDidEnd, this, nullptr);
        m_accountEditor->done(QDialog::Accepted);
    }
    saveSelectedAccount();
    if (m_exportViewController)
        m_exportViewController->importController()->cancel();
}

void LeafhaulAppDelegate::removeOldRavadidoAccountInfo()
{
    if (const auto user = AccountStore::oldRavadidoUserName())
        VKKeychain::deletePasswordForService(QLatin1String(kOldPasswordService), *user);
}

void LeafhaulAppDelegate::setupToolbar()
{
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->toggleViewAction()->setEnabled(false);
    m_window->setContextMenuPolicy(Qt::NoContextMenu);
}

void LeafhaulAppDelegate::createExportView()
{
    m_exportViewController = new ExportViewController;
    m_window->setCentralWidget(m_exportViewController);
    connect(m_exportViewController, &ExportViewController::showProgress, this, &LeafhaulAppDelegate::showProgress);
    connect(m_exportViewController, &ExportViewController::hideProgress, this, &LeafhaulAppDelegate::hideProgress);
    connect(m_exportViewController, &ExportViewController::pagesChanged, this,
            &LeafhaulAppDelegate::validateToolbarItems);
    connect(m_exportViewController, &ExportViewController::reauthorizeAndRestartImport, this,
            &LeafhaulAppDelegate::reauthorizeAndRestartImport);
    ImportController *import = m_exportViewController->importController();
    connect(import, &ImportController::importStarted, this, &LeafhaulAppDelegate::importStateChanged);
    connect(import, &ImportController::importEnded, this, &LeafhaulAppDelegate::importStateChanged);
    m_exportViewController->pagesTableView()->setFocus();
}

void LeafhaulAppDelegate::showProgress(const QString &text)
{
    m_progressIndicator->show();
    m_statusLabel->setText(text);
    m_statusLabel->show();
}

void LeafhaulAppDelegate::hideProgress()
{
    m_progressIndicator->hide();
    m_statusLabel->hide();
    m_statusLabel->setText(QString());
}

void LeafhaulAppDelegate::reloadAccountPicker()
{
    m_accountsPopup->clear();
    const QList<AccountStore::Account> accounts = AccountStore::accounts();
    if (AccountStore::validCount(accounts) > 0) {
        for (const AccountStore::Account &account : accounts)
            if (AccountStore::isValid(account))
                m_accountsPopup->addItem(account.value(QLatin1String(SettingsKeys::kSiteName)).toString());
    } else {
        m_accountsPopup->addItem(localizedString("No Accounts"));
    }
    m_accountsPopup->setEnabled(!accounts.isEmpty());
    validateToolbarItems();
}

std::optional<QVariantMap> LeafhaulAppDelegate::selectedAccount() const
{
    const QString title = m_accountsPopup->currentText();
    for (const AccountStore::Account &account : AccountStore::accounts())
        if (account.value(QLatin1String(SettingsKeys::kSiteName)).toString() == title)
            return account;
    return std::nullopt;
}

void LeafhaulAppDelegate::saveSelectedAccount()
{
    if (!AccountStore::accounts().isEmpty())
        AccountStore::setSelectedAccountName(m_accountsPopup->currentText());
    else
        AccountStore::setSelectedAccountName(std::nullopt);
}

void LeafhaulAppDelegate::loadSelectedAccount()
{
    const std::optional<QString> saved = AccountStore::selectedAccountName();
    // The title as saved, capitals included (findText's default).
    const int index = saved ? m_accountsPopup->findText(*saved) : -1;
    if (index >= 0)
        m_accountsPopup->setCurrentIndex(index);
    else if (!AccountStore::accounts().isEmpty())
        m_accountsPopup->setCurrentIndex(0);
    saveSelectedAccount();
    updateExportView();
}

void LeafhaulAppDelegate::currentAccountChanged()
{
    saveSelectedAccount();
    updateExportView();
}

void LeafhaulAppDelegate::updateExportView()
{
    if (!m_exportViewController)
        return;
    const std::optional<QVariantMap> account = selectedAccount();
    if (account)
        showProgress(localizedString("Loading pages…"));
    m_exportViewController->loadAccount(account);
    validateToolbarItems();
}

void LeafhaulAppDelegate::validateToolbarItems()
{
    // Not while a list is on its way: the listed pages would be another
    // account's than the picker names.
    const bool idle = !isImporting();
    m_importAction->setEnabled(idle && selectedAccount() && m_exportViewController
                               && m_exportViewController->pagesLoaded() && !m_exportViewController->isLoadingPages());
    for (QAction *action : {m_editAccountsAction, m_helpAction, m_selectAllAction, m_selectNoneAction})
        action->setEnabled(idle);
}

void LeafhaulAppDelegate::editAccounts()
{
    m_accountEditor = new AccountEditor(m_window);
    connect(m_accountEditor, &AccountEditor::accountEditorDidEnd, this, [this] {
        reloadAccountPicker();
        loadSelectedAccount();
    });
    m_accountEditor->selectAccount(m_accountsPopup->currentText());
    m_accountEditor->beginAccountEditorSheet();
}

void LeafhaulAppDelegate::presentImportSheet()
{
    if (!m_importSheet) {
        m_importSheet = new ImportBackpackSheet(m_window);
        connect(m_importSheet, &ImportBackpackSheet::importBackpackSheetDidEnd, this,
                [this](ImportBackpackSheet *, int result) { importBackpackSheetDidEnd(result); });
    }
    const std::optional<QVariantMap> account = selectedAccount();
    m_importSheet->setAccountName(account ? account->value(QLatin1String(SettingsKeys::kSiteName)).toString()
                                          : QString());
    m_importSheet->setNotesAreSelected(m_exportViewController->selectedForImportCount() != 0);
    m_importSheet->beginImportBackpackSheet();
}

void LeafhaulAppDelegate::importBackpackSheetDidEnd(int result)
{
    if (result != 0)
        beginImport();
}

void LeafhaulAppDelegate::showHelp()
{
    m_exportViewController->showHelpPage();
}

std::shared_ptr<WSKOAuthAuthentication> LeafhaulAppDelegate::ravadidoAuth()
{
    auto auth = std::make_shared<WSKOAuthAuthentication>(QString::fromLatin1(kWSKOAuthSignatureMethodHMAC_SHA1),
                                                         QString::fromLatin1(kConsumerKey),
                                                         QString::fromLatin1(kConsumerSecret));
    auth->setServiceProvider(QString::fromLatin1(kServiceProvider));
    return auth;
}

void LeafhaulAppDelegate::beginImport()
{
    authenticate();
}

bool LeafhaulAppDelegate::isImporting() const
{
    return m_exportViewController && m_exportViewController->importController()->isImporting();
}

void LeafhaulAppDelegate::authenticate()
{
    if (m_signIn || isImporting())
        return;
    const std::shared_ptr<WSKOAuthAuthentication> auth = ravadidoAuth();
    if (WSKOAuthWindowController::authorizeFromKeychainForName(keychainName(), *auth)) {
        m_exportViewController->beginImportWithAuthentication(*auth);
        return;
    }
    auth->setCallback(QString::fromLatin1(kCallbackURL));
    m_signIn = new WSKOAuthWindowController(QString::fromLatin1(kScope), QString(), requestTokenURL(),
                                            authorizeTokenURL(), accessTokenURL(), auth, keychainName());
    // A reply without a NoteStore address is an error, not an account.
    m_signIn->signIn()->setRequiresUserEmail(true);
    QPointer<LeafhaulAppDelegate> self(this);
    m_signIn->signInSheetModalForWindow(
        m_window, [self](const std::shared_ptr<WSKOAuthAuthentication> &signedIn, const OptionalError &error) {
            if (!self)
                return;
            self->m_signIn.clear(); // it deletes itself; a new sign-in may start at once
            if (!error) {
                self->m_exportViewController->beginImportWithAuthentication(*signedIn);
                return;
            }
            if (error->code == kWSKOAuthErrorCodeWindowClosed)
                return;
            systemLog(QStringLiteral("message: ")
                      + QString::fromUtf8(error->userInfo.value(QStringLiteral("data")).toByteArray()));
            Alerts::show(self->m_window, Alerts::Kind::SignInFailed, *error);
        });
}

void LeafhaulAppDelegate::signOut()
{
    WSKOAuthWindowController::removeParamsFromKeychainForName(keychainName());
}

void LeafhaulAppDelegate::reauthorizeAndRestartImport()
{
    signOut();
    beginImport();
}

namespace {

int g_signalPipe[2] = {-1, -1};

void forwardSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop as a quit does; the handler only
// writes to a pipe that the main thread watches.
bool quitOnSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [notifier] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(g_signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        // Not quit(): that asks every window to close, and the progress
        // sheet refuses while an import runs.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

} // namespace

int runLeafhaul(QApplication &app, LeafhaulAppDelegate &delegate)
{
    QString error;
    if (!LeafhaulAppDelegate::trustCertificateAuthorityFromEnvironment(&error)) {
        std::fprintf(stderr, "leafhaul: %s\n", qPrintable(error));
        return 2;
    }
    quitOnSignals();
    AccountStore::secureSettingsFile();
    delegate.applicationDidFinishLaunching();
    bool importingAtQuit = false;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&] { importingAtQuit = delegate.isImporting(); });
    const int code = app.exec();
    // From here a second signal ends the process at once.
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    // The cancelled worker removes its partial download at its next check;
    // give it that long, not longer.
    if (importingAtQuit)
        WorkQueue::waitForBackgroundWork(kQuitGraceMs);
    return code;
}
