#include "BackpackTestSupport.h"

#include "backpack/TGBackpackAssetDownloader.h"
#include "foundation/SystemLog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <mutex>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

const QString kLongName = QString(90, u'中') + ".txt"; // 274 bytes: too long for a file name

class CountingDelegate : public TGBackpackAssetDownloaderDelegate
{
public:
    void backpackAssetDownloaderDidFinish(TGBackpackAssetDownloader *) override { ++calls; }
    int calls = 0;
};

class DownloaderTest : public BackpackTest
{
protected:
    void SetUp() override
    {
        BackpackTest::SetUp();
        ASSERT_TRUE(dataHome.isValid());
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        TGBackpackAssetDownloader::forgetLogin();
        QJsonObject site = defaultSite();
        site["assets"] = QJsonObject{
            {"123/a.png", QJsonObject{{"text", "PNG-A"}, {"filename", "a.png"}}},
            {"124/b b.png", QJsonObject{{"text", "PNG-B"}}},
            {"125/x.txt", QJsonObject{{"text", "evil"}, {"filename", "../../escape.txt"}}},
            {"126/y.txt", QJsonObject{{"text", "dots"}, {"filename", ".."}}},
            {"../z.txt", QJsonObject{{"text", "z"}}},
            {"a%2F..%2F..%2Fb/z.txt", QJsonObject{{"text", "slashes"}}},
            {"128/c.png", QJsonObject{{"text", "PNG-C"}, {"filename", "c.png"}}},
            {"129/" + kLongName, QJsonObject{{"text", "long"}}},
        };
        ASSERT_TRUE(fake->setSite(site));
        setSystemLogObserver([this](const QString &line) {
            std::lock_guard lock(logMutex);
            log << line;
        });
    }
    void TearDown() override { setSystemLogObserver({}); }

    static std::shared_ptr<TGBackpackAccount> account(const QString &password = QStringLiteral("p&ss=w+rd% x"))
    {
        return std::make_shared<TGBackpackAccount>(QStringLiteral("acme"), QString::fromUtf8(kToken),
                                                   QStringLiteral("ann"), password);
    }
    static QUrl asset(const QString &path = QStringLiteral("assets/123/as/a.png"))
    {
        return QUrl(QStringLiteral("https://acme.%1/%2").arg(fake->domain(), path), QUrl::StrictMode);
    }
    // Turns the event loop until the delegate hears of the end (or a generous
    // guard passes, which fails the test).
    static void waitFor(const CountingDelegate &delegate, int calls = 1)
    {
        QDeadlineTimer guard(60000);
        while (delegate.calls < calls && !guard.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_EQ(delegate.calls, calls);
    }
    QString read(const QString &relative)
    {
        QFile f(QDir(TGBackpackAssetDownloader::assetsPath()).filePath(relative));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<missing>");
    }
    QStringList logLines()
    {
        std::lock_guard lock(logMutex);
        return log;
    }

    QTemporaryDir dataHome;
    std::mutex logMutex;
    QStringList log;
};

TEST_F(DownloaderTest, SignsInOnceAndSavesIntoTheAssetFolder)
{
    EXPECT_EQ(TGBackpackAssetDownloader::assetsPath(), dataHome.path() + "/Stowbird/Assets");
    CountingDelegate delegate;
    TGBackpackAssetDownloader first(account());
    first.setDelegate(&delegate);
    first.downloadURL(asset());
    waitFor(delegate);
    EXPECT_TRUE(first.finished());
    EXPECT_FALSE(first.downloadError());
    EXPECT_EQ(read("123/a.png"), QStringLiteral("PNG-A"));
    EXPECT_TRUE(TGBackpackAssetDownloader::isLoggedIn());

    // Another downloader rides on the same sign-in; a thumbnail address and
    // the name from the address when the server suggests none.
    TGBackpackAssetDownloader second(account());
    second.setDelegate(&delegate);
    second.downloadURL(asset("thumbs/124/as/b%20b.png"));
    waitFor(delegate, 2);
    EXPECT_FALSE(second.downloadError());
    EXPECT_EQ(read("124/b b.png"), QStringLiteral("PNG-B"));

    // A file downloaded again replaces the old copy in one step: its name
    // is never removed, not even for a moment.
    QJsonObject site = defaultSite();
    site["assets"] = QJsonObject{{"123/a.png", QJsonObject{{"text", "NEW"}, {"filename", "a.png"}}}};
    ASSERT_TRUE(fake->setSite(site));
    const int removals = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(removals, 0);
    ASSERT_GE(::inotify_add_watch(
                  removals, QFile::encodeName(TGBackpackAssetDownloader::assetsPath() + "/123").constData(), IN_DELETE),
              0);
    second.downloadURL(asset());
    waitFor(delegate, 3);
    EXPECT_EQ(read("123/a.png"), QStringLiteral("NEW"));
    alignas(inotify_event) char events[4096];
    const ssize_t eventBytes = ::read(removals, events, sizeof events);
    for (ssize_t at = 0; at < eventBytes;) {
        const auto *event = reinterpret_cast<const inotify_event *>(events + at);
        EXPECT_STRNE(event->len ? event->name : "", "a.png") << "the earlier copy was removed before the rename";
        at += ssize_t(sizeof(inotify_event) + event->len);
    }
    ::close(removals);
    EXPECT_EQ(QDir(TGBackpackAssetDownloader::assetsPath() + "/123").entryList(QDir::Files | QDir::Hidden),
              QStringList{"a.png"});

    EXPECT_EQ(paths(),
              (QStringList{"authenticate", "assets/123/as/a.png", "thumbs/124/as/b%20b.png", "assets/123/as/a.png"}));
    const QJsonObject signIn = fake->requests()[0].toObject();
    EXPECT_EQ(signIn["host"].toString(), "signin." + fake->domain());
    EXPECT_EQ(signIn["body"].toString(),
              QStringLiteral("product=backpack&subdomain=acme&username=ann&password=p%26ss%3Dw%2Brd%25%20x"));
    EXPECT_TRUE(logLines().contains("Successfully downloaded " + asset().toString()));
}

TEST_F(DownloaderTest, FailedSignInEndsTheDownloadAndIsTriedAgain)
{
    CountingDelegate delegate;
    TGBackpackAssetDownloader downloader(account(QStringLiteral("wrong")));
    downloader.setDelegate(&delegate);
    downloader.downloadURL(asset());
    EXPECT_EQ(delegate.calls, 1);
    EXPECT_TRUE(downloader.finished());
    ASSERT_TRUE(downloader.downloadError());
    const Error e = *downloader.downloadError();
    EXPECT_EQ(e.domain, SyncHttp::kURLErrorDomain);
    EXPECT_EQ(e.code, 401);
    EXPECT_EQ(e.localizedDescription, QStringLiteral("Backpack returned error code 401."));
    EXPECT_EQ(e.localizedFailureReason, QStringLiteral("401 Unauthorized"));
    EXPECT_TRUE(logLines().contains("Failed to login to download " + asset().toString()));
    EXPECT_FALSE(TGBackpackAssetDownloader::isLoggedIn());

    downloader.downloadURL(asset());
    EXPECT_EQ(delegate.calls, 2);
    EXPECT_EQ(paths(), (QStringList{"authenticate", "authenticate"}));

    // A sign-in answered 200 without a body is no sign-in either.
    ASSERT_TRUE(fake->enqueue("authenticate", 200, ""));
    TGBackpackAssetDownloader empty(account());
    empty.setDelegate(&delegate);
    empty.downloadURL(asset());
    EXPECT_EQ(delegate.calls, 3);
    EXPECT_TRUE(empty.finished());
    EXPECT_TRUE(empty.downloadError());
    EXPECT_FALSE(TGBackpackAssetDownloader::isLoggedIn());
    EXPECT_EQ(paths().count("assets/123/as/a.png"), 0);
}

TEST_F(DownloaderTest, NamesFromTheNetworkStayInsideTheAssetFolder)
{
    struct Case
    {
        const char *name;
        QString path;
        QString file;
        QString content;
        long code;
        QString description = {};
    };
    ASSERT_TRUE(QDir().mkpath(TGBackpackAssetDownloader::assetsPath() + "/128/c.png"));
    const Case cases[] = {
        {"suggested name with folders", "assets/125/as/x.txt", "125/.._.._escape-2c0d5704.txt", "evil", 0},
        {"suggested name of two dots", "assets/126/as/y.txt", "126/__-9d891e73", "dots", 0},
        {"folder of two dots", "assets/%2E%2E/as/z.txt", "__-9d891e73/z.txt", "z", 0},
        {"name over 255 bytes", "assets/129/as/" + QString::fromLatin1(QUrl::toPercentEncoding(kLongName)),
         "129/" + QString(80, u'中') + "-5aeddd8c.txt", "long", 0},
        {"folder with slashes", "assets/a%2F..%2F..%2Fb/as/z.txt", "a_.._.-2e0ee35e._b/z.txt", "slashes", 0},
        // An error page is not saved as the asset.
        {"asset the service lacks (404)", "assets/127/as/none.txt", "", "", SyncHttp::URLErrorBadServerResponse},
        {"no asset folder", "files/z.txt", "", "", SyncHttp::URLErrorBadURL},
        // The rename refuses: what stands at the name stays, and the alert
        // says why.
        {"name taken by a folder", "assets/128/as/c.png", "", "", SyncHttp::URLErrorCannotWriteToFile,
         "The file could not be written: " + systemReason(EISDIR) + "."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CountingDelegate delegate;
        TGBackpackAssetDownloader downloader(account());
        downloader.setDelegate(&delegate);
        downloader.downloadURL(asset(c.path));
        waitFor(delegate);
        EXPECT_TRUE(downloader.finished());
        if (c.code == 0) {
            EXPECT_FALSE(downloader.downloadError());
            EXPECT_EQ(read(c.file), c.content);
        } else {
            ASSERT_TRUE(downloader.downloadError());
            EXPECT_EQ(downloader.downloadError()->code, c.code);
            if (!c.description.isEmpty())
                EXPECT_EQ(downloader.downloadError()->localizedDescription, c.description);
            EXPECT_EQ(read(c.path.section('/', 1, 1) + "/" + c.path.section('/', -1)), QStringLiteral("<missing>"));
        }
    }
    // Nothing was written beside or above the assets folder.
    EXPECT_EQ(QDir(dataHome.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Stowbird"});
    EXPECT_EQ(QDir(dataHome.path() + "/Stowbird").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"Assets"});
    EXPECT_EQ(QDir(TGBackpackAssetDownloader::assetsPath() + "/126").entryList(QDir::Files | QDir::Hidden),
              QStringList{"__-9d891e73"});
    EXPECT_EQ(QDir(TGBackpackAssetDownloader::assetsPath() + "/128")
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"c.png"});
}

TEST_F(DownloaderTest, TimeOutsAreRetriedTwicePerDownloader)
{
    ASSERT_TRUE(
        fake->enqueue(QJsonObject{{"path", "assets/123/as/a.png"}, {"status", 200}, {"delay", 4}, {"times", 10}}));
    CountingDelegate delegate;
    TGBackpackAssetDownloader downloader(account());
    downloader.setTimeoutSeconds(1);
    downloader.setDelegate(&delegate);
    testing::internal::CaptureStdout();
    downloader.downloadURL(asset());
    waitFor(delegate);
    const QString out = QString::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_TRUE(downloader.finished());
    ASSERT_TRUE(downloader.downloadError());
    EXPECT_EQ(downloader.downloadError()->code, SyncHttp::URLErrorTimedOut);
    EXPECT_EQ(out.count("Retrying after time Out for " + asset().toString()), 2);
    EXPECT_TRUE(out.endsWith("Exceeded retries\n"));
    EXPECT_EQ(paths().count("assets/123/as/a.png"), 3);

    // The retries are spent for this object: the next time-out ends at once.
    downloader.downloadURL(asset());
    waitFor(delegate, 2);
    EXPECT_EQ(paths().count("assets/123/as/a.png"), 4);
    EXPECT_TRUE(logLines().last().startsWith("Download failed for "));
}

// No redirect is followed; the sign-in page (redirected to, or answered
// 200) and an answer without a Location are errors with their status, and
// nothing is kept. An error
// body never takes a name in the folder, not even before its end is
// handled, and an earlier copy stays as it was.
TEST_F(DownloaderTest, RedirectsAndTheSignInPageAreNoAssets)
{
    struct Row
    {
        int status;
        QJsonObject headers;
        bool signInPage;
        QString body = {};
    };
    const QString folder = TGBackpackAssetDownloader::assetsPath() + "/123";
    for (const Row &row : {Row{300, {}, false}, Row{304, {}, false}, Row{302, {{"Location", "/login.html"}}, true},
                           Row{404, {}, false, "<h1>missing</h1>"}, Row{500, {}, false, "<h1>broken</h1>"},
                           Row{302, {{"Location", "/login.html"}}, true, "<a href=/login.html>Log in</a>"},
                           Row{200,
                               {{"Content-Disposition", "inline; filename=\"login.html\""}},
                               true,
                               "<html><body><form action=/authenticate>Log in</form></body></html>"}}) {
        SCOPED_TRACE(row.status);
        CountingDelegate delegate;
        const bool earlier = !row.body.isEmpty();
        if (earlier) {
            TGBackpackAssetDownloader good(account());
            good.setDelegate(&delegate);
            good.downloadURL(asset());
            waitFor(delegate);
            ASSERT_EQ(read("123/a.png"), QStringLiteral("PNG-A"));
        }
        ASSERT_TRUE(fake->enqueue(QJsonObject{{"path", "assets/123/as/a.png"},
                                              {"status", row.status},
                                              {"headers", row.headers},
                                              {"body", row.body},
                                              {"stall", earlier ? 0.5 : 0}}));
        TGBackpackAssetDownloader downloader(account());
        downloader.setDelegate(&delegate);
        downloader.downloadURL(asset());
        // The answer ends while no event is handled: what stands in the
        // folder then is what a kill would leave.
        const QStringList kept = earlier ? QStringList{"a.png"} : QStringList{};
        QStringList named;
        for (QDeadlineTimer watch(1000); !watch.hasExpired(); QThread::msleep(10))
            for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
                if (!name.contains(QStringLiteral(".partial-")) && !named.contains(name))
                    named << name;
        EXPECT_EQ(named.join(' '), kept.join(' '));
        waitFor(delegate, earlier ? 2 : 1);
        const OptionalError error = downloader.downloadError();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, SyncHttp::URLErrorBadServerResponse);
        EXPECT_EQ(error->userInfo.value(QStringLiteral("status")).toInt(), row.status);
        EXPECT_EQ(error->localizedDescription.contains(QStringLiteral("a.png")), row.signInPage);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), kept);
        if (earlier)
            EXPECT_EQ(read("123/a.png"), QStringLiteral("PNG-A"));
    }
    EXPECT_FALSE(paths().contains(QStringLiteral("login.html")));
}

TEST_F(DownloaderTest, CancelStopsWithoutTellingTheDelegate)
{
    ASSERT_TRUE(fake->enqueue(QJsonObject{{"path", "assets/123/as/a.png"}, {"status", 200}, {"delay", 20}}));
    CountingDelegate delegate;
    TGBackpackAssetDownloader downloader(account());
    downloader.setDelegate(&delegate);
    downloader.downloadURL(asset());
    QDeadlineTimer guard(30000);
    while (!paths().contains("assets/123/as/a.png") && !guard.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    downloader.cancel();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(downloader.finished());
    EXPECT_EQ(delegate.calls, 0);
    EXPECT_TRUE(QDir(TGBackpackAssetDownloader::assetsPath() + "/123").entryList(QDir::Files | QDir::Hidden).isEmpty());
}

} // namespace
