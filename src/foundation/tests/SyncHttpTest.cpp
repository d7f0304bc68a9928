#include "foundation/SyncHttp.h"
#include "foundation/Cookies.h"
#include "foundation/DownloadFiles.h"
#include "testsupport/LocalService.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

using namespace SyncHttp;

namespace {

class SyncHttpTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        const auto &ca = TestCertificateAuthority::shared();
        ASSERT_TRUE(setExtraCaFile(ca.caCertPath()));
        service = new LocalService;
        ASSERT_TRUE(service->startPython(QStringLiteral(TEST_DATA_DIR "/tests/http_fake.py"), ca.serverArgs()))
            << service->errorString().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete service;
        service = nullptr;
        setExtraCaFile({});
    }
    void SetUp() override { clearCookies(); }

    static QUrl url(const QString &path, const QString &host = QStringLiteral("127.0.0.1"))
    {
        return QUrl(QStringLiteral("https://%1:%2%3").arg(host).arg(service->port()).arg(path));
    }
    static Request get(const QString &path)
    {
        Request r;
        r.url = url(path);
        r.timeoutSeconds = 10;
        return r;
    }
    static QJsonObject echo(const Request &r)
    {
        OptionalError error;
        auto response = send(r, &error);
        EXPECT_TRUE(response) << (error ? error->toString().toStdString() : "");
        return response ? QJsonDocument::fromJson(response->body).object() : QJsonObject();
    }
    static QStringList cookiesSent(const Request &r)
    {
        QStringList cookies =
            headerOf(echo(r), QStringLiteral("Cookie")).split(QStringLiteral("; "), Qt::SkipEmptyParts);
        cookies.sort();
        return cookies;
    }
    static QString headerOf(const QJsonObject &echoed, const QString &name)
    {
        for (const auto &pair : echoed[QStringLiteral("headers")].toArray())
            if (pair.toArray()[0].toString().compare(name, Qt::CaseInsensitive) == 0)
                return pair.toArray()[1].toString();
        return {};
    }

    static LocalService *service;
};
LocalService *SyncHttpTest::service = nullptr;

TEST_F(SyncHttpTest, SendsMethodHeadersAndBodyAsGiven)
{
    struct Case
    {
        QByteArray method;
        QByteArray body;
    };
    const Case cases[] = {
        {"GET", ""},
        {"POST", "a=1&b=%26"},
        {"PUT", "<separator><name>x</name></separator>"},
        {"DELETE", "<request/>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.method.toStdString() + " " + c.body.toStdString());
        Request r = get(QStringLiteral("/echo"));
        r.method = c.method;
        r.body = c.body;
        r.headers = {{"Content-Type", "application/xml"}, {"X-Extra", "v1"}};
        const QJsonObject echoed = echo(r);
        EXPECT_EQ(echoed[QStringLiteral("method")].toString().toUtf8(), c.method);
        EXPECT_EQ(echoed[QStringLiteral("body")].toString().toUtf8(), c.body);
        EXPECT_EQ(headerOf(echoed, QStringLiteral("X-Extra")), QStringLiteral("v1"));
        if (c.method != "GET") {
            EXPECT_EQ(headerOf(echoed, QStringLiteral("Content-Type")), QStringLiteral("application/xml"));
        }
        EXPECT_TRUE(headerOf(echoed, QStringLiteral("Expect")).isEmpty());
    }
}

TEST_F(SyncHttpTest, ReturnsEveryStatusWithItsHeaders)
{
    for (int status : {200, 204, 503}) {
        SCOPED_TRACE(status);
        OptionalError error = Error(QStringLiteral("stale"), 1);
        auto response = send(get(QStringLiteral("/status/%1?Retry-After=12&Status=%1+Text").arg(status)), &error);
        ASSERT_TRUE(response);
        EXPECT_FALSE(error);
        EXPECT_EQ(response->status, status);
        EXPECT_EQ(response->header("retry-after"), "12");
        EXPECT_TRUE(response->hasHeader("STATUS"));
        EXPECT_TRUE(response->header("X-Missing").isNull());
        if (status != 204) {
            EXPECT_EQ(response->body, QByteArray("status ") + QByteArray::number(status));
        }
    }
}

TEST_F(SyncHttpTest, FollowsRedirectsAndReportsTheFinalUrl)
{
    auto response = send(get(QStringLiteral("/redirect?to=/status/201")));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 201);
    EXPECT_EQ(response->url.path(), QStringLiteral("/status/201"));
    EXPECT_FALSE(response->hasHeader("Location")); // headers of the last answer only

    Request r = get(QStringLiteral("/redirect?to=/status/201"));
    r.followRedirects = false;
    response = send(r);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 302);
}

TEST_F(SyncHttpTest, SuggestsAFileName)
{
    struct Case
    {
        QString path;
        QString expected;
    };
    const Case cases[] = {
        {"/disposition?cd=attachment%3B+filename%3D%22a+b.png%22", "a b.png"},
        {"/disposition?cd=attachment%3B+filename%3D%22x.txt%22%3B+filename*%3DUTF-8%27%27%25C3%25A9t%25C3%25A9.txt",
         QString::fromUtf8("été.txt")},
        {"/disposition?cd=inline", "disposition"},
        {"/redirect?to=/status/200/login.html", "login.html"},
        {"/status/200/some%20file.pdf", "some file.pdf"},
        {"/status/200/", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        auto response = send(get(c.path));
        ASSERT_TRUE(response);
        EXPECT_EQ(response->suggestedFilename(), c.expected);
    }
}

TEST_F(SyncHttpTest, TransportFailuresBecomeUrlErrors)
{
    QTcpServer closed; // a port that is surely not listening once closed
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 deadPort = closed.serverPort();
    closed.close();

    auto with = [](const QString &path, const std::function<void(Request &)> &edit) {
        Request r = get(path);
        edit(r);
        return r;
    };
    const QString http = QStringLiteral("http://127.0.0.1:%1/echo").arg(service->port());
    struct Case
    {
        QString name;
        Request request;
        long code;
    };
    const Case cases[] = {
        {"time-out", with("/slow", [](Request &r) { r.timeoutSeconds = 1; }), URLErrorTimedOut},
        // Bytes keep coming, too slowly: only the speed floor ends them
        // before the whole answer follows, after 5 s.
        {"trickled headers", with("/trickle/headers?every=0.2&seconds=5", [](Request &r) { r.lowSpeedSeconds = 1; }),
         URLErrorTimedOut},
        {"trickled body", with("/trickle/body?every=0.2&seconds=5", [](Request &r) { r.lowSpeedSeconds = 1; }),
         URLErrorTimedOut},
        {"refused", with("/echo", [&](Request &r) { r.url.setPort(deadPort); }), URLErrorCannotConnectToHost},
        {"closed without answer", get(QStringLiteral("/close")), URLErrorNetworkConnectionLost},
        {"unsupported scheme", with("/echo", [](Request &r) { r.url.setScheme("ftp"); }), URLErrorUnsupportedURL},
        {"redirect from https to http", get("/redirect?to=" + QString::fromLatin1(QUrl::toPercentEncoding(http))),
         URLErrorUnsupportedURL},
        {"no host", with("", [](Request &r) { r.url = QUrl(QStringLiteral("https:///path")); }), URLErrorBadURL},
        {"cancelled", with("/slow", [](Request &r) { r.isCancelled = [] { return true; }; }), URLErrorCancelled},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        OptionalError error;
        EXPECT_FALSE(send(c.request, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, kURLErrorDomain);
        EXPECT_EQ(error->code, c.code) << error->toString().toStdString();
        EXPECT_FALSE(error->localizedDescription.isEmpty());
        EXPECT_EQ(error->userInfo.value(kFailingURLStringKey).toString(), c.request.url.toString(QUrl::FullyEncoded));
    }
}

TEST_F(SyncHttpTest, UntrustedServerIsRefusedWithoutTheExtraCa)
{
    ASSERT_TRUE(setExtraCaFile({}));
    OptionalError error;
    EXPECT_FALSE(send(get(QStringLiteral("/echo")), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, URLErrorServerCertificateUntrusted);
    EXPECT_FALSE(setExtraCaFile(QStringLiteral("/nonexistent/ca.pem")));
    ASSERT_TRUE(setExtraCaFile(TestCertificateAuthority::shared().caCertPath()));
    EXPECT_TRUE(send(get(QStringLiteral("/echo")), &error));
    EXPECT_FALSE(error);
}

TEST(SyncHttpMapping, CurlResultsMapToUrlLoadingCodes)
{
    struct Case
    {
        int curl;
        long osErrno;
        long code;
    };
    const Case cases[] = {
        {CURLE_OPERATION_TIMEDOUT, 0, URLErrorTimedOut},
        {CURLE_COULDNT_CONNECT, ENETUNREACH, URLErrorNotConnectedToInternet},
        {CURLE_COULDNT_CONNECT, ECONNREFUSED, URLErrorCannotConnectToHost},
        {CURLE_COULDNT_RESOLVE_HOST, 0, URLErrorCannotFindHost},
        {CURLE_TOO_MANY_REDIRECTS, 0, URLErrorHTTPTooManyRedirects},
        {CURLE_PEER_FAILED_VERIFICATION, 0, URLErrorServerCertificateUntrusted},
        {CURLE_SSL_CONNECT_ERROR, 0, URLErrorSecureConnectionFailed},
        {CURLE_RECV_ERROR, 0, URLErrorNetworkConnectionLost},
        {CURLE_WEIRD_SERVER_REPLY, 0, URLErrorCannotParseResponse},
        {CURLE_WRITE_ERROR, 0, URLErrorCannotWriteToFile},
        {CURLE_OUT_OF_MEMORY, 0, URLErrorUnknown},
    };
    for (const Case &c : cases) {
        const Error e = transportError(c.curl, c.osErrno, QUrl(QStringLiteral("https://h/p")), "d");
        EXPECT_EQ(e.code, c.code) << c.curl;
        EXPECT_EQ(e.domain, kURLErrorDomain);
        EXPECT_EQ(e.userInfo.value(QStringLiteral("detail")).toString(), QStringLiteral("d"));
    }
}

TEST_F(SyncHttpTest, CookieStoreIsSharedAndEditable)
{
    ASSERT_TRUE(send(get(QStringLiteral("/setcookie?session=abc&write_token=w1"))));
    ASSERT_TRUE(send(get(QStringLiteral("/setcookie?only_secure=s&secure"))));
    EXPECT_EQ(cookiesSent(get(QStringLiteral("/echo"))),
              (QStringList{"only_secure=s", "session=abc", "write_token=w1"}));

    // Another thread sees the same store.
    QStringList fromThread;
    std::thread([&] { fromThread = cookiesSent(get(QStringLiteral("/echo"))); }).join();
    EXPECT_TRUE(fromThread.contains(QStringLiteral("session=abc")));

    EXPECT_EQ(cookiesForUrl(url(QStringLiteral("/pages/1"))).size(), 3);
    QUrl plain = url(QStringLiteral("/"));
    plain.setScheme(QStringLiteral("http"));
    EXPECT_EQ(cookiesForUrl(plain).size(), 2); // the secure one only over https
    EXPECT_TRUE(cookiesForUrl(url(QStringLiteral("/"), QStringLiteral("localhost"))).isEmpty());

    for (const Cookie &c : cookiesForUrl(url(QStringLiteral("/"))))
        if (c.name == QLatin1String("write_token"))
            deleteCookie(c);
    EXPECT_EQ(cookiesSent(get(QStringLiteral("/echo"))), (QStringList{"only_secure=s", "session=abc"}));

    // Below its domain, never to a name that merely ends like it.
    Request wide = get(QStringLiteral("/status/200?Set-Cookie=w%3Dd%3B%20Path%3D%2F%3B%20Domain%3Dtest.localhost"));
    wide.url.setHost(QStringLiteral("a.test.localhost"));
    ASSERT_TRUE(send(wide));
    EXPECT_EQ(cookiesForUrl(QUrl(QStringLiteral("https://b.test.localhost/"))).size(), 1);
    EXPECT_TRUE(cookiesForUrl(QUrl(QStringLiteral("https://badtest.localhost/"))).isEmpty());

    Request noCookies = get(QStringLiteral("/echo"));
    noCookies.useCookies = false;
    EXPECT_TRUE(cookiesSent(noCookies).isEmpty());

    clearCookies();
    EXPECT_TRUE(allCookies().isEmpty());
}

TEST_F(SyncHttpTest, StreamsBodiesToFilesAndKeepsTheOldFileOnFailure)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("asset.bin"));
    const qint64 size = 5 * 1024 * 1024 + 17;
    Request r = get(QStringLiteral("/bytes/%1").arg(size));
    r.downloadPath = path;
    auto response = send(r);
    ASSERT_TRUE(response);
    EXPECT_TRUE(response->body.isEmpty());
    EXPECT_EQ(response->bodySize, size);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    ASSERT_EQ(data.size(), size);
    for (qint64 i : {qint64(0), qint64(256), size - 1})
        EXPECT_EQ(quint8(data[i]), quint8(i % 256)) << i;

    // Cut, or ended by a close that no TLS close_notify vouches for.
    for (const char *cut : {"/close", "/unframed/20000?cut=10000", "/unframed/20000"}) {
        Request failing = get(QString::fromLatin1(cut));
        failing.downloadPath = path;
        OptionalError error;
        EXPECT_EQ(send(failing, &error) ? 0 : error->code, URLErrorNetworkConnectionLost) << cut;
        EXPECT_EQ(QFileInfo(path).size(), size);
    }

    // A file that cannot be made or written: the description names it, its
    // folder and the system's reason, which an alert shows with what to do
    // (these fail for root too).
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.bin")));
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    struct rlimit fileSize = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &fileSize), 0);
    const QString created = QStringLiteral("The file “%1” in the folder\n“%2”\ncould not be created: %3.");
    const QString written = QStringLiteral("The file “%1” in the folder\n“%2”\ncould not be written: %3.");
    struct
    {
        QString downloadPath;
        rlim_t maxFileBytes; // RLIMIT_FSIZE while it runs
        long code;
        QString reason;
        QString description;
        QString suggestion = {};
    } const cases[] = {
        // clang-format off
        {"missing/asset.bin", RLIM_INFINITY, URLErrorCannotCreateFile,  systemReason(ENOENT),  created},
        {"plain/asset.bin",   RLIM_INFINITY, URLErrorCannotCreateFile,  systemReason(ENOTDIR), created},
        {"asset.bin",         100000,        URLErrorCannotWriteToFile, systemReason(EFBIG),   written}, // write
        {"folder.bin",        RLIM_INFINITY, URLErrorCannotWriteToFile, "Is a directory",      written}, // rename
        {"/sys/asset.bin",    RLIM_INFINITY, URLErrorCannotCreateFile,  systemReason(EACCES),  created, "Allow yourself to write in that folder and import again."},
        // clang-format on
    };
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.downloadPath.toStdString());
        Request download = get(QStringLiteral("/bytes/300000"));
        download.downloadPath = QDir(dir.path()).filePath(c.downloadPath);
        struct rlimit limit = fileSize;
        limit.rlim_cur = std::min(c.maxFileBytes, fileSize.rlim_max);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        OptionalError error;
        EXPECT_FALSE(send(download, &error));
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, c.code);
        const QFileInfo named(download.downloadPath);
        EXPECT_EQ(error->localizedDescription, c.description.arg(named.fileName(), named.absolutePath(), c.reason));
        EXPECT_EQ(error->localizedRecoverySuggestion, c.suggestion);
        EXPECT_EQ(error->userInfo.value(QStringLiteral("detail")).toString(), c.reason);
    }
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(QFileInfo(path).size(), size);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"asset.bin", "folder.bin", "plain"}));
}

TEST_F(SyncHttpTest, ServesManyThreadsAtOnce)
{
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                Request r = get(QStringLiteral("/echo"));
                r.method = "POST";
                r.body = QByteArray::number(t * 100 + i);
                const QJsonObject echoed = echo(r);
                if (echoed[QStringLiteral("body")].toString().toUtf8() == r.body)
                    ++good;
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(good.load(), 40);
}

// Connections are kept, also for the next thread.
TEST_F(SyncHttpTest, KeepsConnectionsBetweenRequests)
{
    auto port = [](const Request &r) {
        const auto response = send(r);
        return response ? response->body : QByteArray("failed");
    };
    const QByteArray first = port(get(QStringLiteral("/conn")));
    EXPECT_EQ(port(get(QStringLiteral("/conn"))), first);
    QByteArray fromThread;
    std::thread([&] { fromThread = port(get(QStringLiteral("/conn"))); }).join();
    EXPECT_EQ(fromThread, first);

    // Host A, then B while A's request still runs, then A again: A's
    // connection is taken, though B's was the last one used.
    auto at = [&](const QString &host, const char *delay) {
        Request r = get(QStringLiteral("/conn?delay=") + QLatin1String(delay));
        r.url.setHost(host);
        return port(r);
    };
    QByteArray a, b;
    std::thread toA([&] { a = at(QStringLiteral("127.0.0.1"), "0.5"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::thread toB([&] { b = at(QStringLiteral("localhost"), "1"); });
    toA.join();
    toB.join();
    EXPECT_NE(a, b);
    EXPECT_EQ(at(QStringLiteral("127.0.0.1"), "0"), a);
}

// The server reads a request on a kept-alive connection, acts on it and
// closes without an answer. libcurl would send it again on a new
// connection; a request sent at most once fails instead.
TEST_F(SyncHttpTest, ARequestSentAtMostOnceIsNeverSentAgain)
{
    struct Case
    {
        bool atMostOnce;
        QByteArray method;
        QByteArray body;
        bool answered;
        int created;
        int idleMs = 0;
    };
    int key = 0;
    for (const Case &c : {Case{false, "POST", "<note/>", true, 2}, Case{true, "POST", "<note/>", false, 1},
                          // Without a body there is nothing to refuse to rewind:
                          // it goes out on a new connection, which is not dropped.
                          Case{true, "DELETE", "", true, 1},
                          // A server closes idle connections after some
                          // seconds, maybe just as the request goes out: one
                          // idle that long is not taken.
                          Case{true, "POST", "<note/>", true, 1, 2500}}) {
        SCOPED_TRACE(c.atMostOnce);
        SCOPED_TRACE(c.method.toStdString());
        const QString name = QStringLiteral("note%1").arg(++key);
        ASSERT_TRUE(send(get(QStringLiteral("/echo"))));
        Request arm = get(QStringLiteral("/arm-drop"));
        arm.method = "POST";
        ASSERT_TRUE(send(arm));
        std::this_thread::sleep_for(std::chrono::milliseconds(c.idleMs));
        Request create = get(QStringLiteral("/create/") + name);
        create.method = c.method;
        create.body = c.body;
        create.sendAtMostOnce = c.atMostOnce;
        OptionalError error;
        const auto response = send(create, &error);
        EXPECT_EQ(bool(response), c.answered);
        if (!c.answered) {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->code, URLErrorNetworkConnectionLost) << error->toString().toStdString();
        }
        const auto count = send(get(QStringLiteral("/count/") + name));
        ASSERT_TRUE(count);
        EXPECT_EQ(count->body.toInt(), c.created);
    }
}

TEST_F(SyncHttpTest, RepliesPastTheirLimitAreRefused)
{
    QTemporaryDir dir;
    struct Case
    {
        QString path;
        qint64 limit;
        bool toFile;
        bool accepted;
    };
    const Case cases[] = {
        {"/bytes/1000", 1000, false, true},       {"/bytes/1001", 1000, false, false}, // announced
        {"/chunked/300000", 300000, false, true}, {"/chunked/300001", 300000, false, false}, // found while arriving
        {"/chunked/300001", 300000, true, false}, {"/bytes/1001", 1000, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString() + (c.toFile ? " to a file" : ""));
        Request r = get(c.path);
        r.maxReplyBytes = c.limit;
        if (c.toFile)
            r.downloadPath = dir.filePath(QStringLiteral("reply"));
        OptionalError error;
        const auto response = send(r, &error);
        EXPECT_EQ(bool(response), c.accepted);
        if (!c.accepted) {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->code, URLErrorBadServerResponse) << error->toString().toStdString();
            EXPECT_EQ(error->userInfo.value(kMaxReplyBytesKey).toLongLong(), c.limit);
        }
        if (c.toFile) {
            EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
        }
    }
}

// ---- bodies read from files

// A file piece goes out as the file's bytes, again after a rewind (a 307
// sends the body anew); a file that holds fewer bytes than its piece, or
// cannot be read, ends the exchange with an error that names it.
TEST_F(SyncHttpTest, FilePiecesAreReadAsTheBodyGoesOut)
{
    QTemporaryFile file;
    const QByteArray content = QByteArray("0123456789abcdef").repeated(100000); // several reads
    ASSERT_TRUE(file.open() && file.write(content) == content.size() && file.flush());
    const QString name = file.fileName();
    const int writeOnly = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CLOEXEC);
    const struct
    {
        QString target;
        BodyPiece piece;
        QString failure;
    } cases[] = {
        {"/echo", {file.handle(), 10, 6, name}, {}},
        {"/redirect?status=307&to=/echo", {file.handle(), 0, content.size(), name}, {}},
        {"/echo", {file.handle(), 16, content.size(), name}, "The file %1 changed while it was being sent."},
        {"/echo", {writeOnly, 0, 4, name}, "The file %1 could not be read while it was being sent."},
    };
    for (const auto &c : cases) {
        Request r = get(c.target);
        r.method = "POST";
        r.bodyPieces = {std::string_view("<"), c.piece, std::string_view(">")};
        OptionalError error;
        const auto response = send(r, &error);
        ASSERT_EQ(bool(response), c.failure.isEmpty())
            << c.piece.offset << (error ? error->toString().toStdString() : "");
        if (response) {
            EXPECT_TRUE(QJsonDocument::fromJson(response->body)[QStringLiteral("body")].toString().toUtf8()
                        == "<" + content.mid(c.piece.offset, c.piece.length) + ">");
        } else {
            EXPECT_EQ(error->code, URLErrorRequestBodyStreamExhausted);
            EXPECT_EQ(error->localizedDescription.toStdString(), c.failure.arg(name).toStdString());
        }
    }
    ::close(writeOnly);
}

TEST_F(SyncHttpTest, RedirectsUpToTheLimit)
{
    EXPECT_TRUE(send(get(QStringLiteral("/chain/%1").arg(kMaxRedirects))));
    OptionalError error;
    EXPECT_FALSE(send(get(QStringLiteral("/chain/%1").arg(kMaxRedirects + 1)), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, URLErrorHTTPTooManyRedirects);
}

// A download lands 0600, replaces a link at its path instead of writing
// through it, hashes what it received, holds its partial file locked while
// it runs, and leaves nothing but the earlier copy when cancelled.
TEST_F(SyncHttpTest, DownloadsArePrivateAndNeverWriteThroughALink)
{
    QTemporaryDir dir, elsewhere;
    const QString outside = elsewhere.filePath(QStringLiteral("outside"));
    const QString path = dir.filePath(QStringLiteral("asset.bin"));
    ASSERT_TRUE(QFile::link(outside, path)); // dangling

    Request r = get(QStringLiteral("/bytes/300000"));
    r.downloadPath = path;
    r.hashBody = true;
    const auto response = send(r);
    ASSERT_TRUE(response);
    EXPECT_FALSE(QFileInfo::exists(outside));
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(response->md5, QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5));

    Request cancelled = get(QStringLiteral("/chunked/50000000"));
    cancelled.downloadPath = dir.filePath(QStringLiteral("big.bin"));
    cancelled.maxReplyBytes = 100000000;
    // Asked while the body arrives: a second descriptor of the partial file
    // cannot lock it, so no other download takes it up meanwhile.
    std::atomic<int> polls{0};
    QStringList lockedPartials;
    cancelled.isCancelled = [&] {
        for (const QString &name : QDir(dir.path()).entryList({".big.bin.partial-*"}, QDir::Files | QDir::Hidden)) {
            const int fd = ::open(QFile::encodeName(dir.filePath(name)).constData(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK
                && !lockedPartials.contains(name))
                lockedPartials << name;
            if (fd >= 0)
                ::close(fd);
        }
        return ++polls > 3;
    };
    OptionalError error;
    EXPECT_FALSE(send(cancelled, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, URLErrorCancelled);
    EXPECT_EQ(lockedPartials.size(), 1) << "the partial file was not locked while it was written";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("asset.bin")});

    // Cancelled before it starts: the earlier copy stays as it was.
    cancelled.downloadPath = path;
    cancelled.isCancelled = [] { return true; };
    EXPECT_FALSE(send(cancelled, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, URLErrorCancelled);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
              QStringList{QStringLiteral("asset.bin")});
    QFile kept(path);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(QCryptographicHash::hash(kept.readAll(), QCryptographicHash::Md5), response->md5);
}

// What stands at a download's name before it starts: the earlier copy is
// replaced, never written over, so a reader holding it keeps its bytes, and
// so does a second name of it. A leftover partial file of that name is
// written over, whatever its length; the other leftovers go, a FIFO among
// them included. Removing the partial files leaves the copies alone.
TEST_F(SyncHttpTest, EarlierCopiesAreReplacedNotWrittenOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("asset.bin"));
    const QString twin = dir.filePath(QStringLiteral("twin.bin"));
    const QString leftover = dir.filePath(QStringLiteral(".asset.bin.partial-left01"));
    const auto write = [](const QString &p, const QByteArray &bytes) {
        QFile f(p);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    const auto read = [](const QString &p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    };
    const auto inode = [](const QString &p) {
        struct stat st = {};
        return ::lstat(QFile::encodeName(p).constData(), &st) == 0 ? st.st_ino : 0;
    };
    const QByteArray old(700000, 'o');
    ASSERT_TRUE(write(path, old));
    ASSERT_TRUE(write(leftover, old));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral(".asset.bin.partial-fifo01"))).constData(), 0600),
              0);
    const auto leftoverInode = inode(leftover);
    QFile earlier(path);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    Request r = get(QStringLiteral("/bytes/1000"));
    r.downloadPath = path;
    ASSERT_TRUE(send(r));
    EXPECT_EQ(read(path).size(), 1000);
    EXPECT_EQ(inode(path), leftoverInode) << "the leftover partial file was not taken up";
    EXPECT_EQ(earlier.readAll(), old);
    const QStringList listed =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    EXPECT_TRUE(listed == QStringList{"asset.bin"} || listed == (QStringList{".asset.bin.partial-fifo01", "asset.bin"}))
        << listed.join(' ').toStdString();

    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(twin).constData()), 0);
    const QByteArray kept = read(twin);
    Request other = get(QStringLiteral("/chunked/1000")); // as long, other bytes
    other.downloadPath = path;
    const int removals = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(removals, QFile::encodeName(dir.path()).constData(), IN_DELETE), 0);
    ASSERT_TRUE(send(other));
    QByteArray removed(4096, 0); // events, each name between NULs
    removed.truncate(std::max<qsizetype>(0, ::read(removals, removed.data(), removed.size())));
    EXPECT_FALSE(removed.contains(QByteArray("\0asset.bin\0", 11))) << "the earlier copy was removed before the rename";
    ::close(removals);
    EXPECT_EQ(read(path), QByteArray(1000, 'x'));
    EXPECT_EQ(read(twin), kept);

    removePartialDownloads();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"asset.bin", "twin.bin"}));
}

TEST(SyncHttpFolders, DownloadFoldersArePrivate)
{
    QTemporaryDir dir;
    const QString deep = dir.filePath(QStringLiteral("Leafhaul/Assets/x1"));
    ASSERT_TRUE(makePrivateFolder(deep));
    for (const QString &folder : {dir.filePath(QStringLiteral("Leafhaul")), deep}) {
        struct stat st = {};
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder.toStdString();
    }
    EXPECT_TRUE(makePrivateFolder(deep));

    // Below a root, a link is replaced by a folder, never followed; a file
    // in the way, or at the end of the path, is refused.
    QTemporaryDir elsewhere;
    const QString root = dir.filePath(QStringLiteral("Leafhaul/Assets"));
    ASSERT_TRUE(QFile::link(elsewhere.path(), root + QStringLiteral("/x2")));
    EXPECT_TRUE(makePrivateFolder(root + QStringLiteral("/x2/inner"), root));
    EXPECT_FALSE(QFileInfo(root + QStringLiteral("/x2")).isSymLink());
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
    QFile plain(root + QStringLiteral("/x3"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    EXPECT_FALSE(makePrivateFolder(root + QStringLiteral("/x3/inner"), root));
    EXPECT_FALSE(makePrivateFolder(root + QStringLiteral("/x3"), root));
    EXPECT_FALSE(makePrivateFolder(root + QStringLiteral("/x3")));
    EXPECT_FALSE(makePrivateFolder(dir.filePath(QStringLiteral("other")), root));
}

// ---- answers a download turns down ----------------------------------------

// The caller decides on the final answer before its body is kept, while the
// earlier copy still stands at the name: one turned down never takes the
// name nor touches the earlier copy (its head comes back in memory, and no
// partial file stays); one kept replaces the copy, which a reader holding
// it (LOCK_SH) still reads whole.
TEST_F(SyncHttpTest, OnlyAcceptedAnswersReachTheDisk)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("asset.bin"));
    const QByteArray old(5000, 'o');
    struct Case
    {
        QString path;
        bool accept;
        bool reading; // a reader holds the earlier copy (LOCK_SH)
        QByteArray body; // in memory when turned down, else in the file
    };
    const Case cases[] = {
        {"/status/404", false, false, "status 404"},
        {"/bytes/300000", false, false, QByteArray(kRefusedBodyBytes, 0)},
        {"/status/204", false, false, ""}, // no body: asked at the end
        {"/redirect?to=/status/500", false, true, "status 500"},
        {"/chain/2", true, true, "end of chain"},
        {"/chain/1", true, false, "end of chain"},
        {"/unframed/20000?tls_close", true, false, QByteArray(20000, 'x')}, // a close TLS vouches for
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        QFile earlier(path);
        ASSERT_TRUE(earlier.open(QIODevice::ReadWrite) && earlier.write(old) == old.size() && earlier.flush());
        if (c.reading)
            ASSERT_EQ(::flock(earlier.handle(), LOCK_SH), 0);
        Request r = get(c.path);
        r.downloadPath = path;
        QList<Response> asked;
        r.acceptDownload = [&](const Response &answer) {
            EXPECT_EQ(QFileInfo(path).size(), old.size());
            asked << answer;
            return c.accept;
        };
        OptionalError error;
        const auto response = send(r, &error);
        ASSERT_TRUE(response) << error->toString().toStdString();
        ASSERT_EQ(asked.size(), 1);
        EXPECT_EQ(asked[0].status, response->status);
        EXPECT_EQ(asked[0].url, response->url);
        EXPECT_EQ(asked[0].headers, response->headers);
        QFile saved(path);
        const QByteArray atName = saved.open(QIODevice::ReadOnly) ? saved.readAll() : "(none)";
        const QByteArray body = c.accept ? atName : response->body;
        EXPECT_EQ(body.size(), c.body.size());
        if (c.path != "/bytes/300000")
            EXPECT_EQ(body, c.body);
        if (!c.accept)
            EXPECT_EQ(atName, old);
        QByteArray now(old.size(), 0);
        now.resize(std::max<qsizetype>(0, ::pread(earlier.handle(), now.data(), now.size(), 0)));
        EXPECT_EQ(now, old);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                  QStringList{QStringLiteral("asset.bin")});
    }
}

} // namespace
