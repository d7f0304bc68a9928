// A whole import driven through the windows as a person would, against the
// local fakes: Backpack, the OAuth provider and the NoteStore. The sign-in
// goes through the sign-in sheet's real web page and keeps its token in the
// (private) Secret Service under the program's own name.

#include "FakeProvider.h"
#include "WindowTestSupport.h"

#include "gui/AccountEditor.h"
#include "gui/ImportBackpackSheet.h"
#include "gui/ImportController.h"
#include "gui/ImportProgressSheet.h"
#include "gui/PageTableModel.h"
#include "ravadido/tests/FakeNoteStore.h"
#include "signin/VKKeychain.h"
#include "signin/WSKOAuthWindowController.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace {

namespace wt = window_test;
using namespace importertest;

const QString kStack = QStringLiteral("acme Backpack Account");

void type(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    for (const QChar c : text) {
        QKeyEvent down(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QKeyEvent up(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(edit, &down);
        QCoreApplication::sendEvent(edit, &up);
    }
}

Site tripSite()
{
    Site site;
    site.pages << PageBuilder("201", "Groceries")
                      .note("n1", "Market", "Buy *fresh* bread")
                      .list("l1", "Weekly", {{"Milk", false}, {"Eggs", true}});
    site.pages << PageBuilder("202", "Trip")
                      .note("n2", "Plan", "h1. Day one\n\nTrain at 9")
                      .gallery("g1", "Photos", {{"im1", "lake.png", "The lake"}});
    site.pages << PageBuilder("203", "Unmarked").note("n3", "Stays", "not imported");
    site.assets.insert("im1/lake.png", bytesFor("lake", 40000));
    return site;
}

class EndToEnd : public wt::WindowTest
{
protected:
    static void SetUpTestSuite()
    {
        WindowTest::SetUpTestSuite();
        noteStore = new FakeNoteStore;
        FakeNoteStore::Options options;
        options.tls = true;
        ASSERT_TRUE(noteStore->start(options)) << noteStore->errorString();
    }
    static void TearDownTestSuite()
    {
        delete std::exchange(noteStore, nullptr);
        WindowTest::TearDownTestSuite();
    }
    void SetUp() override
    {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        noteStore->reset();
        WSKOAuthWindowController::removeParamsFromKeychainForName(QString::fromLatin1(RavadidoSignInValues::kKeychainName));
    }
    void TearDown() override
    {
        WSKOAuthWindowController::removeParamsFromKeychainForName(QString::fromLatin1(RavadidoSignInValues::kKeychainName));
        WindowTest::TearDown();
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
        ASSERT_TRUE(editor);
        ASSERT_TRUE(wt::waitFor([&] { return editor->isVisible(); }));
        EXPECT_EQ(editor->windowModality(), Qt::WindowModal);
        editor->findChild<QPushButton *>(QStringLiteral("addButton"))->click();
        const QList<QPair<const char *, QString>> values = {{SettingsKeys::kSiteName, kSite},
                                                            {SettingsKeys::kUserName, kUser},
                                                            {SettingsKeys::kPassword, kPassword},
                                                            {SettingsKeys::kAPIKey, kToken}};
        for (const auto &[key, value] : values) {
            QLineEdit *edit = editor->findChild<QLineEdit *>(QLatin1String(key));
            ASSERT_TRUE(edit) << key;
            type(edit, value);
        }
        wt::saveScreenshot(editor, QStringLiteral("end-to-end-account-editor"));
        editor->findChild<QPushButton *>(QStringLiteral("doneButton"))->click();
        ASSERT_TRUE(wt::waitFor([&] { return !delegate->accountEditor() || !delegate->accountEditor()->isVisible(); }));
    }

    // Import, confirm, and (when `signIn`) approve on the sign-in sheet's page.
    void importThroughTheSheets(bool expectSignIn)
    {
        ASSERT_TRUE(delegate->importAction()->isEnabled());
        delegate->importAction()->trigger();
        ImportBackpackSheet *confirm = delegate->importSheet();
        ASSERT_TRUE(confirm && wt::waitFor([&] { return confirm->isVisible(); }));
        EXPECT_TRUE(confirm->labelText().contains(kStack)) << confirm->labelText();
        confirm->findChild<QPushButton *>(QStringLiteral("importButton"))->click();
        if (expectSignIn)
            approveSignIn();
    }

    void approveSignIn()
    {
        ASSERT_TRUE(wt::waitFor([&] {
            auto *c = delegate->signInController();
            return c && c->window() && c->window()->isVisible();
        })) << "no sign-in sheet";
        WSKOAuthWindowController *controller = delegate->signInController();
        EXPECT_EQ(controller->window()->parentWidget(), delegate->window());
        QWebEnginePage *page = controller->webView()->page();
        ASSERT_TRUE(wt::waitFor([&] {
            return wt::evaluate(page, QStringLiteral("!!document.getElementById('authorise')")).toBool();
        }));
        wt::evaluate(page, QStringLiteral("document.getElementById('authorise').click(); true"));
    }

    // Watches the progress sheet until the import has ended.
    void watchTheProgressSheet(const QString &screenshot = {})
    {
        ImportController *import = exportView()->importController();
        ASSERT_TRUE(wt::waitFor([&] { return import->progressSheet() && import->progressSheet()->isVisible(); }))
            << "no progress sheet";
        ImportProgressSheet *sheet = import->progressSheet();
        if (!screenshot.isEmpty())
            sheet->grab().save(qEnvironmentVariable("LEAFHAUL_TEST_ARTIFACTS") + "/" + screenshot + ".png");
        QStringList statuses;
        auto *status = sheet->findChild<QLabel *>(QStringLiteral("importStatusLabel"));
        ASSERT_TRUE(wt::waitFor(
            [&] {
                if (status && (statuses.isEmpty() || statuses.last() != status->text()))
                    statuses << status->text();
                return !import->isImporting() && !sheet->isVisible();
            },
            120000))
            << statuses.join(" | ").toStdString();
        lastStatuses = statuses;
        lastProgress = {sheet->progressValue(), sheet->progressMaximum()};
    }

    QMap<QString, QString> stackByNotebook()
    {
        QMap<QString, QString> out;
        for (const QJsonValue &nb : noteStore->notebooks())
            out.insert(nb["name"].toString(), nb["stack"].toString());
        return out;
    }

    QStringList activeNoteTitles()
    {
        QStringList titles;
        for (const QJsonValue &note : noteStore->notes())
            if (note["active"].toBool())
                titles << note["title"].toString();
        titles.sort();
        return titles;
    }

    QTemporaryDir dataHome;
    QStringList lastStatuses;
    QPair<double, double> lastProgress;
    static inline FakeNoteStore *noteStore = nullptr;
};

TEST_F(EndToEnd, ImportsMarkedPagesThroughTheWindowsAndSignsInAgainWhenTheTokenExpires)
{
    useSite(tripSite());
    auto provider = startProvider(QStringLiteral("token-one"));
    launch();
    EXPECT_EQ(delegate->accountsPopup()->currentText(), QStringLiteral("No Accounts"));

    // The account, from the editor to the picker.
    addAccountInTheEditor();
    ASSERT_TRUE(wt::waitFor([&] { return delegate->accountsPopup()->isEnabled(); }));
    ASSERT_EQ(delegate->accountsPopup()->count(), 1);
    delegate->accountsPopup()->setCurrentIndex(0);
    emit delegate->accountsPopup()->activated(0);
    EXPECT_EQ(AccountStore::accounts().size(), 1);
    ASSERT_TRUE(wt::waitFor([&] { return table()->model()->rowCount() == 3 && !exportView()->isLoadingPages(); }));
    EXPECT_EQ(wt::tableTitles(table()), (QStringList{"Groceries", "Trip", "Unmarked"}));

    // A page and its preview, sidebar hidden.
    table()->selectRow(1);
    QWebEnginePage *preview = exportView()->webView()->page();
    ASSERT_TRUE(wt::waitFor([&] { return preview->url().path() == "/pages/202" && !preview->isLoading(); }));
    ASSERT_TRUE(wt::waitFor([&] {
        return wt::evaluate(preview, "getComputedStyle(document.getElementById('Sidebar')).display") == "none";
    }));

    // Two marks, Import, confirm, sign in, watch to the end.
    auto *model = table()->model();
    model->setData(model->index(1, PageTableModel::ImportColumn), Qt::Checked, Qt::CheckStateRole);
    model->setData(model->index(0, PageTableModel::ImportColumn), Qt::Checked, Qt::CheckStateRole);
    importThroughTheSheets(true);
    watchTheProgressSheet(QStringLiteral("end-to-end-progress-sheet"));
    EXPECT_TRUE(wt::openAlerts().isEmpty());
    EXPECT_TRUE(lastStatuses.contains(QStringLiteral("Importing Groceries…"))) << lastStatuses.join(" | ");
    EXPECT_EQ(lastProgress.first, 2);
    EXPECT_EQ(lastProgress.second, 2);

    // The NoteStore: one notebook per marked page in the account's stack,
    // one note per element; the unmarked page stays out.
    EXPECT_EQ(stackByNotebook(), (QMap<QString, QString>{{"Groceries", kStack}, {"Trip", kStack}}));
    EXPECT_EQ(activeNoteTitles(), (QStringList{"Market", "Photos", "Plan", "Weekly"}));
    for (const QJsonValue &note : noteStore->notes()) {
        if (note["title"].toString() == QStringLiteral("Photos")) {
            EXPECT_EQ(note["resources"].toArray().size(), 1);
        }
    }

    // The token is kept: the next import needs no sheet... but the service
    // now refuses it as expired, so the import signs in again and finishes.
    const int notesBefore = noteStore->notes().size();
    noteStore->setToken(QStringLiteral("token-two"));
    auto second = startProvider(QStringLiteral("token-two"));
    importThroughTheSheets(false);
    ASSERT_TRUE(wt::waitFor([&] { return !exportView()->importController()->isImporting(); }, 60000));
    EXPECT_TRUE(wt::openAlerts().isEmpty()) << "an expired token is not an error for the user";
    approveSignIn();
    watchTheProgressSheet();
    EXPECT_TRUE(wt::openAlerts().isEmpty());
    EXPECT_EQ(activeNoteTitles(), (QStringList{"Market", "Photos", "Plan", "Weekly"}))
        << "the second import replaces the first one's notes";
    EXPECT_GT(noteStore->notes().size(), notesBefore);
    EXPECT_EQ(stackByNotebook().size(), 2);
    int signIns = 0;
    for (const QJsonObject &request : second->requests(QStringLiteral("access")))
        signIns += request[QStringLiteral("verified")].toBool();
    EXPECT_EQ(signIns, 1);
}

// SIGTERM or SIGINT in the middle of a download: the program quits as from
// its window, the import is cancelled, the half-written file goes, and the
// process is gone within a few seconds.
TEST_F(EndToEnd, SignalDuringAnImportQuitsAndLeavesNoPartialFile)
{
    const QByteArray big = bytesFor("big", 2 * 1024 * 1024);
    Site site;
    site.pages << PageBuilder("301", "Archive").attachment("a1", "big.bin");
    site.assets.insert("a1/big.bin", big);
    useSite(site);

    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ASSERT_TRUE(backpack->enqueue(QJsonObject{{"path", "assets/a1/as/big.bin"},
                                                  {"status", 200},
                                                  {"body_base64", QString::fromLatin1(big.toBase64())},
                                                  {"stall", 60}}));
        QTemporaryDir home;
        const QString config = home.filePath(QStringLiteral("config"));
        const QString data = home.filePath(QStringLiteral("data"));
        {
            QSettings settings(config + QStringLiteral("/LeafhaulTests/quit_probe.conf"), QSettings::IniFormat);
            settings.setValue(QLatin1String(SettingsKeys::kAccounts), QVariantList{wt::accountRecord()});
        }
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("XDG_DATA_HOME"), data);
        probe.setProcessEnvironment(env);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(QStringLiteral(QUIT_PROBE), {noteStore->noteStoreUrl().toString()});
        ASSERT_TRUE(probe.waitForStarted());
        QByteArray output;
        ASSERT_TRUE(wt::waitFor([&] {
            output += probe.readAllStandardOutput();
            return output.contains("IMPORTING") || probe.state() != QProcess::Running;
        }));
        ASSERT_EQ(probe.state(), QProcess::Running);

        // Wait until the probe holds a file open in the asset folder: the
        // download is under way (the half-written file may have no name yet).
        auto filesIn = [&](const QString &root) {
            QStringList files;
            QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
            return files;
        };
        const QString assets = data + QStringLiteral("/Leafhaul");
        const QString fds = QStringLiteral("/proc/%1/fd").arg(probe.processId());
        ASSERT_TRUE(wt::waitFor([&] {
            for (const QFileInfo &fd : QDir(fds).entryInfoList(QDir::System | QDir::Files))
                if (fd.symLinkTarget().startsWith(assets))
                    return true;
            return false;
        })) << "the download never began";

        QElapsedTimer quitting;
        quitting.start();
        ASSERT_EQ(::kill(pid_t(probe.processId()), signal), 0);
        ASSERT_TRUE(probe.waitForFinished(10000)) << "still running after 10 s";
        // Well within the grace the way out gives a cancelled import: the
        // cancel reached the download.
        EXPECT_LT(quitting.elapsed(), 3000);
        EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(probe.exitCode(), 0);
        EXPECT_EQ(filesIn(assets), QStringList()) << "a partial download was left";
        ASSERT_TRUE(backpack->reset());
    }
}

// A sign-in whose reply names no NoteStore is an error, shown, and no
// import starts; the sheet closed by the user says nothing.
TEST_F(EndToEnd, SignInWithoutANoteStoreIsShownAndImportsNothing)
{
    useSite(tripSite());
    FakeProvider provider({QStringLiteral("access-no-store")});
    provider.setNoteStoreUrl({});
    ASSERT_TRUE(provider.start()) << provider.errorString();
    ASSERT_TRUE(AccountStore::setAccounts({wt::accountRecord()}));
    launch();
    ASSERT_TRUE(wt::waitFor([&] { return table()->model()->rowCount() == 3; }));
    importThroughTheSheets(true);
    ASSERT_TRUE(wt::waitFor([] { return !wt::openAlerts().isEmpty(); })) << "no alert";
    QMessageBox *alert = wt::openAlerts().first();
    EXPECT_EQ(alert->text(), QStringLiteral("Leafhaul couldn't authenticate you with Ravadido."));
    EXPECT_EQ(alert->icon(), QMessageBox::Critical);
    wt::saveScreenshot(alert, QStringLiteral("alert-sign-in-failed"));
    EXPECT_FALSE(exportView()->importController()->isImporting());
    EXPECT_FALSE(exportView()->importController()->progressSheet());
    EXPECT_TRUE(noteStore->requests().isEmpty());
    wt::closeAlerts();

    // Again, and the user closes the sheet: nothing to say.
    importThroughTheSheets(false);
    ASSERT_TRUE(wt::waitFor([&] {
        auto *c = delegate->signInController();
        return c && c->window() && c->window()->isVisible();
    }));
    delegate->signInController()->webCloseButton()->click();
    wt::settle(500);
    EXPECT_TRUE(wt::openAlerts().isEmpty());
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
    EXPECT_TRUE(wt::waitFor([&] { return VKKeychain::passwordForService(service, user).isNull(); }));
    EXPECT_EQ(QSettings().value(QLatin1String(SettingsKeys::kRavadidoUserName)).toString(), user);
}

} // namespace
