// The main window as a person meets it: picker, page table, preview, status
// area and the divider, against the fake Backpack service.

#include "WindowTestSupport.h"

#include "gui/PageTableModel.h"
#include "gui/PreviewPage.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSplitter>
#include <QSslConfiguration>
#include <QToolBar>
#include <QWheelEvent>

#include <sys/stat.h>

using namespace window_test;

namespace {

using MainWindow = WindowTest;

TEST_F(MainWindow, WithoutAccountsOffersNothingToImport)
{
    launch();
    QComboBox *picker = delegate->accountsPopup();
    EXPECT_EQ(picker->count(), 1);
    EXPECT_EQ(picker->currentText(), QStringLiteral("No Accounts"));
    EXPECT_FALSE(picker->isEnabled());
    EXPECT_FALSE(delegate->importAction()->isEnabled());
    EXPECT_TRUE(delegate->editAccountsAction()->isEnabled());
    EXPECT_FALSE(delegate->toolBar()->isMovable());
    EXPECT_FALSE(QSettings().contains(SettingsKeys::kSelectedAccount));
    ASSERT_TRUE(waitForPages());
    EXPECT_EQ(table()->model()->rowCount(), 0);
    EXPECT_FALSE(delegate->statusLabel()->isVisible());
    EXPECT_EQ(requestsFor(QStringLiteral("ws/pages/all")), 0);
    ASSERT_TRUE(waitFor([&] {
        return exportView()->webView()->url() == QUrl(QStringLiteral("qrc:/leafhaul/start.html"))
               && !exportView()->webView()->page()->isLoading();
    }));
    EXPECT_TRUE(evaluate(exportView()->webView()->page(), QStringLiteral("document.body.innerText"))
                    .toString()
                    .contains(QStringLiteral("Edit Accounts")));
    saveScreenshot(delegate->window(), QStringLiteral("main-window-empty"));
}

// The picker as stored records and the saved selection make it.
TEST_F(MainWindow, PickerFollowsTheStoredRecords)
{
    using SettingsKeys::kSiteName, SettingsKeys::kUserName;
    QVariantMap fiveKeys = accountRecord(QStringLiteral("five"));
    fiveKeys.insert(QStringLiteral("extra"), QStringLiteral("x"));
    QVariantMap blank = accountRecord(QStringLiteral("blank"));
    blank.insert(QLatin1String(SettingsKeys::kPassword), QStringLiteral(" \n\t"));
    const QVariantMap onlyName{{QLatin1String(kSiteName), QStringLiteral("unnamed")}};
    QVariantMap twinB = accountRecord(kSite);
    twinB.insert(QLatin1String(kUserName), QStringLiteral("second"));

    struct Case
    {
        const char *name;
        QList<QVariantMap> stored;
        std::optional<QString> saved;
        QStringList items;
        bool enabled;
        QString selected;
        QString selectedUser; // of selectedAccount(); empty: none
    } cases[] = {
        {"only invalid records", {onlyName, blank}, {}, {"No Accounts"}, true, "No Accounts", {}},
        {"invalid records get no item", {fiveKeys, accountRecord(), blank}, {}, {kSite}, true, kSite, kUser},
        {"a saved name that is gone", {accountRecord("b"), accountRecord("a")}, QStringLiteral("zz"), {"b", "a"},
         true, "b", kUser},
        {"the saved name is selected", {accountRecord("b"), accountRecord("a")}, QStringLiteral("a"), {"b", "a"},
         true, "a", kUser},
        {"twins: the first record", {accountRecord(), twinB}, kSite, {kSite, kSite}, true, kSite, kUser},
        {"the saved name, capitals included", {accountRecord("Alpha"), accountRecord("alpha")}, QStringLiteral("alpha"),
         {"Alpha", "alpha"}, true, "alpha", kUser},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(AccountStore::setAccounts(c.stored));
        AccountStore::setSelectedAccountName(c.saved);
        launch();
        QComboBox *picker = delegate->accountsPopup();
        QStringList items;
        for (int i = 0; i < picker->count(); ++i)
            items << picker->itemText(i);
        EXPECT_EQ(items, c.items);
        EXPECT_EQ(picker->isEnabled(), c.enabled);
        EXPECT_EQ(picker->currentText(), c.selected);
        EXPECT_EQ(AccountStore::selectedAccountName().value_or(QString()), c.selected);
        const auto account = delegate->selectedAccount();
        EXPECT_EQ(account ? account->value(QLatin1String(kUserName)).toString() : QString(), c.selectedUser);
        ASSERT_TRUE(waitForPages());
        closeAlerts();
        delegate.reset();
    }
}

TEST_F(MainWindow, ShowsSortedPagesAndAPreviewWithoutItsSidebar)
{
    Site site = siteWithTitles({"Banana", "apple", "cherry", "Äpfel", "Tom &amp; Jerry"});
    // The first in table order, with the notes the preview shows.
    site.pages[3] = PageBuilder("104", "Äpfel")
                        .note("n1", "Harvest", "Boskoop and Elstar are ready in the second week of October.")
                        .note("n2", "Storage", "Cool cellar, one layer per crate, checked every Sunday.");
    useSite(site);
    ASSERT_TRUE(AccountStore::setAccounts({accountRecord()}));
    launch();
    ASSERT_TRUE(waitForPages());
    ASSERT_TRUE(waitFor([&] { return table()->model()->rowCount() == 5; }));
    EXPECT_EQ(tableTitles(table()), (QStringList{"Äpfel", "apple", "Banana", "cherry", "Tom & Jerry"}));
    EXPECT_EQ(requestsFor(QStringLiteral("ws/pages/all")), 1) << "the launch loads the page list exactly once";
    EXPECT_TRUE(delegate->importAction()->isEnabled());
    EXPECT_EQ(AccountStore::selectedAccountName(), kSite);

    // The first row is selected and previewed: the page at its address on
    // the account's site, sidebar hidden, nothing selectable.
    QWebEnginePage *page = exportView()->webView()->page();
    ASSERT_TRUE(waitFor([&] { return page->url().path() == QStringLiteral("/pages/104") && !page->isLoading(); }));
    EXPECT_EQ(page->url().host(), QStringLiteral("acme.test.localhost"));
    ASSERT_TRUE(waitFor([&] {
        return evaluate(page, QStringLiteral("getComputedStyle(document.getElementById('Sidebar')).display"))
               == QStringLiteral("none");
    })) << "the sidebar stays";
    EXPECT_EQ(evaluate(page, QStringLiteral("document.getElementById('title').textContent")).toString(),
              QStringLiteral("Äpfel"));
    EXPECT_EQ(evaluate(page, QStringLiteral("getComputedStyle(document.getElementById('title')).userSelect"))
                  .toString(),
              QStringLiteral("none"));
    ASSERT_TRUE(waitFor([&] { return !delegate->statusLabel()->isVisible(); })) << "Loading page… stays";

    // Another row: its page.
    table()->selectRow(2);
    ASSERT_TRUE(waitFor([&] { return page->url().path() == QStringLiteral("/pages/101") && !page->isLoading(); }));

    // A link the page follows by itself is not taken.
    evaluate(page, QStringLiteral("document.getElementById('away').click(); true"));
    settle(500);
    EXPECT_EQ(page->url().path(), QStringLiteral("/pages/101"));

    // Marks: two rows, imported in table order whatever the order of marking.
    auto *model = table()->model();
    model->setData(model->index(3, PageTableModel::ImportColumn), Qt::Checked, Qt::CheckStateRole);
    model->setData(model->index(0, PageTableModel::ImportColumn), Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(exportView()->selectedForImportCount(), 2);
    EXPECT_TRUE(exportView()->readyToImport());
    QStringList toImport;
    for (const auto &p : exportView()->pagesToImport())
        toImport << p->titleForDisplay();
    EXPECT_EQ(toImport, (QStringList{"Äpfel", "cherry"}));
    table()->selectRow(0);
    ASSERT_TRUE(waitFor([&] { return page->url().path() == QStringLiteral("/pages/104") && !page->isLoading(); }));
    saveScreenshot(delegate->window(), QStringLiteral("main-window-pages"));

    exportView()->selectAllForImport();
    EXPECT_EQ(exportView()->selectedForImportCount(), 5);
    exportView()->selectNoneForImport();
    EXPECT_EQ(exportView()->selectedForImportCount(), 0);
    EXPECT_FALSE(exportView()->readyToImport());
    EXPECT_EQ(exportView()->pagesToImport().size(), 5) << "no marks: every page";

    // Help shows the start page and leaves the status area alone.
    delegate->showHelp();
    ASSERT_TRUE(waitFor([&] { return page->url().scheme() == QStringLiteral("qrc") && !page->isLoading(); }));
    EXPECT_FALSE(delegate->statusLabel()->isVisible());
}

// Two accounts picked one after the other: the first answer arrives last and
// must not replace the second account's pages.
TEST_F(MainWindow, OnlyTheLatestPageListIsShown)
{
    useSite(siteWithTitles({"Second account's page"}));
    const Site slow = siteWithTitles({"First account's page"});
    ASSERT_TRUE(backpack->enqueue(QJsonObject{{"path", "ws/pages/all"},
                                              {"status", 200},
                                              {"delay", 2},
                                              {"body", QStringLiteral("<response success=\"true\"><pages><page "
                                                                      "id=\"101\" title=\"First account's "
                                                                      "page\"/></pages></response>")}}));
    Q_UNUSED(slow);
    ASSERT_TRUE(AccountStore::setAccounts({accountRecord("first"), accountRecord("second")}));
    AccountStore::setSelectedAccountName(QStringLiteral("first"));
    launch();
    settle(300); // the first load is waiting for its slow answer
    EXPECT_TRUE(delegate->statusLabel()->isVisible());
    EXPECT_EQ(delegate->statusLabel()->text(), QStringLiteral("Loading pages…"));
    delegate->accountsPopup()->setCurrentIndex(1);
    delegate->currentAccountChanged();
    ASSERT_TRUE(waitFor([&] { return tableTitles(table()) == QStringList{"Second account's page"}; }));
    EXPECT_FALSE(delegate->importAction()->isEnabled()) << "the first list is still on its way";
    ASSERT_TRUE(waitForPages());
    settle(200);
    EXPECT_EQ(delegate->accountsPopup()->currentText(), QStringLiteral("second"));
    EXPECT_EQ(tableTitles(table()), QStringList{"Second account's page"});
    EXPECT_EQ(exportView()->backpack()->sitename(), QStringLiteral("second"));
    EXPECT_EQ(requestsFor(QStringLiteral("ws/pages/all")), 2);
    EXPECT_TRUE(delegate->importAction()->isEnabled());
}

// "Loading pages…" goes whenever a list is shown, whatever it holds; only a
// failure says so.
TEST_F(MainWindow, LoadingStatusEndsWithEveryLoad)
{
    struct Case
    {
        const char *name;
        QJsonObject answer;
        bool alert;
    } cases[] = {
        {"empty list", {{"path", "ws/pages/all"}, {"status", 200}, {"body", "<response success=\"true\"><pages/></response>"}}, false},
        {"refused", {{"path", "ws/pages/all"}, {"status", 200},
                     {"body", "<response success=\"false\"><error code=\"403\">Access denied</error></response>"}}, true},
        {"server error", {{"path", "*"}, {"status", 500}, {"body", "boom"}, {"times", 10}}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(backpack->reset());
        ASSERT_TRUE(backpack->enqueue(c.answer));
        ASSERT_TRUE(AccountStore::setAccounts({accountRecord()}));
        launch();
        ASSERT_TRUE(waitForPages());
        EXPECT_FALSE(delegate->statusLabel()->isVisible());
        EXPECT_FALSE(delegate->progressIndicator()->isVisible());
        EXPECT_EQ(table()->model()->rowCount(), 0);
        EXPECT_FALSE(delegate->importAction()->isEnabled());
        if (c.alert) {
            ASSERT_TRUE(waitFor([] { return !openAlerts().isEmpty(); }));
            QMessageBox *box = openAlerts().first();
            EXPECT_EQ(box->text(), QStringLiteral("Could Not Download Backpack Pages"));
            EXPECT_EQ(box->windowModality(), Qt::WindowModal);
            EXPECT_TRUE(box->informativeText().startsWith(
                QStringLiteral("Leafhaul could not download the Backpack pages for the current account")));
            saveScreenshot(box, QStringLiteral("alert-pages-not-downloaded-") + QString(c.name).replace(' ', '-'));
        } else {
            settle(300);
            EXPECT_TRUE(openAlerts().isEmpty());
        }
        closeAlerts();
        delegate.reset();
    }
}

// A change of account is saved at once and reloads the list; quitting saves
// the selection again.
TEST_F(MainWindow, SelectionIsSavedOnChangeAndAtQuit)
{
    useSite(siteWithTitles({"Page"}));
    ASSERT_TRUE(AccountStore::setAccounts({accountRecord("a"), accountRecord("b")}));
    launch();
    ASSERT_TRUE(waitForPages());
    EXPECT_EQ(AccountStore::selectedAccountName(), QStringLiteral("a"));
    delegate->accountsPopup()->setCurrentIndex(1);
    emit delegate->accountsPopup()->activated(1);
    EXPECT_EQ(AccountStore::selectedAccountName(), QStringLiteral("b"));
    ASSERT_TRUE(waitForPages());
    EXPECT_EQ(exportView()->backpack()->sitename(), QStringLiteral("b"));
    EXPECT_EQ(requestsFor(QStringLiteral("ws/pages/all")), 2)
        << (exportView()->backpack()->error() ? exportView()->backpack()->error()->toString() : QString()) << table()->model()->rowCount();

    AccountStore::setSelectedAccountName(QStringLiteral("elsewhere"));
    delegate->applicationWillTerminate();
    EXPECT_EQ(AccountStore::selectedAccountName(), QStringLiteral("b"));
}

TEST_F(MainWindow, DividerKeepsItsLimits)
{
    launch();
    QMainWindow *window = delegate->window();
    QSplitter *split = exportView()->splitView();
    window->resize(1000, 600);
    settle(100);
    EXPECT_FALSE(split->isCollapsible(0));
    EXPECT_FALSE(split->isCollapsible(1));

    // Dragging the divider as a person would.
    auto drag = [&](int x) {
        QSplitterHandle *handle = split->handle(1);
        const QPoint start(handle->width() / 2, handle->height() / 2);
        const QPoint end = handle->mapFromGlobal(split->mapToGlobal(QPoint(x, handle->height() / 2)));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(start), handle->mapToGlobal(QPointF(start)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, QPointF(end), handle->mapToGlobal(QPointF(end)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(end), handle->mapToGlobal(QPointF(end)),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &press);
        QCoreApplication::sendEvent(handle, &move);
        QCoreApplication::sendEvent(handle, &release);
        settle(50);
    };
    struct Case
    {
        int wanted;
        int expected; // -1: half the width
    } cases[] = {{40, 150}, {0, 150}, {300, 300}, {900, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wanted);
        drag(c.wanted);
        const int expected = c.expected < 0 ? split->width() / 2 : c.expected;
        EXPECT_NEAR(split->sizes().at(0), expected, 2);
    }

    // A window resize goes to the preview alone, also past the half limit
    // the other way.
    drag(300);
    const int kept = split->sizes().at(0);
    for (int width : {1200, 800, 700}) {
        window->resize(width, 600);
        settle(100);
        EXPECT_EQ(split->sizes().at(0), kept) << width;
    }
    window->resize(500, 600);
    settle(100);
    EXPECT_LE(split->sizes().at(0), split->width() / 2 + 1);
    EXPECT_GE(split->sizes().at(0), 150);
}

TEST_F(MainWindow, PreviewTakesOnlyItsOwnLoads)
{
    using Nav = QWebEnginePage::NavigationType;
    const struct
    {
        Nav type;
        bool accepted;
    } cases[] = {
        {QWebEnginePage::NavigationTypeLinkClicked, false}, {QWebEnginePage::NavigationTypeFormSubmitted, false},
        {QWebEnginePage::NavigationTypeBackForward, false}, {QWebEnginePage::NavigationTypeReload, false},
        {QWebEnginePage::NavigationTypeTyped, true},        {QWebEnginePage::NavigationTypeOther, true},
        {QWebEnginePage::NavigationTypeRedirect, true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PreviewPage::acceptsNavigation(c.type), c.accepted) << int(c.type);
    EXPECT_EQ(PreviewPage::sidebarHidingScript().size(), 86);
}

// Presses, releases, moves and double clicks over the page are dropped;
// the wheel, and the mouse over the page's scroll bars, go through.
TEST_F(MainWindow, MouseOverThePreviewIsDropped)
{
    launch();
    QWebEngineView *view = exportView()->webView();
    ASSERT_TRUE(waitFor([&] { return view->focusProxy() != nullptr && !view->page()->isLoading(); }));
    QWidget *input = view->focusProxy();
    EXPECT_EQ(view->contextMenuPolicy(), Qt::NoContextMenu);

    WebViewEventKillingWindow *killer = view->findChild<WebViewEventKillingWindow *>();
    ASSERT_TRUE(killer);

    const QPoint inside(view->width() / 2, view->height() / 2);
    const QPoint overScrollBar(view->width() - 5, view->height() / 2);
    const QEvent::Type mouseTypes[] = {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                       QEvent::MouseButtonDblClick, QEvent::MouseMove};
    for (const QPoint &at : {inside, overScrollBar}) {
        for (QEvent::Type type : mouseTypes) {
            const QPointF global = view->mapToGlobal(at);
            QMouseEvent event(type, input->mapFromGlobal(global), global, Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
            const bool filtered = killer->eventFilter(input, &event);
            EXPECT_EQ(filtered, at == inside) << int(type) << " at " << at.x();
        }
    }
    QWheelEvent wheel(QPointF(inside), view->mapToGlobal(QPointF(inside)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    EXPECT_FALSE(killer->eventFilter(input, &wheel));
    EXPECT_TRUE(killer->watches(input)) << "the widget that receives the input is not watched";
}

// The settings hold Backpack passwords: the file is the user's alone after
// every save, and a save replaces it whole.
TEST_F(MainWindow, SettingsFileStaysPrivate)
{
    const QString path = AccountStore::settingsFilePath();
    QFile::remove(path);
    // Made readable by others beforehand, as an older version left it.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup));

    struct stat before = {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    const std::function<bool()> saves[] = {
        [] { return AccountStore::setAccounts({accountRecord()}); },
        [] { return AccountStore::setSelectedAccountName(kSite); },
        [] { return AccountStore::setAccounts({accountRecord(), accountRecord("b")}); },
        [] { return AccountStore::setSelectedAccountName(std::nullopt); },
        // A write from elsewhere (the sign-in's token flag) keeps the mode.
        [] {
            QSettings settings;
            settings.setValue(SettingsKeys::oauthTokenFlag(QStringLiteral("test")), true);
            settings.sync();
            return settings.status() == QSettings::NoError;
        },
    };
    ino_t lastInode = before.st_ino;
    for (size_t i = 0; i < std::size(saves); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(saves[i]());
        struct stat after = {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, 0600u);
        EXPECT_NE(after.st_ino, lastInode) << "written in place, not replaced";
        lastInode = after.st_ino;
        struct stat folder = {};
        ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 077, 0u);
    }
    EXPECT_EQ(AccountStore::accounts().size(), 2);
    const QString name = QFileInfo(path).fileName();
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList({name + QLatin1Char('*')}, QDir::Files | QDir::Hidden),
              QStringList{name})
        << "a temporary file was left";
}

// Without LEAFHAUL_CA_FILE the preview trusts the system's authorities
// alone: the fake's page is refused, not shown.
TEST_F(MainWindow, PreviewRefusesAnAuthorityNotTrusted)
{
    QSslConfiguration systemOnly = QSslConfiguration::defaultConfiguration();
    systemOnly.setCaCertificates(QSslConfiguration::systemCaCertificates());
    QSslConfiguration::setDefaultConfiguration(systemOnly);
    useSite(siteWithTitles({"Only page"}));
    ASSERT_TRUE(AccountStore::setAccounts({accountRecord()}));
    launch();
    ASSERT_TRUE(waitForPages());
    QWebEnginePage *page = exportView()->webView()->page();
    ASSERT_TRUE(waitFor([&] { return page->url().path() == QStringLiteral("/pages/101") && !page->isLoading(); }));
    settle(300);
    EXPECT_TRUE(evaluate(page, QStringLiteral("document.getElementById('Sidebar') === null")).toBool());
    ASSERT_TRUE(waitFor([&] { return !delegate->statusLabel()->isVisible(); })) << "a failed load ends the status";
}

TEST_F(MainWindow, UnreadableCertificateAuthorityIsRefused)
{
    for (const QString &path : {QStringLiteral("/nonexistent/ca.pem"), QString::fromLatin1(TEST_DATA_DIR "/CMakeLists.txt")}) {
        qputenv("LEAFHAUL_CA_FILE", path.toUtf8());
        QString error;
        EXPECT_FALSE(LeafhaulAppDelegate::trustCertificateAuthorityFromEnvironment(&error)) << path;
        EXPECT_TRUE(error.contains(path)) << error;
    }
}

} // namespace
