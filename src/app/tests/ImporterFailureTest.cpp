// How an import ends when a step fails or the user cancels, and what it
// leaves behind in the account.

#include "ImporterTestSupport.h"

#include "app/GalleryLimits.h"
#include "app/ImportLock.h"
#include "app/Ravadido.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace importertest;

namespace {

const QString kPageOne = QStringLiteral("Seite Eins");
const QString kPageTwo = QStringLiteral("Seite Zwei");
const QString kPageNotRead = QStringLiteral(
    "The page “Seite Eins” could not be read from Backpack: its answer did not hold the page.");

// Two pages: the first with a note, a two-image gallery and an attachment,
// the second with one note.
Site twoPageSite()
{
    Site site;
    site.pages << PageBuilder("201", kPageOne)
                      .note("n1", "Erste Notiz", "Text")
                      .gallery("g1", "Galerie", {{"i1", "a.png", "A"}, {"i2", "b.png", "B"}})
                      .attachment("a1", "datei.bin");
    site.pages << PageBuilder("202", kPageTwo).note("n2", "Zweite Notiz", "Text");
    for (const char *file : {"i1/a.png", "i2/b.png", "a1/datei.bin"})
        site.assets.insert(file, bytesFor(file, 3000));
    return site;
}

// Seeds a notebook named like the first page, in a stack of its own, with
// two notes of an earlier import.
QStringList seedEarlierImport(FakeNoteStore &ns)
{
    const QString guid = ns.addNotebook(kPageOne, QStringLiteral("Woanders"));
    return ns.addNotes(guid, {QStringLiteral("alt 1"), QStringLiteral("alt 2")});
}

// Another Leafhaul (from a shell without XDG_RUNTIME_DIR) holding the import
// lock of `noteStoreUrl` until this test process ends, and with it the pipe
// to the holder's standard input.
void holdImportLock(const QUrl &noteStoreUrl)
{
    int input[2], output[2];
    ASSERT_TRUE(::pipe2(input, O_CLOEXEC) == 0 && ::pipe2(output, O_CLOEXEC) == 0);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    const QByteArray url = noteStoreUrl.toEncoded();
    char *argv[] = {const_cast<char *>(IMPORT_LOCK_HOLDER), const_cast<char *>(url.constData()), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, IMPORT_LOCK_HOLDER, &actions, nullptr, argv, environ), 0);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    char said[5] = {};
    EXPECT_EQ(::read(output[0], said, 4), 4);
    EXPECT_STREQ(said, "held");
    ::close(output[0]);
}

QString failureText(const RecordingDelegate &d)
{
    return (d.error ? d.error->toString() : QStringLiteral("no error")) + QStringLiteral("\n") + d.events.join("\n");
}

// ---------------------------------------------------------------- failures

struct FailureCase
{
    const char *name;
    std::function<void(FakeNoteStore &, Site &)> arrange;
    QString domain;
    long code;
    QString description;
    QString failureReason; // checked when not empty
    // The last page whose "will" event comes before the failure.
    QString failingPage;
    int notesLeft = 0; // active in the account at the end
    bool withoutAccessToken = false;
    // A page the site does not have, imported first.
    bool unknownPageFirst = false;
    // Refused for what the page holds, before its notebook is looked up.
    bool beforeTheNotebook = false;
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImporterFailure : public ImporterTest, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(ImporterFailure, EndsWithTheStepsError)
{
    const FailureCase &c = GetParam();
    Site site = twoPageSite();
    c.arrange(*noteStore, site);
    useSite(site);
    auto api = makeAPI();
    QList<BackpackPagePtr> pages = listedPages(*api);
    std::optional<WSKOAuthAuthentication> auth;
    if (c.withoutAccessToken)
        auth = authenticationFor(noteStore->noteStoreUrl(), QString());
    if (c.unknownPageFirst)
        pages.prepend(std::make_shared<TGBackpackPage>(QStringLiteral("999"), QStringLiteral("Verschwunden"),
                                                       QStringLiteral("private")));

    RecordingDelegate delegate;
    runImport(delegate, pages, api, auth);

    ASSERT_EQ(delegate.events.value(delegate.events.size() - 1), QStringLiteral("fail")) << failureText(delegate);
    ASSERT_TRUE(delegate.error);
    EXPECT_EQ(delegate.error->domain, c.domain) << failureText(delegate);
    EXPECT_EQ(delegate.error->code, c.code) << failureText(delegate);
    EXPECT_EQ(delegate.error->localizedDescription, c.description) << failureText(delegate);
    if (!c.failureReason.isEmpty()) {
        EXPECT_EQ(delegate.error->localizedFailureReason, c.failureReason) << failureText(delegate);
    }
    EXPECT_EQ(isAuthenticationExpiredError(*delegate.error), c.code == 9 && c.domain == kLeafhaulErrorDomain);
    if (c.beforeTheNotebook) {
        EXPECT_EQ(noteStoreCalls(), QStringList()) << "the notebook was looked up";
    }

    // The failing page was begun and never finished; no later page began.
    if (c.failingPage.isEmpty()) {
        EXPECT_EQ(delegate.events, QStringList{QStringLiteral("fail")});
        EXPECT_EQ(noteStoreCalls(), QStringList()) << "sent before the first page";
    } else {
        const qsizetype will = delegate.events.lastIndexOf(QStringLiteral("will ") + c.failingPage);
        ASSERT_GE(will, 0) << failureText(delegate);
        for (qsizetype i = will + 1; i < delegate.events.size(); ++i) {
            EXPECT_FALSE(delegate.events[i].startsWith(QLatin1String("will "))) << delegate.events[i];
            EXPECT_FALSE(delegate.events[i].startsWith(QLatin1String("did "))) << delegate.events[i];
        }
    }
    // Every failure here comes before the first image is kept: a failed
    // download leaves no file behind. Nothing is deleted after a failure, so
    // the notes of an earlier import stay.
    EXPECT_FALSE(QFileInfo::exists(AssetDownloader::assetsPath() + QStringLiteral("/i1/a.png")));
    EXPECT_EQ(QDir(AssetDownloader::assetsPath() + QStringLiteral("/i1")).entryList(QDir::Files | QDir::Hidden),
              QStringList());
    EXPECT_EQ(activeNoteCount(), c.notesLeft);
    EXPECT_FALSE(noteStoreCalls().contains(QStringLiteral("deleteNote")));
}

// A well-formed answer without the page is no empty page: the earlier notes
// stay, and its notebook is not looked up.
FailureCase pageAnsweredWith(const char *name, const QString &document)
{
    return {name,
            [document](FakeNoteStore &ns, Site &site) {
                seedEarlierImport(ns);
                site.pages[0].answeredWith(document);
            },
            kLeafhaulErrorDomain,
            0,
            kPageNotRead,
            {},
            kPageOne,
            2,
            false,
            false,
            true};
}

// Ids of "/" and "\" alone whose short hashes meet (found by a search).
const QString kMeetingA = QStringLiteral(R"(/\\\\\\\\\//\/\\\\\\)");
const QString kMeetingB = QStringLiteral(R"(/\/\\\\/\\//\//\\/\\)");

// Two files of `page` would be kept in one here: refused before its notebook.
FailureCase assetsSharingAFile(const char *name, const PageBuilder &page)
{
    return {name,
            [page](FakeNoteStore &, Site &site) {
                ASSERT_EQ(AssetDownloader::safePathComponent(kMeetingA), AssetDownloader::safePathComponent(kMeetingB));
                site.pages[0] = page;
            },
            kLeafhaulErrorDomain,
            0,
            QStringLiteral("Two files of the page named “a.png” would be kept in one file on this computer."),
            {},
            kPageOne,
            0,
            false,
            false,
            true};
}

INSTANTIATE_TEST_SUITE_P(
    EachSource, ImporterFailure,
    ::testing::Values(
        FailureCase{"ConnectWithoutToken",
                    [](FakeNoteStore &, Site &) {},
                    kLeafhaulErrorDomain,
                    0,
                    QStringLiteral("Unable to connect to Ravadido."),
                    {},
                    {},
                    0,
                    true},
        FailureCase{"AnotherImportIntoTheAccount",
                    [](FakeNoteStore &ns, Site &) { holdImportLock(ns.noteStoreUrl()); },
                    kLeafhaulErrorDomain,
                    0,
                    QStringLiteral("Another Leafhaul is importing into this Ravadido account or into another "
                                   "account on the same Ravadido server."),
                    {},
                    {}},
        FailureCase{"ListNotebooksExpiredToken",
                    [](FakeNoteStore &ns, Site &) { ns.setToken(QStringLiteral("another token")); },
                    kLeafhaulErrorDomain,
                    9,
                    QStringLiteral("Authentication Token has expired."),
                    {},
                    kPageOne},
        FailureCase{"ListNotebooksOtherCode9",
                    // Code 9 of another exception is not an expired token.
                    [](FakeNoteStore &ns, Site &) {
                        ns.injectFault(QStringLiteral("listNotebooks"),
                                       {{"mode", "systemException"}, {"errorCode", 9}, {"message", "busy"}});
                    },
                    kLeafhaulErrorDomain, 0, QStringLiteral("Unable to get notebooks."), QStringLiteral("busy"),
                    kPageOne},
        FailureCase{"CreateNotebook",
                    [](FakeNoteStore &ns, Site &) {
                        ns.injectFault(QStringLiteral("createNotebook"),
                                       {{"mode", "userException"}, {"errorCode", 6}, {"parameter", "Notebook.name"}});
                    },
                    kLeafhaulErrorDomain, 6, QStringLiteral("Unable to create notebook Seite Eins."),
                    QStringLiteral("Ravadido refused Notebook.name with error code 6."), kPageOne},
        FailureCase{"PageDetails",
                    [](FakeNoteStore &, Site &) {},
                    kTGBackpackErrorDomain,
                    404,
                    QStringLiteral("Page not found"),
                    {},
                    QStringLiteral("Verschwunden"),
                    0,
                    false,
                    true},
        pageAnsweredWith("PageDetailsWithoutThePage",
                         QStringLiteral("<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><form action=\"/login\">"
                                        "<input name=\"username\"/></form></body></html>")),
        pageAnsweredWith("PageDetailsBareSuccess", QStringLiteral("<response success=\"true\"/>")),
        // The page asked for is a page of the answer's own, not one below it.
        pageAnsweredWith("PageDetailsOnlyNested",
                         BackpackFake::pageDocument(QStringLiteral("<page id=\"202\"><page id=\"201\"/></page>"))),
        assetsSharingAFile("AssetsThatWouldShareAFile",
                           PageBuilder("201", kPageOne).attachment(kMeetingA, "a.png").attachment(kMeetingB, "a.png")),
        assetsSharingAFile("GalleryImagesThatWouldShareAFile",
                           PageBuilder("201", kPageOne)
                               .gallery("g1", "G", {{kMeetingA, "a.png"}, {kMeetingB, "a.png"}})),
        FailureCase{"DownloadNotFound",
                    [](FakeNoteStore &, Site &site) { site.assets.remove(QStringLiteral("i1/a.png")); },
                    SyncHttp::kURLErrorDomain,
                    SyncHttp::URLErrorBadServerResponse,
                    QStringLiteral("Backpack returned error code 404."),
                    {},
                    kPageOne,
                    1},
        // One byte over the largest file a note may hold.
        FailureCase{"DownloadTooLarge",
                    [](FakeNoteStore &, Site &site) {
                        site.assets.insert(QStringLiteral("i1/a.png"),
                                           QByteArray(AssetDownloader::kMaxAssetBytes + 1, 'a'));
                    },
                    SyncHttp::kURLErrorDomain,
                    SyncHttp::URLErrorBadServerResponse,
                    QStringLiteral("The file a.png is larger than the 50 MB a note can hold."),
                    {},
                    kPageOne,
                    1},
        FailureCase{"CreateNoteBadField",
                    [](FakeNoteStore &ns, Site &) {
                        ns.injectFault(QStringLiteral("createNote"),
                                       {{"mode", "userException"}, {"errorCode", 1}, {"parameter", "Note.title"}});
                    },
                    kLeafhaulErrorDomain,
                    1,
                    QStringLiteral("Something is wrong with the format of Note.title in the note 'Erste Notiz'"),
                    {},
                    kPageOne},
        // A failed page leaves the notes of an earlier import in place...
        FailureCase{"CreateNoteAfterAnEarlierImport",
                    [](FakeNoteStore &ns, Site &) {
                        seedEarlierImport(ns);
                        ns.injectFault(QStringLiteral("createNote"), {{"mode", "systemException"}, {"errorCode", 3}});
                    },
                    kLeafhaulErrorDomain,
                    0,
                    QStringLiteral("Unknown. Make sure you haven't exceeded your upload limits."),
                    {},
                    kPageOne,
                    2},
        // ...and a failed search for them fails the page before it is
        // imported beside them.
        FailureCase{"FindOldNotes",
                    [](FakeNoteStore &ns, Site &) {
                        seedEarlierImport(ns);
                        ns.injectFault(
                            QStringLiteral("findNotes"),
                            {{"mode", "systemException"}, {"errorCode", 2}, {"message", "search index busy"}});
                    },
                    kLeafhaulErrorDomain, 0, QStringLiteral("Unable to find the notes of the notebook."),
                    QStringLiteral("search index busy"), kPageOne, 2}),
    [](const ::testing::TestParamInfo<FailureCase> &c) { return std::string(c.param.name); });

// ---------------------------------------------------------------- cancels

struct CancelCase
{
    const char *name;
    // The event at which the delegate cancels.
    QString cancelAt;
    // Notes in the account at the end.
    int notes;
    std::function<void(BackpackFake &)> arrange = {};
    // Run at the cancel, while the worker waits for the callback.
    std::function<void(FakeNoteStore &)> atCancel = {};
    // A file (under the asset folder) that must not exist at the end.
    QString absentFile = {};
};

void PrintTo(const CancelCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImporterCancel : public ImporterTest, public ::testing::WithParamInterface<CancelCase>
{
};

TEST_P(ImporterCancel, EndsCancelledAndStopsThere)
{
    const CancelCase &c = GetParam();
    useSite(twoPageSite());
    if (c.arrange)
        c.arrange(*backpack);
    auto api = makeAPI();
    RecordingDelegate delegate;
    delegate.onEvent = [&](RavadidoFromBackpackImporter *importer, const QString &event) {
        if (event != c.cancelAt)
            return;
        importer->cancel();
        if (c.atCancel)
            c.atCancel(*noteStore);
    };
    runImport(delegate, listedPages(*api), api);

    ASSERT_EQ(delegate.events.value(delegate.events.size() - 1), QStringLiteral("cancel")) << failureText(delegate);
    const qsizetype at = delegate.events.indexOf(c.cancelAt);
    ASSERT_GE(at, 0);
    // After the cancel no page begins or ends and no element is reported.
    for (qsizetype i = at + 1; i + 1 < delegate.events.size(); ++i) {
        EXPECT_FALSE(delegate.events[i].startsWith(QLatin1String("will "))) << delegate.events[i];
        EXPECT_FALSE(delegate.events[i].startsWith(QLatin1String("widget "))) << delegate.events[i];
        EXPECT_FALSE(delegate.events[i].startsWith(QLatin1String("did "))) << delegate.events[i];
    }
    EXPECT_EQ(activeNoteCount(), c.notes);
    if (!c.absentFile.isEmpty()) {
        EXPECT_FALSE(QFileInfo::exists(AssetDownloader::assetsPath() + c.absentFile))
            << "the cancelled download left its file";
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachStage, ImporterCancel,
    ::testing::Values(
        CancelCase{"BeforeTheSecondPage", QStringLiteral("did ") + kPageOne, 3},
        CancelCase{"BeforeTheNextElement", QStringLiteral("widget Note n1 [") + kPageOne + "]", 1},
        // The image's answer is held back far longer than the test may
        // take: only the cancel can end the wait.
        CancelCase{"DuringADownload",
                   QStringLiteral("status downloading a.png… [") + kPageOne + "] up",
                   1,
                   [](BackpackFake &bp) {
                       bp.enqueue(QJsonObject{
                           {"path", "assets/i1/as/a.png"}, {"status", 200}, {"body", "late"}, {"delay", 250}});
                   },
                   {},
                   QStringLiteral("/i1/a.png")},
        CancelCase{"AfterTheLastPage", QStringLiteral("did ") + kPageTwo, 4},
        // A step that fails after the cancel still ends as cancelled.
        CancelCase{"WinsOverAFailure",
                   QStringLiteral("will ") + kPageTwo,
                   3,
                   {},
                   [](FakeNoteStore &ns) {
                       ns.injectFault(QStringLiteral("listNotebooks"), {{"mode", "status"}, {"status", 500}});
                   }}),
    [](const ::testing::TestParamInfo<CancelCase> &c) { return std::string(c.param.name); });

// ------------------------------------------------ Stop, whatever the server

// Stop reaches the request under way, however the server drags it out, and
// the import ends at once; no retry follows, and the caller's own client
// still serves the next page list.
struct StopCase
{
    const char *name;
    std::function<void(BackpackFake &, FakeNoteStore &)> arrange;
    // The request under way at the Stop: a Backpack path, else a NoteStore call.
    QString backpackPath;
    QString noteStoreCall = {};
};

void PrintTo(const StopCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImporterStop : public ImporterTest, public ::testing::WithParamInterface<StopCase>
{
};

TEST_P(ImporterStop, EndsTheRequestUnderWay)
{
    const StopCase &c = GetParam();
    useSite(twoPageSite());
    c.arrange(*backpack, *noteStore);
    auto api = makeAPI();
    TGBackpackAPI::RetryPolicy policy; // retries, and waits for real
    api->setRetryPolicy(policy);
    const QList<BackpackPagePtr> pages = listedPages(*api);
    const auto sent = [&] {
        if (c.backpackPath.isEmpty())
            return int(noteStoreCalls().count(c.noteStoreCall));
        int n = 0;
        for (const QJsonValue &request : backpack->requests())
            n += request["path"].toString() == c.backpackPath;
        return n;
    };
    RecordingDelegate delegate;
    auto importer = std::make_shared<RavadidoFromBackpackImporter>(api, authenticationFor(noteStore->noteStoreUrl()));
    importer->setDelegate(&delegate);
    importer->startImportingPages(pages);
    ASSERT_TRUE(pumpUntil([&] { return sent() > 0 || delegate.ends > 0; }));
    ASSERT_EQ(delegate.ends, 0) << failureText(delegate);

    QElapsedTimer sinceStop;
    sinceStop.start();
    importer->cancel();
    ASSERT_TRUE(pumpUntil([&] { return delegate.ends > 0; }));
    EXPECT_LT(sinceStop.elapsed(), 2000);
    EXPECT_EQ(delegate.events.value(delegate.events.size() - 1), QStringLiteral("cancel")) << failureText(delegate);
    ASSERT_TRUE(WorkQueue::waitForBackgroundWork(60000));
    EXPECT_EQ(sent(), 1);
    EXPECT_TRUE(api->pages()) << (api->error() ? api->error()->toString() : QString());
}

INSTANTIATE_TEST_SUITE_P(
    EachServer, ImporterStop,
    ::testing::Values(
        StopCase{"TricklingPageDetails",
                 [](BackpackFake &bp, FakeNoteStore &) {
                     bp.enqueue(QJsonObject{{"path", "ws/page/201"}, {"trickle", QJsonObject{{"in", "body"}}}});
                 },
                 QStringLiteral("ws/page/201")},
        StopCase{"SilentPageDetails",
                 [](BackpackFake &bp, FakeNoteStore &) {
                     bp.enqueue(QJsonObject{{"path", "ws/page/201"}, {"status", 200}, {"delay", 250}});
                 },
                 QStringLiteral("ws/page/201")},
        StopCase{"SilentSignIn",
                 [](BackpackFake &bp, FakeNoteStore &) {
                     bp.enqueue(QJsonObject{{"path", "authenticate"}, {"status", 200}, {"delay", 250}});
                 },
                 QStringLiteral("authenticate")},
        StopCase{"TricklingNoteStore",
                 [](BackpackFake &, FakeNoteStore &ns) {
                     ns.injectFault(QStringLiteral("createNote"), {{"mode", "trickle"}, {"in", "headers"}});
                 },
                 {},
                 QStringLiteral("createNote")},
        StopCase{"SilentNoteStore",
                 [](BackpackFake &, FakeNoteStore &ns) {
                     ns.injectFault(QStringLiteral("listNotebooks"), {{"mode", "silent"}, {"seconds", 250}});
                 },
                 {},
                 QStringLiteral("listNotebooks")}),
    [](const ::testing::TestParamInfo<StopCase> &c) { return std::string(c.param.name); });

// ---------------------------------------------------------------- old notes

TEST_F(ImporterTest, OldNotesGoOnlyAfterThePagesNewNotes)
{
    useSite(twoPageSite());
    const QStringList old = seedEarlierImport(*noteStore);
    RecordingDelegate delegate;
    auto api = makeAPI();
    runImport(delegate, listedPages(*api), api);
    ASSERT_EQ(delegate.events.value(delegate.events.size() - 1), QStringLiteral("finish")) << failureText(delegate);

    // The existing notebook is reused where it stands.
    EXPECT_EQ(noteStore->notebooks().size(), 2);
    for (const QJsonValue &nb : noteStore->notebooks())
        if (nb["name"].toString() == kPageOne) {
            EXPECT_EQ(nb["stack"].toString(), QStringLiteral("Woanders"));
        }
    QStringList activeTitles;
    for (const QJsonValue &note : activeNotesByNotebook().value(kPageOne))
        activeTitles << note["title"].toString();
    EXPECT_EQ(activeTitles,
              (QStringList{QStringLiteral("Erste Notiz"), QStringLiteral("Galerie"), QStringLiteral("datei.bin")}));

    // Page one's calls: find, create the three notes, then delete the two.
    const QStringList calls = noteStoreCalls();
    const qsizetype find = calls.indexOf(QStringLiteral("findNotes"));
    ASSERT_GE(find, 0);
    EXPECT_EQ(calls.mid(find, 6),
              (QStringList{"findNotes", "createNote", "createNote", "createNote", "deleteNote", "deleteNote"}))
        << calls.join(' ');
    EXPECT_EQ(calls.count(QStringLiteral("deleteNote")), 2);
    for (const QJsonValue &note : noteStore->notes())
        if (old.contains(note["guid"].toString())) {
            EXPECT_FALSE(note["active"].toBool());
        }
}

// ------------------------------------------------------- shared notebooks

const QString kShared = QStringLiteral("Gemeinsam");

// Pages one and three share a notebook that holds two notes of an earlier
// import; page two has its own. Neither title is the notebook's name: they
// differ from it, and from each other, by the blanks the name drops.
Site sharedNotebookSite()
{
    Site site;
    site.pages << PageBuilder("301", kShared + QStringLiteral(" ")).note("a", "A", "Text");
    site.pages << PageBuilder("302", QStringLiteral("Andere")).note("b", "B", "Text");
    site.pages << PageBuilder("303", QStringLiteral(" ") + kShared).note("c1", "C1", "Text").note("c2", "C2", "Text");
    return site;
}

struct SharedNotebookCase
{
    const char *name;
    // The event at which `act` runs while the worker waits; none: no action.
    QString at;
    std::function<void(RavadidoFromBackpackImporter *, FakeNoteStore &, BackpackFake &)> act;
    QString end;
    // Active notes of the shared notebook at the end, sorted.
    QStringList sharedNotes;
};

void PrintTo(const SharedNotebookCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImporterSharedNotebook : public ImporterTest, public ::testing::WithParamInterface<SharedNotebookCase>
{
};

// The earlier notes of a shared notebook go only after the last page of the
// import that maps to it; until then a failure or cancel leaves them.
TEST_P(ImporterSharedNotebook, KeepsEarlierNotesUntilItsLastPage)
{
    const SharedNotebookCase &c = GetParam();
    useSite(sharedNotebookSite());
    const QString guid = noteStore->addNotebook(kShared);
    noteStore->addNotes(guid, {QStringLiteral("alt 1"), QStringLiteral("alt 2")});
    auto api = makeAPI();
    RecordingDelegate delegate;
    delegate.onEvent = [&](RavadidoFromBackpackImporter *importer, const QString &event) {
        if (event == c.at)
            c.act(importer, *noteStore, *backpack);
    };
    runImport(delegate, listedPages(*api), api);

    ASSERT_EQ(delegate.events.value(delegate.events.size() - 1), c.end) << failureText(delegate);
    EXPECT_EQ(noteStore->notebooks().size(), 2);
    QStringList shared;
    for (const QJsonValue &note : activeNotesByNotebook().value(kShared))
        shared << note["title"].toString();
    shared.sort();
    EXPECT_EQ(shared, c.sharedNotes);
    EXPECT_EQ(noteStoreCalls().count(QStringLiteral("deleteNote")), c.end == QLatin1String("finish") ? 2 : 0);
    // The earlier notes are looked up once, before this import adds any.
    EXPECT_EQ(noteStoreCalls().count(QStringLiteral("findNotes")), 2);
}

const auto cancel = [](RavadidoFromBackpackImporter *importer, FakeNoteStore &, BackpackFake &) { importer->cancel(); };

INSTANTIATE_TEST_SUITE_P(
    EachEnd, ImporterSharedNotebook,
    ::testing::Values(
        SharedNotebookCase{"AllPagesIn", {}, {}, "finish", {"A", "C1", "C2"}},
        SharedNotebookCase{"CancelBeforeTheLastPage", "did Andere", cancel, "cancel", {"A", "alt 1", "alt 2"}},
        SharedNotebookCase{
            "CancelWithinTheLastPage", "widget Note c1 [ Gemeinsam]", cancel, "cancel", {"A", "C1", "alt 1", "alt 2"}},
        SharedNotebookCase{"LastPagesDetailsFail",
                           "did Andere",
                           [](RavadidoFromBackpackImporter *, FakeNoteStore &, BackpackFake &bp) {
                               bp.enqueue(QStringLiteral("ws/page/303"), 500);
                           },
                           "fail",
                           {"A", "alt 1", "alt 2"}},
        SharedNotebookCase{
            "LastPagesNoteFails",
            "widget Note c1 [ Gemeinsam]",
            [](RavadidoFromBackpackImporter *, FakeNoteStore &ns, BackpackFake &) {
                ns.injectFault(QStringLiteral("createNote"), {{"mode", "systemException"}, {"errorCode", 3}});
            },
            "fail",
            {"A", "C1", "alt 1", "alt 2"}}),
    [](const ::testing::TestParamInfo<SharedNotebookCase> &c) { return std::string(c.param.name); });

// ---------------------------------------------------------------- building

// A cancel that lands while a note is built, after the builder's last look
// at the flag: that note is never sent.
TEST_F(ImporterTest, CancelWhileANoteIsBuiltSendsNoNote)
{
    useSite(twoPageSite());
    auto api = makeAPI();
    auto importer = std::make_shared<RavadidoFromBackpackImporter>(api, authenticationFor(noteStore->noteStoreUrl()));
    int checks = 0;
    // The gallery builder asks once per image; the cancel comes right after
    // the second (last) answer.
    ImporterSteps::setBuilderCancellationCheck(*importer, [&checks, raw = importer.get()] {
        if (++checks == 2)
            raw->cancel();
        return false;
    });
    RecordingDelegate delegate;
    importer->setDelegate(&delegate);
    importer->startImportingPages(listedPages(*api));
    ASSERT_TRUE(pumpUntil([&] { return delegate.ends > 0; })) << failureText(delegate);
    ASSERT_TRUE(WorkQueue::waitForBackgroundWork(60000));

    EXPECT_EQ(checks, 2);
    EXPECT_EQ(delegate.events.value(delegate.events.size() - 1), QStringLiteral("cancel")) << failureText(delegate);
    EXPECT_FALSE(delegate.events.contains(QStringLiteral("widget Gallery g1 [") + kPageOne + "]"));
    EXPECT_EQ(noteStoreCalls().count(QStringLiteral("createNote")), 1);
    QStringList titles;
    for (const QJsonValue &note : noteStore->notes())
        titles << note["title"].toString();
    EXPECT_EQ(titles, QStringList{QStringLiteral("Erste Notiz")});
}

// ------------------------------------------------ files changed under the upload

// While an attachment's createNote is on its way (the NoteStore holds its
// body halfway), another process cuts the file to `cutTo` bytes or (-1)
// downloads the asset again, with new bytes. Never a crash nor a mix under
// the old hash: a cut fails the import naming the file; the new download
// goes to a file of its own, and the upload sends what it began with.
struct ChangedFileCase
{
    const char *name;
    qint64 cutTo;
};

class ImporterChangedFile : public ImporterTest, public ::testing::WithParamInterface<ChangedFileCase>
{
};

TEST_P(ImporterChangedFile, NeverCrashesNorSendsAMix)
{
    const int size = 40 * 1024 * 1024; // more than the socket buffers hold
    Site site;
    site.pages << PageBuilder("401", QStringLiteral("Anhang")).attachment("a1", "datei.bin");
    site.assets.insert(QStringLiteral("a1/datei.bin"), bytesFor(QStringLiteral("erst"), size));
    useSite(site);
    noteStore->injectFault(QStringLiteral("createNote"), {{"mode", "pauseBody"}});
    auto api = makeAPI();
    const QList<BackpackPagePtr> pages = listedPages(*api);
    RecordingDelegate delegate;
    auto importer = std::make_shared<RavadidoFromBackpackImporter>(api, authenticationFor(noteStore->noteStoreUrl()));
    importer->setDelegate(&delegate);
    importer->startImportingPages(pages);
    ASSERT_TRUE(pumpUntil([&] { return noteStore->pausedCalls() > 0 || delegate.ends > 0; }));

    const QString path = AssetDownloader::assetsPath() + QStringLiteral("/a1/datei.bin");
    const QByteArray name = QFile::encodeName(path);
    struct stat before = {}, after = {};
    ASSERT_EQ(::stat(name.constData(), &before), 0);
    if (GetParam().cutTo >= 0) {
        ASSERT_EQ(::truncate(name.constData(), GetParam().cutTo), 0);
    } else {
        site.assets.insert(QStringLiteral("a1/datei.bin"), bytesFor(QStringLiteral("neu"), size));
        useSite(site);
        auto second = std::make_shared<RavadidoFromBackpackImporter>(makeAPI(),
                                                                     authenticationFor(noteStore->noteStoreUrl()));
        ASSERT_TRUE(ImporterSteps::downloadAsset(
            *second, {{"widgetType", "Asset"}, {"backpackID", "a1"}, {"filename", "datei.bin"}}, pages.first(),
            nullptr));
        ASSERT_EQ(::stat(name.constData(), &after), 0);
        EXPECT_NE(after.st_ino, before.st_ino) << "the download wrote into the file being sent";
    }
    noteStore->resume();
    ASSERT_TRUE(pumpUntil([&] { return delegate.ends > 0; }));
    ASSERT_TRUE(WorkQueue::waitForBackgroundWork(60000));
    EXPECT_EQ(delegate.ends, 1);
    const QJsonArray notes = noteStore->notes();
    if (GetParam().cutTo >= 0) {
        EXPECT_EQ(delegate.error ? delegate.error->localizedDescription : QString(),
                  QStringLiteral("The file %1 changed while it was being sent.").arg(path));
        EXPECT_TRUE(notes.isEmpty());
    } else {
        ASSERT_EQ(notes.size(), 1) << failureText(delegate);
        EXPECT_TRUE(QByteArray::fromBase64(notes[0]["resources"][0]["data"]["body"].toString().toLatin1())
                    == bytesFor(QStringLiteral("erst"), size));
    }
}

INSTANTIATE_TEST_SUITE_P(EachChange, ImporterChangedFile,
                         ::testing::Values(ChangedFileCase{"CutToNothing", 0},
                                           ChangedFileCase{"Halved", 20 * 1024 * 1024},
                                           ChangedFileCase{"DownloadedAgain", -1}),
                         [](const ::testing::TestParamInfo<ChangedFileCase> &c) { return std::string(c.param.name); });

// ---------------------------------------------------------------- downloads

// Each download stands alone: a failed one never hands back the file of the
// one before it. A good one hands on the MD5 of the bytes it wrote.
TEST_F(ImporterTest, DownloadNeverReturnsAnEarlierPath)
{
    Site site = twoPageSite();
    useSite(site);
    auto api = makeAPI();
    auto importer = std::make_shared<RavadidoFromBackpackImporter>(api, authenticationFor(noteStore->noteStoreUrl()));
    const auto page = std::make_shared<TGBackpackPage>(QStringLiteral("201"), kPageOne, QStringLiteral("private"));
    const auto image = [](const QString &id, const QString &name) {
        return WidgetRecord{{"widgetType", "Image"}, {"backpackID", id}, {"filename", name}};
    };

    OptionalError error;
    const std::optional<DownloadedAsset> first = ImporterSteps::downloadAsset(*importer, image("i1", "a.png"), page,
                                                                              &error);
    ASSERT_TRUE(first) << (error ? error->toString() : QString());
    EXPECT_FALSE(error);
    QFile written(first->path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    EXPECT_EQ(first->size, bytes.size());
    EXPECT_EQ(first->md5.toHex(), QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
    // The very file the download committed, for the note to lend no other.
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(first->path).constData(), &st), 0);
    EXPECT_EQ(std::pair(first->device, first->inode), std::pair(quint64(st.st_dev), quint64(st.st_ino)));

    struct Later
    {
        const char *why;
        WidgetRecord widget;
    };
    for (const Later &later :
         {Later{"missing on the server", image("i9", "weg.png")}, Later{"name that is no file", image("i1", "..")},
          Later{"empty identifier", image("", "a.png")}}) {
        SCOPED_TRACE(later.why);
        OptionalError laterError;
        const std::optional<DownloadedAsset> asset = ImporterSteps::downloadAsset(*importer, later.widget, page,
                                                                                  &laterError);
        EXPECT_FALSE(asset) << asset->path;
        EXPECT_TRUE(laterError);
    }
    EXPECT_TRUE(QFileInfo::exists(first->path));
    EXPECT_FALSE(ImporterSteps::downloadAssetsForWidget(*importer, WidgetRecord{{"widgetType", "Note"}}, page, &error));
    EXPECT_EQ(error ? error->localizedDescription : QString(), QStringLiteral("Widget has no assets"));
}

// A gallery beyond its limits is refused before anything of its page is
// downloaded or sent: no image, no notebook. Under a soft limit of 100 open
// files, 64 of them kept for the import itself; a note's 1,000 images fit
// under 1,064.
TEST_F(ImporterTest, GalleryLimitsComeBeforeItsPage)
{
    struct rlimit before = {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &before); });
    const struct
    {
        int images;
        rlim_t softLimit;
        QString error; // none: the gallery fits
    } rows[] = {
        {36, 100, {}},
        {37, 100,
         "The gallery “Album” has more images (37) than Leafhaul may keep open at once under the limit of 100 "
         "open files."},
        {1000, 1064, {}},
        {1001, 1064, "The gallery “Album” has 1001 images, more than the 1000 a note can hold."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.images);
        const struct rlimit limit = {row.softLimit, std::max(row.softLimit, before.rlim_max)};
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
        const OptionalError refused = GalleryLimits::refusal(QStringLiteral("Album"), row.images);
        EXPECT_EQ(refused ? refused->localizedDescription : QString(), row.error);
    }

    QList<QStringList> images;
    for (int i = 0; i < 1001; ++i)
        images << QStringList{QStringLiteral("b%1").arg(i), QStringLiteral("b%1.png").arg(i), QString()};
    Site site;
    site.pages << PageBuilder("301", "Album").note("n1", "Vorher", "Text").gallery("g1", "Album", images);
    useSite(site);
    auto api = makeAPI();
    RecordingDelegate delegate;
    runImport(delegate, listedPages(*api), api);
    EXPECT_EQ(delegate.error ? delegate.error->localizedDescription : QString(), rows[3].error);
    EXPECT_EQ(noteStoreCalls(), QStringList()) << "a notebook was looked up or created";
    for (const QJsonValue &request : backpack->requests())
        EXPECT_FALSE(request["path"].toString().startsWith(QLatin1String("assets/"))) << "an image was downloaded";
}

// Another Leafhaul's lock of another account (another NoteStore URL) lets
// the import go ahead. A lock file that cannot be opened, or whose folder
// cannot be made, says which, why, and what to do.
TEST_F(ImporterTest, ImportLockOfAnotherAccountOrUnopenable)
{
    QUrl otherAccount = noteStore->noteStoreUrl();
    otherAccount.setPath(otherAccount.path() + QStringLiteral("2"));
    holdImportLock(otherAccount);
    EXPECT_TRUE(ImportLock::take(authenticationFor(noteStore->noteStoreUrl())));

    const QString application = AssetDownloader::applicationSupportPath();
    const QString locks = application + QStringLiteral("/Locks");
    const QString lock = ImportLock::filePath(authenticationFor(noteStore->noteStoreUrl()));
    const QString folderFailed = "The import could not begin: the folder “" + locks
                                 + "” for its lock file could not be created: ";
    const QString makeFolder = "Make sure that “" + locks
                               + "” is a folder of yours that you can write in, then import again.";
    const QString openFailed = "The import could not begin: its lock file “" + lock + "” could not be opened: ";
    const QString removeIt = "Remove “" + lock
                             + "”, which stands where Leafhaul keeps its lock file, then import again.";
    struct Row
    {
        QString file, folder, link; // made in this order, each when given
        QString description, suggestion;
    };
    for (const Row &row : {Row{locks, {}, {}, folderFailed + systemReason(ENOTDIR) + ".", makeFolder},
                           Row{{}, lock, {}, openFailed + systemReason(EISDIR) + ".", removeIt},
                           Row{locks + "/x", {}, lock, openFailed + systemReason(ELOOP) + ".", removeIt}}) {
        SCOPED_TRACE((row.file + row.folder + row.link).toStdString());
        QDir(application).removeRecursively();
        QFile::remove(application);
        QFile file(row.file);
        ASSERT_TRUE(
            (row.file.isEmpty() || (QDir().mkpath(QFileInfo(row.file).path()) && file.open(QIODevice::WriteOnly)))
            && (row.folder.isEmpty() || QDir().mkpath(row.folder))
            && (row.link.isEmpty() || QFile::link(row.file, row.link)));
        OptionalError error;
        EXPECT_FALSE(ImportLock::take(authenticationFor(noteStore->noteStoreUrl()), &error));
        EXPECT_EQ(error ? error->localizedDescription : QString(), row.description);
        EXPECT_EQ(error ? error->localizedRecoverySuggestion : QString(), row.suggestion);
    }
}

// The expired-token test looks at the domain as well as the code.
TEST(ImporterExpiredToken, NeedsDomainAndCode)
{
    struct Row
    {
        QString domain;
        long code;
        bool expired;
    };
    for (const Row &row :
         {Row{kLeafhaulErrorDomain, 9, true}, Row{kLeafhaulErrorDomain, 90, false},
          Row{SyncHttp::kURLErrorDomain, 9, false}, Row{QStringLiteral("NSPOSIXErrorDomain"), 9, false}}) {
        SCOPED_TRACE(row.domain.toStdString() + " " + std::to_string(row.code));
        EXPECT_EQ(isAuthenticationExpiredError(Error(row.domain, row.code)), row.expired);
    }
}

} // namespace
