// A whole import driven through the windows as a person would, against the
// local fakes: Backpack, the OAuth provider and the NoteStore. The sign-in
// goes through the sign-in sheet's real web page and keeps its token in the
// (private) Secret Service under the program's own name.

#include "GuiTestSupport.h"

#include "gui/AccountEditor.h"
#include "gui/ImportBackpackSheet.h"
#include "gui/ImportController.h"
#include "gui/ImportProgressSheet.h"
#include "gui/PageTableModel.h"
#include "signin/VKKeychain.h"
#include "signin/WSKOAuthWindowController.h"

#include <QAction>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QWebEngineView>

#include <csignal>

namespace {

using namespace gui_test;

const QString kStack = QStringLiteral("acme Backpack Account");
const QString kKeychainName = QString::fromLatin1(RavadidoSignInValues::kKeychainName);

class EndToEnd : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        WSKOAuthWindowController::removeParamsFromKeychainForName(kKeychainName);
    }
    void TearDown() override
    {
        WSKOAuthWindowController::removeParamsFromKeychainForName(kKeychainName);
        WindowTest::TearDown();
    }

    // Notes the menus from the very start of every import on.
    void launch()
    {
        WindowTest::launch();
        QObject::connect(exportView()->importController(), &ImportController::importStarted, delegate.get(),
                         [this] { noteMenusWhileImporting(); });
    }

    // The menu items that can be chosen now.
    QStringList enabledMenuItems() const
    {
        QStringList items;
        for (QAction *menu : delegate->window()->menuBar()->actions())
            for (QAction *item : menu->menu()->actions())
                if (!item->isSeparator() && item->isEnabled())
                    items << item->text();
        return items;
    }

    void noteMenusWhileImporting()
    {
        for (const QString &item : enabledMenuItems())
            if (!menusWhileImporting.contains(item))
                menusWhileImporting << item;
    }

    // A provider that hands out `token` and the fake NoteStore's address.
    std::unique_ptr<FakeProvider> startProvider(const QString &token)
    {
        auto provider = std::make_unique<FakeProvider>();
        provider->setAccessToken(token);
        provider->setNoteStoreUrl(noteStore->noteStoreUrl());
        EXPECT_TRUE(provider->start()) << provider->errorString();
        return provider;
    }

    void addAccountInTheEditor()
    {
        delegate->editAccountsAction()->trigger();
        AccountEditor *editor = delegate->accountEditor();
        ASSERT_TRUE(editor && waitFor([&] { return editor->isVisible(); }));
        editor->findChild<QPushButton *>(QStringLiteral("addButton"))->click();
        for (const auto &[key, value] : accountRecord().asKeyValueRange()) {
            auto *edit = editor->findChild<QLineEdit *>(key);
            ASSERT_TRUE(edit) << key;
            edit->setFocus();
            edit->selectAll();
            type(edit, value.toString());
        }
        editor->findChild<QPushButton *>(QStringLiteral("doneButton"))->click();
        ASSERT_TRUE(waitFor([&] { return !delegate->accountEditor() || !delegate->accountEditor()->isVisible(); }));
    }

    // Import and confirm; the confirmation names the stack the importer makes.
    void importThroughTheSheets()
    {
        ASSERT_TRUE(delegate->importAction()->isEnabled());
        delegate->importAction()->trigger();
        ImportBackpackSheet *confirm = delegate->importSheet();
        ASSERT_TRUE(confirm && waitFor([&] { return confirm->isVisible(); }));
        EXPECT_TRUE(confirm->labelText().contains(kStack)) << confirm->labelText();
        confirm->findChild<QPushButton *>(QStringLiteral("importButton"))->click();
    }

    WSKOAuthWindowController *waitForSignInSheet()
    {
        EXPECT_TRUE(waitFor([&] {
            auto *c = delegate->signInController();
            return c && c->window() && c->window()->isVisible();
        })) << "no sign-in sheet";
        return delegate->signInController();
    }

    // Approves on the sign-in sheet's page as a person would, after
    // capturing `frame` of the screen and the sheet when given one.
    void approveSignIn(const QRect &frame = {})
    {
        WSKOAuthWindowController *controller = waitForSignInSheet();
        ASSERT_TRUE(controller);
        EXPECT_EQ(controller->window()->parentWidget(), delegate->window());
        QWebEnginePage *page = controller->webView()->page();
        ASSERT_TRUE(waitFor([&] { return evaluate(page, "!!document.getElementById('authorise')").toBool(); }));
        if (const QWidget *sheet = controller->window(); frame.isValid()) {
            settle(800);
            EXPECT_GT(captureScreen("sign-in-sheet-screen", frame | framedGeometry(sheet), sheet->geometry()), 100)
                << "the sign-in sheet is black on screen";
        }
        evaluate(page, QStringLiteral("document.getElementById('authorise').click(); true"));
    }

    // Watches the progress sheet until the import has ended with a full bar.
    // The window stays unblocked under the sheet, so the menus must offer
    // nothing but Quit until the end gives them back.
    void watchTheProgressSheet(const QString &screenshot = {})
    {
        ImportController *import = exportView()->importController();
        ASSERT_TRUE(waitFor([&] { return import->progressSheet() && import->progressSheet()->isVisible(); }))
            << "no progress sheet";
        ImportProgressSheet *sheet = import->progressSheet();
        if (!screenshot.isEmpty()) {
            // Stop has the keys and shows it: framed in the highlight's blue,
            // on the screen a tint of the otherwise grey button.
            const auto *stop = sheet->findChild<QPushButton *>(QStringLiteral("stopButton"));
            ASSERT_TRUE(waitFor([&] { return stop->hasFocus(); }));
            settle(300);
            captureScreen(qPrintable(screenshot), framedGeometry(sheet), sheet->geometry());
            const QRect at(stop->mapToGlobal(QPoint()), stop->size());
            const QImage shown = stop->screen()->grabWindow(0, at.x(), at.y(), at.width(), at.height()).toImage();
            EXPECT_GT(
                shown.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0).hsvSaturation(),
                0);
        }
        ASSERT_TRUE(waitFor(
            [&] {
                if (import->isImporting())
                    noteMenusWhileImporting();
                return !import->isImporting() && !sheet->isVisible();
            },
            120000));
        EXPECT_EQ(sheet->progressValue(), sheet->progressMaximum());
        EXPECT_TRUE(openAlerts().isEmpty());
        EXPECT_EQ(std::exchange(menusWhileImporting, {}), QStringList{"Quit"});
        EXPECT_EQ(enabledMenuItems(), (QStringList{"Import", "Edit Accounts", "Quit", "Select All for Import",
                                                   "Select None for Import", "Help"}));
        EXPECT_EQ(keysAfterASheet(), QStringLiteral("Pages"));
    }

    // Who has the keys once a sheet has gone: the page list ("Pages"), not
    // the picker ("Account"), where an arrow key would switch accounts.
    QString keysAfterASheet()
    {
        waitFor([&] { return delegate->window()->isActiveWindow() && QApplication::focusWidget() == table(); });
        return QApplication::focusWidget() ? QApplication::focusWidget()->accessibleName() : "nothing";
    }

    // "notebook: stack" of each notebook, and the titles of the live notes.
    QStringList noteStoreContents()
    {
        QStringList contents;
        for (const QJsonValue &notebook : noteStore->notebooks())
            contents << notebook["name"].toString() + ": " + notebook["stack"].toString();
        for (const QJsonValue &note : noteStore->notes())
            if (note["active"].toBool())
                contents << note["title"].toString();
        contents.sort();
        return contents;
    }

    QStringList menusWhileImporting;
};

TEST_F(EndToEnd, ImportsMarkedPagesThroughTheWindowsAndSignsInAgainWhenTheTokenExpires)
{
    Site site;
    site.pages << PageBuilder("201", "Groceries")
                      .note("n1", "Market", "Buy *fresh* bread")
                      .list("l1", "Weekly", {{"Milk", false}, {"Eggs", true}});
    site.pages << PageBuilder("202", "Trip")
                      .note("n2", "Plan",
                            "h3. Day one\n\nThe *9:12* train from Central, coach 7. Check in at the Lakeside Inn "
                            "after four.\n\nh3. Day two\n\nBoat to the far shore at ten, back on the evening train.")
                      .list("l2", "Before leaving",
                            {{"Book the boat", true},
                             {"Print the train tickets", false},
                             {"Pack the rain jackets", false}})
                      .note("n4", "Contacts", "Lakeside Inn: 0123 456 789\n\nBoat hire: ask for Marta at the pier.")
                      .gallery("g1", "Photos", {{"im1", "lake.png", "The lake"}});
    site.pages << PageBuilder("203", "Unmarked").note("n3", "Stays", "not imported");
    site.assets.insert("im1/lake.png", bytesFor("lake", 40000));
    useSite({}, site);
    const QString lake = QString::fromLatin1(bytesFor("lake", 40000).toBase64());
    // Time to look at the progress sheet.
    ASSERT_TRUE(backpack->enqueue({{"path", "assets/im1/as/lake.png"}, {"body_base64", lake}, {"delay", 2}}));
    auto provider = startProvider(QStringLiteral("token-one"));
    launch();

    // The account, from the editor to the picker; the keys were on the
    // preview when the editor opened.
    exportView()->webView()->setFocus();
    addAccountInTheEditor();
    EXPECT_EQ(keysAfterASheet(), QStringLiteral("Pages")) << "after the account editor";
    ASSERT_TRUE(waitFor([&] { return delegate->accountsPopup()->isEnabled(); }));
    emit delegate->accountsPopup()->activated(0);
    ASSERT_TRUE(waitFor([&] { return table()->model()->rowCount() == 3 && !exportView()->isLoadingPages(); }));
    EXPECT_EQ(titles(), (QStringList{"Groceries", "Trip", "Unmarked"}));

    // A page and its preview, sidebar hidden.
    table()->selectRow(1);
    QWebEnginePage *preview = exportView()->webView()->page();
    ASSERT_TRUE(waitFor([&] { return preview->url().path() == "/pages/202" && !preview->isLoading(); }));
    ASSERT_TRUE(waitFor(
        [&] { return evaluate(preview, "getComputedStyle(document.getElementById('Sidebar')).display") == "none"; }));

    // Two marks, Import, confirm, sign in, watch to the end. The screen holds
    // the window and the sheet's page, not a black rectangle (unlike a grab).
    auto *model = table()->model();
    model->setData(model->index(1, PageTableModel::ImportColumn), Qt::Checked, Qt::CheckStateRole);
    model->setData(model->index(0, PageTableModel::ImportColumn), Qt::Checked, Qt::CheckStateRole);
    const QRect frame = framedGeometry(delegate->window());
    ASSERT_FALSE(frame.isEmpty()) << "no window manager";
    settle(800);
    EXPECT_GT(captureScreen("main-window-screen", frame, delegate->window()->geometry()), 100);
    importThroughTheSheets();
    approveSignIn(frame);
    watchTheProgressSheet(QStringLiteral("end-to-end-progress-sheet"));

    // The NoteStore: one notebook per marked page in the account's stack,
    // one note per element; the unmarked page stays out.
    const QStringList contents{"Before leaving", "Contacts", "Groceries: " + kStack, "Market",
                               "Photos",         "Plan",     "Trip: " + kStack,      "Weekly"};
    EXPECT_EQ(noteStoreContents(), contents);

    // The token is kept, so the next import needs no sheet... but the
    // service now refuses it as expired: the import signs in again, without
    // a word to the user, and finishes, replacing the first one's notes.
    noteStore->setToken(QStringLiteral("token-two"));
    auto second = startProvider(QStringLiteral("token-two"));
    importThroughTheSheets();
    approveSignIn();
    watchTheProgressSheet();
    EXPECT_EQ(noteStoreContents(), contents);
    int signIns = 0;
    for (const QJsonObject &request : second->requests(QStringLiteral("access")))
        signIns += request[QStringLiteral("verified")].toBool();
    EXPECT_EQ(signIns, 1);
}

// SIGTERM, SIGINT, closing the main window or Quit in the middle of a
// download: the import is cancelled, the half-written file goes, the pages
// before it are whole, and the process is gone within a few seconds. So it
// ends too with the sign-in sheet open (which blocks the window's close), and
// with the account editor open, whose edits are kept as Done keeps them.
TEST_F(EndToEnd, SignalDuringAnImportQuitsAndLeavesNoPartialFile)
{
    const QByteArray big = bytesFor("big", 2 * 1024 * 1024);
    Site site;
    site.pages << PageBuilder("300", "A first").note("n1", "Alpha", "one").list("l1", "Chores", {{"Sweep", false}});
    site.pages << PageBuilder("301", "Archive").attachment("a1", "big.bin");
    site.assets.insert("a1/big.bin", big);
    useSite({}, site);

    auto provider = startProvider(QStringLiteral("token-one"));
    for (const char *end :
         {"SIGTERM", "SIGINT", "close", "quit", "SIGTERM signing in", "quit signing in", "SIGTERM editing accounts"}) {
        SCOPED_TRACE(end);
        const bool editing = QByteArray(end).endsWith("editing accounts");
        const bool signingIn = editing || QByteArray(end).endsWith("signing in");
        ASSERT_TRUE(backpack->enqueue(QJsonObject{{"path", "assets/a1/as/big.bin"},
                                                  {"status", 200},
                                                  {"body_base64", QString::fromLatin1(big.toBase64())},
                                                  {"stall", 60}}));
        QTemporaryDir home;
        const QString config = home.filePath(QStringLiteral("config"));
        const QString assets = home.filePath(QStringLiteral("data/Leafhaul"));
        QSettings(config + QStringLiteral("/LeafhaulTests/quit_probe.conf"), QSettings::IniFormat)
            .setValue(QLatin1String(SettingsKeys::kAccounts), QVariantList{accountRecord()});
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        probe.setProcessEnvironment(env);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(QStringLiteral(QUIT_PROBE), {editing     ? "accounts"
                                                 : signingIn ? "sign-in"
                                                             : noteStore->noteStoreUrl().toString()});
        QByteArray output;
        ASSERT_TRUE(waitFor([&] {
            output += probe.readAllStandardOutput();
            return output.contains(editing     ? "EDITING"
                                   : signingIn ? "SIGNING IN"
                                               : "IMPORTING")
                   || probe.state() == QProcess::NotRunning;
        }));
        ASSERT_EQ(probe.state(), QProcess::Running);

        // The download is under way once the probe holds a file open in the
        // asset folder (the half-written file may have no name yet); the
        // import's lock file stands beside that folder.
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(probe.processId()));
        const auto downloading = [&] {
            for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::Files))
                if (fd.symLinkTarget().startsWith(assets + QStringLiteral("/Assets/")))
                    return true;
            return false;
        };
        ASSERT_TRUE(signingIn || waitFor(downloading)) << "the download never began";

        QElapsedTimer quitting;
        quitting.start();
        const int signal = QByteArray(end).startsWith("SIGTERM") ? SIGTERM : QByteArray(end) == "SIGINT" ? SIGINT : 0;
        if (signal)
            ASSERT_EQ(::kill(pid_t(probe.processId()), signal), 0);
        else
            probe.write(QByteArray(end) + '\n');
        ASSERT_TRUE(probe.waitForFinished(10000)) << "still running after 10 s";
        // Well within the grace the way out gives a cancelled import: the
        // cancel reached the download.
        EXPECT_LT(quitting.elapsed(), 3000);
        EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(probe.exitCode(), 0);
        QDirIterator left(assets, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        EXPECT_FALSE(left.hasNext()) << "a partial download was left: " << left.next();
        EXPECT_EQ(noteStoreContents(), (QStringList{"A first: " + kStack, "Alpha", "Archive: " + kStack, "Chores"}));
        const QVariantList kept = QSettings(config + QStringLiteral("/LeafhaulTests/quit_probe.conf"),
                                            QSettings::IniFormat)
                                      .value(QLatin1String(SettingsKeys::kAccounts))
                                      .toList();
        EXPECT_EQ(kept.size(), editing ? 2 : 1);
        ASSERT_TRUE(backpack->reset());
    }
}

// A sign-in whose reply names no NoteStore is an error, shown, and no
// import starts; the sheet closed by the user says nothing.
TEST_F(EndToEnd, SignInWithoutANoteStoreIsShownAndImportsNothing)
{
    useSite({"Only page"});
    FakeProvider provider({QStringLiteral("access-no-store")});
    provider.setNoteStoreUrl({});
    ASSERT_TRUE(provider.start()) << provider.errorString();
    ASSERT_TRUE(AccountStore::setAccounts({accountRecord()}));
    launch();
    ASSERT_TRUE(waitFor([&] { return table()->model()->rowCount() == 1; }));
    importThroughTheSheets();
    approveSignIn();
    ASSERT_TRUE(waitFor([] { return !openAlerts().isEmpty(); })) << "no alert";
    EXPECT_EQ(openAlerts().first()->text(), QStringLiteral("Leafhaul couldn't authenticate you with Ravadido."));
    EXPECT_FALSE(exportView()->importController()->progressSheet());
    EXPECT_TRUE(noteStore->requests().isEmpty());
    closeAlerts();

    // Again, and the user closes the sheet: nothing to say.
    importThroughTheSheets();
    ASSERT_TRUE(waitForSignInSheet());
    delegate->signInController()->webCloseButton()->click();
    settle(500);
    EXPECT_TRUE(openAlerts().isEmpty());
    EXPECT_FALSE(exportView()->importController()->progressSheet());
}

// The password an older sign-in kept goes at launch, on a worker; the
// setting that names it stays.
TEST_F(EndToEnd, LaunchRemovesTheOlderSignInsPassword)
{
    const QString service = QStringLiteral("Leafhaul"), user = QStringLiteral("old-user@example.com");
    ASSERT_TRUE(VKKeychain::setPassword(QStringLiteral("old secret"), service, user));
    QSettings().setValue(QLatin1String(SettingsKeys::kRavadidoUserName), user);
    launch();
    EXPECT_TRUE(waitFor([&] { return VKKeychain::passwordForService(service, user).isNull(); }));
    EXPECT_EQ(QSettings().value(QLatin1String(SettingsKeys::kRavadidoUserName)).toString(), user);
}

} // namespace
