// Asset downloads against the fake Backpack service: the sign-in per
// account, and what a failed download leaves.

#include "ImporterTestSupport.h"

#include "app/ImportLock.h"
#include "app/NoteBuilder.h"
#include "backpack/TGBackpackAssetDownloader.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace importertest;

namespace {

// Keeps what the downloader reported.
struct Outcome : AssetDownloaderDelegate
{
    QList<DownloadedAsset> assets;
    QList<Error> errors;
    void assetDownloader(AssetDownloader *, const DownloadedAsset &asset) override { assets << asset; }
    void assetDownloader(AssetDownloader *, const Error &error) override { errors << error; }
};

class AssetDownloads : public ImporterTest
{
protected:
    static QUrl assetURL(const QString &name, const std::shared_ptr<TGBackpackAPI> &api)
    {
        return NoteBuilder::assetURLForWidget(
            WidgetRecord{{"widgetType", "Image"}, {"backpackID", "x1"}, {"filename", name}}, api->accountURL());
    }

    // A stop check that watches, while the transfer runs and once after it,
    // whether the name ever lost the earlier copy (read through `earlier`)
    // and whether that copy's bytes ever changed; it stops the transfer
    // once a partial file holds some of the body, when asked to.
    struct Watch
    {
        QString path;
        int earlier;
        QByteArray before;
        bool stopMidway = false;
        bool lost = false, earlierWritten = false, stopped = false;

        bool check()
        {
            struct stat atName = {}, held = {};
            lost = lost || ::lstat(QFile::encodeName(path).constData(), &atName) != 0 || ::fstat(earlier, &held) != 0
                   || atName.st_ino != held.st_ino;
            QByteArray now(before.size(), 0);
            earlierWritten = earlierWritten || ::pread(earlier, now.data(), now.size(), 0) != now.size()
                             || now != before;
            const QFileInfo info(path);
            for (const QFileInfo &partial :
                 QDir(info.path()).entryInfoList({"." + info.fileName() + ".partial-*"}, QDir::Files | QDir::Hidden))
                stopped = stopped || (stopMidway && partial.size() > 0);
            return stopped;
        }
    };

    int signIns()
    {
        int n = 0;
        for (const QJsonValue &r : backpack->requests())
            n += r["path"].toString() == QLatin1String("authenticate");
        return n;
    }
};

// A non-2xx answer, or none, is an error and never the asset; a stop ends
// the transfer without a word. Either way the good copy from before keeps
// its name and its bytes throughout: the error body never stands under the
// asset's name nor goes into the earlier copy, whether an upload holds that
// copy or not.
TEST_F(AssetDownloads, ErrorAnswersAreNotAssets)
{
    Site site;
    site.assets.insert("x1/bild.png", bytesFor("bild", 4096));
    useSite(site);
    auto api = makeAPI();
    const QString path = AssetDownloader::assetsPath() + QStringLiteral("/x1/bild.png");
    struct Row
    {
        int status; // 0: the connection closes before the answer
        bool uploading;
        bool stop = false; // once half the body is on disk
    };
    for (const Row row : {Row{403, false}, Row{404, false}, Row{404, true}, Row{500, false}, Row{500, true},
                          Row{0, false}, Row{0, true}, Row{200, false, true}, Row{200, true, true}}) {
        SCOPED_TRACE(row.status);
        SCOPED_TRACE(row.uploading ? "uploading" : "");
        SCOPED_TRACE(row.stop ? "stopped" : "");
        Outcome good;
        ASSERT_TRUE(AssetDownloader(api, &good).startDownloadingFile(assetURL("bild.png", api)));
        ASSERT_TRUE(QFileInfo::exists(path));
        QFile earlier(path);
        ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
        if (row.uploading)
            ASSERT_EQ(::flock(earlier.handle(), LOCK_SH), 0);
        // A download goes out once more when its kept connection turns out closed.
        backpack->enqueue(QJsonObject{{"path", "assets/x1/as/bild.png"},
                                      {"status", row.status},
                                      {"body", row.stop ? QString(4096, u'n') : QStringLiteral("<h1>Fehler</h1>")},
                                      {"stall", row.stop ? 5 : 0.5},
                                      {"times", row.status ? 1 : 2}});
        Outcome outcome;
        AssetDownloader downloader(api, &outcome);
        Watch watch{path, earlier.handle(), bytesFor("bild", 4096), row.stop};
        downloader.setCancellationCheck([&watch] { return watch.check(); });
        EXPECT_TRUE(downloader.startDownloadingFile(assetURL("bild.png", api)));
        EXPECT_TRUE(outcome.assets.isEmpty()) << outcome.assets.value(0).path;
        if (row.stop) {
            EXPECT_TRUE(watch.stopped);
            EXPECT_TRUE(outcome.errors.isEmpty());
        } else {
            ASSERT_EQ(outcome.errors.size(), 1);
            EXPECT_EQ(outcome.errors[0].domain, SyncHttp::kURLErrorDomain);
        }
        if (row.status && !row.stop) {
            EXPECT_EQ(outcome.errors[0].code, SyncHttp::URLErrorBadServerResponse);
            EXPECT_EQ(outcome.errors[0].localizedDescription,
                      QStringLiteral("Backpack returned error code %1.").arg(row.status));
        }
        watch.check();
        EXPECT_FALSE(watch.lost) << "the earlier copy left the asset's name";
        EXPECT_FALSE(watch.earlierWritten) << "the error page went into the earlier copy";
        // What is left is the earlier copy at its name, nothing else.
        EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                  QStringList{QStringLiteral("bild.png")});
        QFile left(path);
        EXPECT_TRUE(left.open(QIODevice::ReadOnly) && left.readAll() == bytesFor("bild", 4096));
    }
}

// One sign-in per account (site and user). The shared cookie store holds one
// Backpack session, so after another account has signed in the first signs in
// again instead of downloading on the other's session.
TEST_F(AssetDownloads, SignInOncePerAccount)
{
    Site site;
    site.assets.insert(QStringLiteral("x1/a.txt"), QByteArray("a"));
    // The site's one user is `user`; the download is made as `as`.
    const auto download = [&](const QString &user, const QString &as, const QString &password = kPassword) {
        QJsonObject json = site.json();
        json["username"] = user;
        EXPECT_TRUE(backpack->setSite(json));
        auto api = makeAPI(as, password);
        Outcome outcome;
        const bool started = AssetDownloader(api, &outcome).startDownloadingFile(assetURL("a.txt", api));
        return started && outcome.errors.isEmpty() && outcome.assets.size() == 1;
    };
    const QString bea = QStringLiteral("bea");
    EXPECT_TRUE(download(kUser, kUser));
    EXPECT_TRUE(download(kUser, kUser));
    EXPECT_EQ(signIns(), 1);

    // bea signs in for herself and fails with her own (wrong) password
    // instead of riding on ann's session; a failed sign-in is tried again at
    // the next download, and leaves ann signed in.
    EXPECT_FALSE(download(kUser, bea, QStringLiteral("falsch")));
    EXPECT_EQ(signIns(), 2);
    EXPECT_TRUE(backpack->requests().last()["body"].toString().contains(QStringLiteral("username=bea")));
    EXPECT_FALSE(download(kUser, bea, QStringLiteral("falsch")));
    EXPECT_EQ(signIns(), 3);
    EXPECT_TRUE(download(kUser, kUser));
    EXPECT_EQ(signIns(), 3);

    EXPECT_TRUE(download(bea, bea));
    EXPECT_EQ(signIns(), 4);
    EXPECT_TRUE(download(kUser, kUser));
    EXPECT_EQ(signIns(), 5) << "ann downloaded on bea's session";
}

// A redirect is never followed: to the sign-in page (an expired session) it
// is an error naming the file, as is the sign-in page itself answered 200;
// without a Location it carries its status. Nothing is kept either way, and
// the earlier copy keeps the asset's name while the answer arrives.
TEST_F(AssetDownloads, RedirectsAndTheSignInPageAreNotAssets)
{
    Site site;
    site.assets.insert("x1/bild.png", bytesFor("bild", 4096));
    useSite(site);
    auto api = makeAPI();
    const QString path = AssetDownloader::assetsPath() + QStringLiteral("/x1/bild.png");
    struct Row
    {
        int status;
        QJsonObject headers;
        QString description;
        QString body = {};
    };
    const QString signInPage = QStringLiteral("Backpack answered the download of bild.png with its sign-in page.");
    for (const Row &row : {Row{300, {}, QStringLiteral("Backpack returned error code 300.")},
                           Row{304, {}, QStringLiteral("Backpack returned error code 304.")},
                           Row{302, {{"Location", "/login.html"}}, signInPage},
                           Row{302, {{"Location", "/login.html"}}, signInPage, "<a href=/login.html>Log in</a>"},
                           Row{200,
                               {{"Content-Disposition", "inline; filename=\"login.html\""}},
                               signInPage,
                               "<html><body><form action=/authenticate>Log in</form></body></html>"},
                           Row{301,
                               {{"Location", "https://elsewhere.example/bild.png"}},
                               QStringLiteral("Backpack returned error code 301.")}}) {
        SCOPED_TRACE(row.status);
        Outcome good;
        ASSERT_TRUE(AssetDownloader(api, &good).startDownloadingFile(assetURL("bild.png", api)));
        ASSERT_TRUE(QFileInfo::exists(path));
        QFile earlier(path);
        ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
        backpack->enqueue(QJsonObject{{"path", "assets/x1/as/bild.png"},
                                      {"status", row.status},
                                      {"headers", row.headers},
                                      {"body", row.body},
                                      {"stall", row.body.isEmpty() ? 0 : 0.5}});
        Outcome outcome;
        AssetDownloader downloader(api, &outcome);
        Watch watch{path, earlier.handle(), bytesFor("bild", 4096)};
        downloader.setCancellationCheck([&watch] { return watch.check(); });
        EXPECT_TRUE(downloader.startDownloadingFile(assetURL("bild.png", api)));
        EXPECT_TRUE(outcome.assets.isEmpty());
        ASSERT_EQ(outcome.errors.size(), 1);
        EXPECT_EQ(outcome.errors[0].code, SyncHttp::URLErrorBadServerResponse);
        EXPECT_EQ(outcome.errors[0].userInfo.value(QStringLiteral("status")).toInt(), row.status);
        EXPECT_EQ(outcome.errors[0].localizedDescription, row.description);
        watch.check();
        EXPECT_FALSE(watch.lost);
        EXPECT_FALSE(watch.earlierWritten);
        EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), QStringList{"bild.png"});
        QFile left(path);
        EXPECT_TRUE(left.open(QIODevice::ReadOnly) && left.readAll() == bytesFor("bild", 4096));
    }
    int signInPages = 0;
    for (const QJsonValue &r : backpack->requests())
        signInPages += r["path"].toString() == QLatin1String("login.html");
    EXPECT_EQ(signInPages, 0);
}

// The folders are the user's alone, and so are the files; a link at a
// file's or a folder's place is replaced, never written through. Partial
// files a crash left go; a new copy replaces the old one, which a reader
// holding it still reads whole. A cancelled download leaves the copy as it
// was; a folder at the file's name is refused before anything is sent.
TEST_F(AssetDownloads, FilesArePrivateAndNeverWrittenThroughALink)
{
    Site site;
    site.assets.insert("x2/bild.png", bytesFor("bild", 4096));
    site.assets.insert("x3/bild.png", bytesFor("bild", 10));
    useSite(site);
    auto api = makeAPI();
    const QString folder = AssetDownloader::assetsPath() + QStringLiteral("/x2");
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath(QStringLiteral("planted"));
    AssetDownloader::ensurePath(folder);
    ASSERT_TRUE(QFile::link(outside, folder + QStringLiteral("/bild.png")));
    const auto plant = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(QByteArray(8000, 'p')) == 8000;
    };
    for (const char *left : {"/.bild.png.partial-Ab12Cd", "/.bild.png.partial-zzzzzz", "/.other.png.partial-Ab12Cd"})
        ASSERT_TRUE(plant(folder + QLatin1String(left)));
    // An asset folder that is a link to a folder elsewhere.
    ASSERT_TRUE(QFile::link(elsewhere.path(), AssetDownloader::assetsPath() + QStringLiteral("/x3")));
    Outcome linked;
    ASSERT_TRUE(AssetDownloader(api, &linked)
                    .startDownloadingFile(NoteBuilder::assetURLForWidget(
                        WidgetRecord{{"widgetType", "Image"}, {"backpackID", "x3"}, {"filename", "bild.png"}},
                        api->accountURL())));
    ASSERT_EQ(linked.assets.size(), 1);
    EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    EXPECT_FALSE(QFileInfo(AssetDownloader::assetsPath() + QStringLiteral("/x3")).isSymLink());

    const QUrl url = NoteBuilder::assetURLForWidget(
        WidgetRecord{{"widgetType", "Image"}, {"backpackID", "x2"}, {"filename", "bild.png"}}, api->accountURL());
    Outcome outcome;
    ASSERT_TRUE(AssetDownloader(api, &outcome).startDownloadingFile(url));
    ASSERT_EQ(outcome.assets.size(), 1);
    // The digest taken on the way, of the bytes that arrived.
    EXPECT_EQ(outcome.assets[0].size, 4096);
    EXPECT_EQ(outcome.assets[0].md5.toHex(),
              QCryptographicHash::hash(bytesFor("bild", 4096), QCryptographicHash::Md5).toHex());
    EXPECT_FALSE(QFileInfo::exists(outside));
    EXPECT_FALSE(QFileInfo(outcome.assets[0].path).isSymLink());
    const auto mode = [](const QString &p) {
        struct stat st = {};
        return ::stat(QFile::encodeName(p).constData(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };
    EXPECT_EQ(mode(outcome.assets[0].path), 0600u);
    for (const QString &f : {AssetDownloader::applicationSupportPath(), AssetDownloader::assetsPath(), folder})
        EXPECT_EQ(mode(f), 0700u) << f.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral(".other.png.partial-Ab12Cd"), QStringLiteral("bild.png")}));
    QFile::remove(folder + QStringLiteral("/.other.png.partial-Ab12Cd"));

    // Downloaded again, shorter: a new file holds the new bytes alone (held
    // open, the old file's number cannot go to it); the old one is intact.
    const auto inode = [](const QString &p) {
        struct stat st = {};
        return ::stat(QFile::encodeName(p).constData(), &st) == 0 ? st.st_ino : 0;
    };
    QFile old(outcome.assets[0].path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    const auto before = inode(outcome.assets[0].path);
    site.assets.insert("x2/bild.png", bytesFor("neu", 1000));
    useSite(site);
    Outcome again;
    ASSERT_TRUE(AssetDownloader(api, &again).startDownloadingFile(url));
    ASSERT_EQ(again.assets.size(), 1);
    QFile reloaded(again.assets[0].path);
    ASSERT_TRUE(reloaded.open(QIODevice::ReadOnly));
    EXPECT_EQ(reloaded.readAll(), bytesFor("neu", 1000));
    EXPECT_NE(inode(again.assets[0].path), before);
    EXPECT_EQ(old.readAll(), bytesFor("bild", 4096));
    EXPECT_EQ(mode(again.assets[0].path), 0600u);

    Outcome cancelled;
    AssetDownloader downloader(api, &cancelled);
    downloader.setCancellationCheck([] { return true; });
    EXPECT_TRUE(downloader.startDownloadingFile(url));
    EXPECT_TRUE(cancelled.assets.isEmpty());
    EXPECT_TRUE(cancelled.errors.isEmpty());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"bild.png"});
    QFile stillThere(again.assets[0].path);
    EXPECT_TRUE(stillThere.open(QIODevice::ReadOnly) && stillThere.readAll() == bytesFor("neu", 1000));

    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("ordner.png")));
    const int requestsBefore = int(backpack->requests().size());
    OptionalError error;
    EXPECT_FALSE(AssetDownloader(api, nullptr)
                     .startDownloadingFile(
                         NoteBuilder::assetURLForWidget(
                             WidgetRecord{{"widgetType", "Image"}, {"backpackID", "x2"}, {"filename", "ordner.png"}},
                             api->accountURL()),
                         &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, SyncHttp::URLErrorCannotWriteToFile);
    EXPECT_TRUE(error->localizedDescription.contains(QStringLiteral("a folder has that name")));
    EXPECT_EQ(backpack->requests().size(), requestsBefore);
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/ordner.png")).isDir());
}

TEST_F(AssetDownloads, SignInRequestAndRefusals)
{
    useSite(Site{});
    auto api = makeAPI();
    AssetDownloader downloader(api, nullptr);
    // Each value form-encoded: the password's own "&", "=" and "+" stay in it.
    const QByteArray body = downloader.createURLRequestForLogin().body;
    const QList<QPair<QString, QString>> form = QUrlQuery(QString::fromUtf8(body)).queryItems(QUrl::FullyDecoded);
    EXPECT_EQ(form, (QList<QPair<QString, QString>>{
                        {"product", "backpack"}, {"subdomain", kSite}, {"username", kUser}, {"password", kPassword}}));

    struct Row
    {
        const char *name;
        int status;
        QJsonObject headers;
        QString reason;
    };
    for (const Row &row : {Row{"with Status header",
                               500,
                               {{"Status", "500 Internal Server Error"}},
                               QStringLiteral("500 Internal Server Error")},
                           Row{"without Status header", 503, {}, QString()}}) {
        SCOPED_TRACE(row.name);
        backpack->enqueue(QStringLiteral("authenticate"), row.status, QStringLiteral("nein"), row.headers);
        OptionalError error;
        EXPECT_FALSE(downloader.login(&error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, SyncHttp::kURLErrorDomain);
        EXPECT_EQ(error->code, row.status);
        EXPECT_EQ(error->localizedDescription, QStringLiteral("Backpack returned error code %1.").arg(row.status));
        EXPECT_EQ(error->localizedFailureReason, row.reason);
    }
    OptionalError error;
    EXPECT_TRUE(downloader.login(&error)) << (error ? error->toString() : QString());
}

TEST(AssetDownloaderPaths, SafePathComponent)
{
    struct Row
    {
        QString name;
        QString safe;
    };
    const QString han(80, u'中');
    for (const Row &row :
         {Row{"..", "__-9d891e73"}, Row{".", "_-3a52ce78"}, Row{"", ""}, Row{"...", "..."},
          Row{"../x", ".-72e4d01d._x"}, Row{"a\\b", "a_b-d0dcc0f2"},
          Row{QStringLiteral("zeile\nzwei\t"), "zeile_zwei_-c602e3d4"}, Row{"ä ö?#", "ä ö?#"},
          // One to one: a changed name never meets one that needed no change.
          Row{"k/1", "k_1-3437d2e8"}, Row{"k_1", "k_1"}, Row{"x/y.png", "x_y-bc111d35.png"},
          // A raw name in the tagged form of another is tagged in turn.
          Row{"k_1-3437d2e8", "k_1-3437d2e8-902850a5"}, Row{"x_y-bc111d35.png", "x_y-bc111d35-12216310.png"},
          Row{"k-3437d2eg.png", "k-3437d2eg.png"},
          // 255 bytes of UTF-8 at most, cut between characters; apart by the hash.
          Row{QString(85, u'中'), QString(85, u'中')}, Row{han + QString(10, u'中') + ".png", han + "-817f39c8.png"},
          Row{han + QString(9, u'中') + "文.png", han + "-7d08fd2d.png"}}) {
        SCOPED_TRACE(row.name.toStdString());
        EXPECT_EQ(AssetDownloader::safePathComponent(row.name), row.safe);
    }
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/tmp/leafhaul-test-data");
    EXPECT_EQ(AssetDownloader::assetsPath(), QStringLiteral("/tmp/leafhaul-test-data/Leafhaul/Assets"));
    qputenv("XDG_DATA_HOME", saved);
}

// The one data folder of the assets and of the lock: a relative
// XDG_DATA_HOME is ignored, and a HOME that is unset, empty, relative or "/"
// gives way to the account's home, never to the top of the file system.
TEST(AssetDownloaderPaths, DataFolder)
{
    const QByteArray home = qgetenv("HOME"), dataHome = qgetenv("XDG_DATA_HOME");
    const auto restore = qScopeGuard([&] { qputenv("HOME", home), qputenv("XDG_DATA_HOME", dataHome); });
    const struct passwd *entry = ::getpwuid(::geteuid());
    ASSERT_TRUE(entry && entry->pw_dir);
    const QString account = QDir::cleanPath(QFile::decodeName(entry->pw_dir));
    const QString accountData = account == "/" ? QString() : account + "/.local/share";
    struct Row
    {
        const char *home, *dataHome; // nullptr: unset
        QString data;
    };
    for (const Row &row : {Row{nullptr, nullptr, accountData}, Row{"/", nullptr, accountData},
                           Row{"//", nullptr, accountData}, Row{"", "", accountData}, Row{"home", nullptr, accountData},
                           Row{"", "data", accountData}, Row{"/tmp/h/", "data", "/tmp/h/.local/share"},
                           Row{"/tmp/h", "/", "/tmp/h/.local/share"}, Row{nullptr, "/tmp/d/", "/tmp/d"},
                           Row{"/..", "/a/../..", accountData}, Row{"/tmp/h/./x/..", nullptr, "/tmp/h/.local/share"}}) {
        SCOPED_TRACE(std::string("HOME=") + (row.home ? row.home : "(unset)")
                     + " XDG_DATA_HOME=" + (row.dataHome ? row.dataHome : "(unset)"));
        for (const auto &[name, value] : {std::pair("HOME", row.home), std::pair("XDG_DATA_HOME", row.dataHome)})
            value ? qputenv(name, value) : qunsetenv(name);
        const auto under = [&](const char *rest) { return row.data.isEmpty() ? QString() : row.data + rest; };
        EXPECT_EQ(AssetDownloader::assetsPath(), under("/Leafhaul/Assets"));
        EXPECT_EQ(TGBackpackAssetDownloader::assetsPath(), under("/Stowbird/Assets"));
        const QString lock = ImportLock::filePath(authenticationFor(QUrl("https://ravadido.test/notestore")));
        EXPECT_EQ(lock.left(lock.lastIndexOf(u'/')), under("/Leafhaul/Locks"));
    }
}

} // namespace
