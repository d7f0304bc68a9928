// The main window as a person meets it: picker, page table, preview, status
// area and the divider, against the fake Backpack service.

#include "GuiTestSupport.h"

#include "gui/AccountEditor.h"
#include "gui/PageTableModel.h"
#include "gui/PreviewPage.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSplitter>
#include <QSslConfiguration>
#include <QTest>
#include <QToolBar>
#include <QWebEngineView>

#include "gui/ImportBackpackSheet.h"

#include <sys/stat.h>

namespace {

using namespace gui_test;
using MainWindow = WindowTest;

// The picker as stored records and the saved selection make it.
TEST_F(MainWindow, PickerFollowsTheStoredRecords)
{
    QVariantMap fiveKeys = accountRecord(QStringLiteral("five"));
    fiveKeys.insert(QStringLiteral("extra"), QStringLiteral("x"));
    QVariantMap blank = accountRecord(QStringLiteral("blank"));
    blank.insert(QLatin1String(SettingsKeys::kPassword), QStringLiteral(" \n\t"));
    const QVariantMap onlyName{{QLatin1String(SettingsKeys::kSiteName), QStringLiteral("unnamed")}};

    const struct
    {
        const char *name;
        QList<QVariantMap> stored;
        std::optional<QString> saved;
        QStringList items;
        QString selected;
        QString selectedUser; // of selectedAccount(); empty: none
        QString edited; // the site name the account editor opens on; empty: none
    } cases[] = {
        {"nothing stored", {}, "gone", {"No Accounts"}, "No Accounts", {}, {}},
        {"only invalid records", {onlyName, blank}, {}, {"No Accounts"}, "No Accounts", {}, "blank"},
        {"invalid records get no item", {fiveKeys, accountRecord(), blank}, {}, {kSite}, kSite, kUser, kSite},
        {"a saved name that is gone", {accountRecord("b"), accountRecord("a")}, "zz", {"b", "a"}, "b", kUser, "b"},
        {"the saved name",
         {accountRecord("Alpha"), accountRecord("alpha", "second")},
         "alpha",
         {"Alpha", "alpha"},
         "alpha",
         "second",
         "alpha"},
        {"twins: the first record",
         {accountRecord(), accountRecord(kSite, "second")},
         kSite,
         {kSite, kSite},
         kSite,
         kUser,
         kSite},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(AccountStore::setAccounts(c.stored));
        AccountStore::setSelectedAccountName(c.saved);
        launch();
        QComboBox *picker = delegate->accountsPopup();
        EXPECT_EQ(columnTexts(picker->model(), 0), c.items);
        EXPECT_EQ(picker->isEnabled(), !c.stored.isEmpty()) << "invalid records enable the picker too";
        EXPECT_EQ(picker->currentText(), c.selected);
        EXPECT_EQ(AccountStore::selectedAccountName(),
                  c.stored.isEmpty() ? std::nullopt : std::optional<QString>(c.selected));
        const auto account = delegate->selectedAccount();
        EXPECT_EQ(account ? account->value(QLatin1String(SettingsKeys::kUserName)).toString() : QString(),
                  c.selectedUser);
        ASSERT_TRUE(waitForPages());

        // Edit Accounts opens on the picker's account, or the list's first.
        delegate->editAccountsAction()->trigger();
        ASSERT_TRUE(delegate->accountEditor());
        auto *site = delegate->accountEditor()->findChild<QLineEdit *>(QLatin1String(SettingsKeys::kSiteName));
        auto *user = delegate->accountEditor()->findChild<QLineEdit *>(QLatin1String(SettingsKeys::kUserName));
        EXPECT_EQ(site->text(), c.edited);
        EXPECT_EQ(site->isEnabled(), !c.edited.isEmpty());
        if (!c.selectedUser.isEmpty())
            EXPECT_EQ(user->text(), c.selectedUser);
        delegate->accountEditor()->reject();
        ASSERT_TRUE(waitForPages());

        if (c.stored.isEmpty()) {
            EXPECT_FALSE(delegate->toolBar()->isMovable());
            EXPECT_FALSE(delegate->importAction()->isEnabled());
            EXPECT_EQ(pageListRequests(), 0);
            ASSERT_TRUE(waitForPreview(QStringLiteral("/leafhaul/start.html")));
            saveScreenshot(delegate->window(), QStringLiteral("main-window-empty"));
        }
        closeAlerts();
        delegate.reset();
    }
}

TEST_F(MainWindow, ShowsSortedPagesAndAPreviewWithoutItsSidebar)
{
    // The first in table order, with the notes the preview shows.
    Site site;
    site.pages << PageBuilder("101", "Äpfel")
                      .note("n1", "Harvest", "Boskoop and Elstar are ready in the second week of October.")
                      .note("n2", "Storage", "Cool cellar, one layer per crate, checked every Sunday.");
    useSite({"Banana", "apple", "cherry", "Tom &amp; Jerry"}, site);
    ASSERT_TRUE(AccountStore::setAccounts({accountRecord()}));
    launch();
    ASSERT_TRUE(waitFor([&] { return table()->model()->rowCount() == 5; }));
    EXPECT_EQ(titles(), (QStringList{"Äpfel", "apple", "Banana", "cherry", "Tom & Jerry"}));
    ASSERT_TRUE(waitForPages());
    EXPECT_EQ(pageListRequests(), 1) << "the launch loads the page list exactly once";
    EXPECT_TRUE(delegate->importAction()->isEnabled());

    // The first row is previewed at its address on the account's site,
    // sidebar hidden, nothing selectable.
    QWebEnginePage *page = exportView()->webView()->page();
    ASSERT_TRUE(waitForPreview(QStringLiteral("/pages/101")));
    ASSERT_TRUE(waitFor([&] {
        return evaluate(page, QStringLiteral("getComputedStyle(document.getElementById('Sidebar')).display"))
               == QStringLiteral("none");
    })) << "the sidebar stays";
    EXPECT_EQ(evaluate(page, QStringLiteral("getComputedStyle(document.getElementById('title')).userSelect")),
              QStringLiteral("none"));
    ASSERT_TRUE(waitFor([&] { return !delegate->statusLabel()->isVisible(); })) << "Loading page… stays";

    // Another row: its page; a link the page follows by itself is not taken.
    table()->selectRow(2);
    ASSERT_TRUE(waitForPreview(QStringLiteral("/pages/102")));
    evaluate(page, QStringLiteral("document.getElementById('away').click(); true"));
    settle(500);
    EXPECT_EQ(page->url().path(), QStringLiteral("/pages/102"));

    // Two rows marked: imported in table order whatever the order of marking.
    auto *model = table()->model();
    model->setData(model->index(3, PageTableModel::ImportColumn), Qt::Checked, Qt::CheckStateRole);
    model->setData(model->index(0, PageTableModel::ImportColumn), Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(exportView()->selectedForImportCount(), 2);
    QStringList toImport;
    for (const auto &p : exportView()->pagesToImport())
        toImport << p->titleForDisplay();
    EXPECT_EQ(toImport, (QStringList{"Äpfel", "cherry"}));
    table()->selectRow(0);
    ASSERT_TRUE(waitForPreview(QStringLiteral("/pages/101")));
    saveScreenshot(delegate->window(), QStringLiteral("main-window-pages"));
    exportView()->selectNoneForImport();
    EXPECT_EQ(exportView()->pagesToImport().size(), 5) << "no marks: every page";

    // Help shows the start page and leaves the status area alone.
    delegate->showHelp();
    ASSERT_TRUE(waitFor([&] { return page->url().scheme() == QStringLiteral("qrc") && !page->isLoading(); }));
    EXPECT_FALSE(delegate->statusLabel()->isVisible());
}

// From launch the keyboard reaches every command through the menus, whose
// items are the toolbar's own; Tab leaves the table, Space marks the row.
TEST_F(MainWindow, KeyboardReachesEveryCommand)
{
    useSite({"apple", "Banana", "cherry"});
    ASSERT_TRUE(AccountStore::setAccounts({accountRecord()}));
    launch();
    ASSERT_TRUE(waitFor([&] { return table()->model()->rowCount() == 3; }) && waitForPages());
    QMainWindow *main = delegate->window();
    EXPECT_FALSE(main->windowIcon().isNull()) << "the SVG icon did not load";
    ASSERT_TRUE(waitFor([&] { return main->activateWindow(), main->isActiveWindow(); }));
    QStringList items;
    for (QAction *menu : main->menuBar()->actions())
        for (QAction *item : menu->menu()->actions())
            if (!item->isSeparator())
                items << item->text() + ' ' + item->shortcut().toString();
    EXPECT_EQ(items, (QStringList{"Import ", "Edit Accounts ", "Quit Ctrl+Q", "Select All for Import Ctrl+A",
                                  "Select None for Import Ctrl+Shift+A", "Help F1"}));
    EXPECT_EQ(delegate->toolBar()->actions().count(delegate->importAction()), 1) << "not the toolbar's own";

    // Marks: all, none, Space from the title's cell (again: off, on); one is
    // "the selected", previewed, wherever Ctrl or Shift moves the keys.
    auto *model = table()->model();
    const std::pair<QKeyCombination, int> keys[] = {{Qt::CTRL | Qt::Key_A, 3},    {Qt::CTRL | Qt::SHIFT | Qt::Key_A, 0},
                                                    {Qt::Key_Space, 1},           {Qt::Key_Space, 0},
                                                    {Qt::Key_Space, 1},           {Qt::CTRL | Qt::Key_Home, 1},
                                                    {Qt::CTRL | Qt::Key_End, 1},  {Qt::SHIFT | Qt::Key_Up, 1},
                                                    {Qt::CTRL | Qt::Key_Space, 1}};
    table()->setCurrentIndex(model->index(1, PageTableModel::TitleColumn));
    for (const auto &[key, marked] : keys) {
        QTest::keyClick(table(), key.key(), key.keyboardModifiers());
        EXPECT_EQ(exportView()->selectedForImportCount(), marked) << QKeySequence(key).toString().toStdString();
        EXPECT_EQ(table()->selectionModel()->selectedRows(),
                  QModelIndexList{table()->currentIndex().siblingAtColumn(0)})
            << QKeySequence(key).toString().toStdString();
    }
    EXPECT_TRUE(waitForPreview(QStringLiteral("/pages/102")));
    EXPECT_EQ(model->index(1, PageTableModel::ImportColumn).data(Qt::AccessibleTextRole), "Banana");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(table())->text(QAccessible::Name), QStringLiteral("Pages"));
    // From the picker, and back to the page list when the sheet has gone.
    delegate->accountsPopup()->setFocus();
    delegate->importAction()->trigger();
    ASSERT_TRUE(delegate->importSheet() && waitFor([&] { return delegate->importSheet()->isVisible(); }));
    EXPECT_TRUE(delegate->importSheet()->labelText().startsWith("Leafhaul will import the selected Backpack pages"));
    QTest::keyClick(delegate->importSheet(), Qt::Key_Escape);
    EXPECT_FALSE(delegate->importSheet()->isVisible());
    EXPECT_TRUE(waitFor([&] { return main->isActiveWindow() && QApplication::focusWidget() == table(); }))
        << "the keys went back to the page list";

    // Tab on to the preview, back-tab to the picker; F1 is Help.
    const std::pair<int, QWidget *> tabs[] = {{Qt::Key_Tab, exportView()->webView()->focusProxy()},
                                              {Qt::Key_Backtab, delegate->accountsPopup()}};
    for (const auto &[key, next] : tabs) {
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key(key));
        EXPECT_EQ(main->focusWidget(), next) << key;
    }
    QTest::keyClick(main, Qt::Key_F1);
    EXPECT_TRUE(waitFor([&] { return exportView()->webView()->url().scheme() == QStringLiteral("qrc"); }));

    EXPECT_EQ(LeafhaulAppDelegate::initialWindowSize({640, 400}), QSize(608, 352));
    EXPECT_TRUE(main->screen()->availableGeometry().contains(framedGeometry(main)));
}

// Two accounts picked one after the other: the first answer arrives last and
// must not replace the second account's pages.
TEST_F(MainWindow, OnlyTheLatestPageListIsShown)
{
    useSite({"Second account's page"});
    ASSERT_TRUE(backpack->enqueue(QJsonObject{
        {"path", "ws/pages/all"},
        {"status", 200},
        {"delay", 2},
        {"body", "<response success=\"true\"><pages><page id=\"101\" title=\"First\"/></pages></response>"}}));
    ASSERT_TRUE(AccountStore::setAccounts({accountRecord("first"), accountRecord("second")}));
    launch();
    settle(300); // the first load is waiting for its slow answer
    EXPECT_EQ(delegate->statusLabel()->text(), QStringLiteral("Loading pages…"));
    delegate->accountsPopup()->setCurrentIndex(1);
    emit delegate->accountsPopup()->activated(1);
    EXPECT_EQ(AccountStore::selectedAccountName(), QStringLiteral("second")) << "saved at once";
    ASSERT_TRUE(waitFor([&] { return titles() == QStringList{"Second account's page"}; }));
    EXPECT_FALSE(delegate->importAction()->isEnabled()) << "the first list is still on its way";
    ASSERT_TRUE(waitForPages());
    settle(200);
    EXPECT_EQ(titles(), QStringList{"Second account's page"});
    EXPECT_EQ(exportView()->backpack()->sitename(), QStringLiteral("second"));
    EXPECT_EQ(pageListRequests(), 2);
    EXPECT_TRUE(delegate->importAction()->isEnabled());

    // Quitting saves the selection again.
    AccountStore::setSelectedAccountName(QStringLiteral("elsewhere"));
    delegate->applicationWillTerminate();
    EXPECT_EQ(AccountStore::selectedAccountName(), QStringLiteral("second"));
}

// "Loading pages…" goes whenever a list is shown, whatever it holds; only a
// failure says so.
TEST_F(MainWindow, LoadingStatusEndsWithEveryLoad)
{
    const struct
    {
        const char *name;
        QJsonObject answer;
        bool alert;
    } cases[] = {
        {"empty list",
         {{"path", "ws/pages/all"}, {"status", 200}, {"body", "<response success=\"true\"><pages/></response>"}},
         false},
        {"refused",
         {{"path", "ws/pages/all"},
          {"status", 200},
          {"body", "<response success=\"false\"><error code=\"403\">Access denied</error></response>"}},
         true},
        {"server error", {{"path", "*"}, {"status", 500}, {"body", "boom"}, {"times", 10}}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(backpack->reset());
        ASSERT_TRUE(backpack->enqueue(c.answer));
        ASSERT_TRUE(AccountStore::setAccounts({accountRecord()}));
        launch();
        ASSERT_TRUE(waitForPages());
        EXPECT_FALSE(delegate->statusLabel()->isVisible());
        EXPECT_FALSE(delegate->progressIndicator()->isVisible());
        EXPECT_FALSE(delegate->importAction()->isEnabled());
        settle(c.alert ? 0 : 300);
        ASSERT_EQ(openAlerts().size(), c.alert ? 1 : 0);
        if (c.alert)
            EXPECT_EQ(openAlerts().first()->text(), QStringLiteral("Could Not Download Backpack Pages"));
        closeAlerts();
        delegate.reset();
    }
}

TEST_F(MainWindow, DividerKeepsItsLimits)
{
    launch();
    QSplitter *split = exportView()->splitView();
    delegate->window()->resize(1000, 600);
    settle(100);
    EXPECT_FALSE(split->isCollapsible(0));
    EXPECT_FALSE(split->isCollapsible(1));

    // Dragging the divider as a person would.
    auto drag = [&](int x) {
        QSplitterHandle *handle = split->handle(1);
        const QPointF start(handle->width() / 2, handle->height() / 2);
        const QPointF end = handle->mapFromGlobal(split->mapToGlobal(QPointF(x, handle->height() / 2)));
        QMouseEvent press(QEvent::MouseButtonPress, start, handle->mapToGlobal(start), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, end, handle->mapToGlobal(end), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, end, handle->mapToGlobal(end), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        for (QMouseEvent *event : {&press, &move, &release})
            QCoreApplication::sendEvent(handle, event);
        settle(50);
    };
    const std::pair<int, int> cases[] = {{40, 150}, {300, 300}, {900, -1 /* half the width */}};
    for (const auto &[wanted, expected] : cases) {
        SCOPED_TRACE(wanted);
        drag(wanted);
        EXPECT_NEAR(split->sizes().at(0), expected < 0 ? split->width() / 2 : expected, 2);
    }

    // A window resize goes to the preview alone, down to the half limit.
    drag(300);
    const int kept = split->sizes().at(0);
    for (int width : {1200, 700}) {
        delegate->window()->resize(width, 600);
        settle(100);
        EXPECT_EQ(split->sizes().at(0), kept) << width;
    }
    delegate->window()->resize(500, 600);
    settle(100);
    EXPECT_LE(split->sizes().at(0), split->width() / 2 + 1);
    EXPECT_GE(split->sizes().at(0), 150);
}

// Presses, releases, moves and double clicks over the page are dropped;
// the wheel, and the mouse over the page's scroll bars, go through.
TEST_F(MainWindow, MouseOverThePreviewIsDropped)
{
    launch();
    QWebEngineView *view = exportView()->webView();
    ASSERT_TRUE(waitFor([&] { return view->focusProxy() != nullptr && !view->page()->isLoading(); }));
    QWidget *input = view->focusProxy();
    auto *killer = view->findChild<WebViewEventKillingWindow *>();
    ASSERT_TRUE(killer && killer->watches(input)) << "the widget that receives the input is not watched";

    const QPoint inside(view->width() / 2, view->height() / 2);
    const QPoint overScrollBar(view->width() - 5, view->height() / 2);
    for (const QPoint &at : {inside, overScrollBar}) {
        for (QEvent::Type type :
             {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick, QEvent::MouseMove}) {
            const QPointF global = view->mapToGlobal(QPointF(at));
            QMouseEvent event(type, input->mapFromGlobal(global), global, Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            EXPECT_EQ(killer->eventFilter(input, &event), at == inside) << int(type) << " at " << at.x();
        }
    }
    QWheelEvent wheel(QPointF(inside), view->mapToGlobal(QPointF(inside)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    EXPECT_FALSE(killer->eventFilter(input, &wheel));
}

// The settings hold Backpack passwords: the file is the user's alone after
// every save, also one from elsewhere (the sign-in's token flag), and a save
// replaces it whole.
TEST_F(MainWindow, SettingsFileStaysPrivate)
{
    const QString path = AccountStore::settingsFilePath();
    auto stated = [](const QString &file) {
        struct stat info = {};
        EXPECT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0) << file;
        return info;
    };
    // Readable by others beforehand, as an older version left it.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile(path).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));

    QSettings elsewhere;
    const std::function<bool()> saves[] = {
        [] { return AccountStore::setAccounts({accountRecord()}); },
        [] { return AccountStore::setSelectedAccountName(kSite); },
        [&] {
            elsewhere.setValue(SettingsKeys::oauthTokenFlag(QStringLiteral("test")), true);
            elsewhere.sync();
            return elsewhere.status() == QSettings::NoError;
        },
    };
    ino_t lastInode = stated(path).st_ino;
    for (const auto &save : saves) {
        ASSERT_TRUE(save());
        const struct stat after = stated(path);
        EXPECT_EQ(after.st_mode & 07777, 0600u);
        EXPECT_NE(after.st_ino, std::exchange(lastInode, after.st_ino)) << "written in place, not replaced";
        EXPECT_EQ(stated(QFileInfo(path).absolutePath()).st_mode & 077, 0u);
    }
    const QString name = QFileInfo(path).fileName();
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList({name + '*'}, QDir::Files | QDir::Hidden),
              QStringList{name})
        << "a temporary file was left";
}

// Without LEAFHAUL_CA_FILE the preview trusts the system's authorities
// alone: the fake's page is refused, not shown. A file without one is refused.
TEST_F(MainWindow, PreviewTrustsOnlyTheAuthorityGiven)
{
    for (const QString &path :
         {QStringLiteral("/nonexistent/ca.pem"), QStringLiteral(TEST_DATA_DIR "/CMakeLists.txt")}) {
        qputenv("LEAFHAUL_CA_FILE", path.toUtf8());
        QString error;
        EXPECT_FALSE(LeafhaulAppDelegate::trustCertificateAuthorityFromEnvironment(&error)) << path;
        EXPECT_TRUE(error.contains(path)) << error;
    }
    QSslConfiguration systemOnly = QSslConfiguration::defaultConfiguration();
    systemOnly.setCaCertificates(QSslConfiguration::systemCaCertificates());
    QSslConfiguration::setDefaultConfiguration(systemOnly);
    useSite({"Only page"});
    ASSERT_TRUE(AccountStore::setAccounts({accountRecord()}));
    launch();
    ASSERT_TRUE(waitForPreview(QStringLiteral("/pages/101")));
    settle(300);
    QWebEnginePage *page = exportView()->webView()->page();
    EXPECT_TRUE(evaluate(page, QStringLiteral("document.getElementById('Sidebar') === null")).toBool());
    ASSERT_TRUE(waitFor([&] { return !delegate->statusLabel()->isVisible(); })) << "a failed load ends the status";
}

} // namespace
