// The fetcher against a real HTTP server on 127.0.0.1, on the path the
// sign-in uses: static cookie jar, redirects, challenges and the status rule.
#include "signin/WSKHTTPFetcher.h"

#include "foundation/SyncHttp.h"
#include "testsupport/LocalService.h"
#include "testsupport/TestCertificateAuthority.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTemporaryDir>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString kScript = QStringLiteral(TEST_DATA_DIR "/tests/fetcher_fake.py");

struct Result
{
    bool began = false;
    bool finished = false;
    QByteArray data;
    OptionalError error;
};

Result fetch(const std::shared_ptr<WSKHTTPFetcher> &fetcher)
{
    Result result;
    result.began = fetcher->beginFetchWithCompletionHandler([&](const QByteArray &data, const OptionalError &error) {
        result.finished = true;
        result.data = data;
        result.error = error;
    });
    EXPECT_TRUE(fetcher->waitForCompletionWithTimeout(30));
    return result;
}

// The request headers the echo path saw, by lower-case name (all values).
QMultiMap<QString, QString> echoedHeaders(const QByteArray &json)
{
    QMultiMap<QString, QString> headers;
    for (const QJsonValue &pair : QJsonDocument::fromJson(json).object().value(QStringLiteral("headers")).toArray())
        headers.insert(pair.toArray().at(0).toString().toLower(), pair.toArray().at(1).toString());
    return headers;
}

class FetcherLiveTest : public testing::Test
{
protected:
    void SetUp() override
    {
        WSKHTTPFetcher::staticCookieStorage()->removeAllCookies();
        ASSERT_TRUE(server.startPython(kScript)) << server.errorString().toStdString();
    }

    QString url(const QString &path, int port = 0) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port ? port : server.port()).arg(path);
    }

    LocalService server;
};

TEST_F(FetcherLiveTest, GetCarriesAuthorizationAndTheStaticJarsCookiesOnce)
{
    Result set = fetch(WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/setcookie?session=abc&theme=dark"))));
    ASSERT_FALSE(set.error) << set.error->toString().toStdString();
    EXPECT_EQ(WSKHTTPFetcher::staticCookieStorage()->cookies().size(), 2);

    HttpRequest request(url(QStringLiteral("/echo")));
    request.setHeader(QStringLiteral("Authorization"), QStringLiteral("OAuth oauth_token=\"t\""));
    auto fetcher = WSKHTTPFetcher::fetcherWithRequest(request);
    Result echo = fetch(fetcher);
    ASSERT_TRUE(echo.began);
    ASSERT_FALSE(echo.error) << echo.error->toString().toStdString();
    const auto headers = echoedHeaders(echo.data);
    EXPECT_EQ(headers.values(QStringLiteral("authorization")), QStringList{QStringLiteral("OAuth oauth_token=\"t\"")});
    EXPECT_EQ(headers.values(QStringLiteral("cookie")), QStringList{QStringLiteral("session=abc; theme=dark")});
    EXPECT_EQ(fetcher->statusCode(), 200);
    ASSERT_TRUE(fetcher->responseHeaders().has_value());
    EXPECT_FALSE(fetcher->isFetching());
}

TEST_F(FetcherLiveTest, RedirectKeepsCredentialsAndCookiesOnlyOnTheSameHost)
{
    LocalService other;
    ASSERT_TRUE(other.startPython(kScript)) << other.errorString().toStdString();
    WSKHTTPFetcher::staticCookieStorage()->setCookies(
        cookiesFromSetCookieHeaders({"jar=1"}, QUrl(url(QStringLiteral("/")))));
    // "localhost" is another host name for the same machine.
    for (const QString &target :
         {QStringLiteral("/echo"), QStringLiteral("http://localhost:%1/echo").arg(other.port())}) {
        SCOPED_TRACE(target.toStdString());
        const bool sameHost = target.startsWith(u'/');
        HttpRequest request(url(QStringLiteral("/redirect?to="))
                            + QString::fromLatin1(QUrl::toPercentEncoding(target)));
        request.setHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer x"));
        request.setHeader(QStringLiteral("Cookie"), QStringLiteral("mine=1"));
        auto fetcher = WSKHTTPFetcher::fetcherWithRequest(request);
        Result result = fetch(fetcher);
        ASSERT_FALSE(result.error) << result.error->toString().toStdString();
        const auto headers = echoedHeaders(result.data);
        EXPECT_EQ(headers.values(QStringLiteral("cookie")),
                  sameHost ? QStringList{QStringLiteral("mine=1; jar=1")} : QStringList());
        EXPECT_EQ(headers.values(QStringLiteral("authorization")),
                  sameHost ? QStringList{QStringLiteral("Bearer x")} : QStringList());
        EXPECT_TRUE(fetcher->mutableRequest()->url.endsWith(target));
    }
}

TEST_F(FetcherLiveTest, TwentyRedirectsAreFollowedAndTheTwentyFirstFails)
{
    const struct
    {
        int redirects;
        bool arrives;
    } cases[] = {{19, true}, {20, true}, {21, false}, {40, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.redirects);
        auto fetcher = WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/hops/%1").arg(c.redirects)));
        Result result = fetch(fetcher);
        ASSERT_TRUE(result.finished);
        if (c.arrives) {
            ASSERT_FALSE(result.error) << result.error->toString().toStdString();
            EXPECT_EQ(result.data, QByteArray("arrived"));
            EXPECT_TRUE(fetcher->mutableRequest()->url.endsWith(QStringLiteral("/hops/0")));
        } else {
            ASSERT_TRUE(result.error);
            EXPECT_TRUE(result.error->is(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorHTTPTooManyRedirects))
                << result.error->toString().toStdString();
            // The 21st redirect is refused, not followed.
            EXPECT_TRUE(fetcher->mutableRequest()->url.endsWith(QStringLiteral("/hops/%1").arg(c.redirects - 20)));
        }
    }
}

TEST_F(FetcherLiveTest, ErrorStatusCarriesItsBody)
{
    Result result = fetch(WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/status/401?body=denied"))));
    ASSERT_TRUE(result.error);
    EXPECT_TRUE(result.error->is(QString::fromLatin1(kWSKHTTPFetcherStatusDomain), 401));
    EXPECT_EQ(result.error->userInfo.value(QStringLiteral("data")).toByteArray(), QByteArray("denied"));
    EXPECT_EQ(result.data, QByteArray("denied"));
}

TEST_F(FetcherLiveTest, RefusedConnectionIsATransportError)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const int port = probe.serverPort();
    probe.close();
    Result result = fetch(WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/echo"), port)));
    ASSERT_TRUE(result.finished);
    ASSERT_TRUE(result.error);
    EXPECT_TRUE(result.error->is(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorCannotConnectToHost))
        << result.error->toString().toStdString();
    EXPECT_TRUE(result.data.isEmpty());
}

TEST(FetcherFileTest, AFileURLHasNoStatusAndSucceeds)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("page.txt")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("local");
    file.close();
    auto fetcher = WSKHTTPFetcher::fetcherWithURL(QUrl::fromLocalFile(file.fileName()));
    Result result = fetch(fetcher);
    ASSERT_FALSE(result.error) << result.error->toString().toStdString();
    EXPECT_EQ(result.data, QByteArray("local"));
    EXPECT_EQ(fetcher->statusCode(), 0);
    EXPECT_FALSE(fetcher->responseHeaders().has_value());

    Result missing = fetch(WSKHTTPFetcher::fetcherWithURL(QUrl::fromLocalFile(dir.filePath(QStringLiteral("none")))));
    ASSERT_TRUE(missing.error);
    EXPECT_EQ(missing.error->domain, SyncHttp::kURLErrorDomain);
}

TEST_F(FetcherLiveTest, ChallengeIsAnsweredWithTheCredentialOrEndsTheFetch)
{
    auto good = WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/basic")));
    good->setCredential(WSKURLCredential{QStringLiteral("user"), QStringLiteral("pw")});
    Result welcome = fetch(good);
    ASSERT_FALSE(welcome.error) << welcome.error->toString().toStdString();
    EXPECT_EQ(welcome.data, QByteArray("welcome"));

    Result unanswered = fetch(WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/basic"))));
    ASSERT_TRUE(unanswered.error);
    EXPECT_TRUE(unanswered.error->is(QString::fromLatin1(kWSKHTTPFetcherErrorDomain), -2))
        << unanswered.error->toString().toStdString();
    const auto challenge =
        unanswered.error->userInfo.value(QStringLiteral("challenge")).value<WSKAuthenticationChallenge>();
    EXPECT_EQ(challenge.realm, QStringLiteral("fake"));
    EXPECT_EQ(challenge.previousFailureCount, 0);

    // Qt gives up once the same credential is refused again; the server's
    // refusal then arrives as its status.
    auto wrong = WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/basic")));
    wrong->setCredential(WSKURLCredential{QStringLiteral("user"), QStringLiteral("wrong")});
    Result refused = fetch(wrong);
    ASSERT_TRUE(refused.error);
    EXPECT_TRUE(refused.error->is(QString::fromLatin1(kWSKHTTPFetcherStatusDomain), 401))
        << refused.error->toString().toStdString();
    EXPECT_EQ(refused.data, QByteArray("denied"));
}

TEST_F(FetcherLiveTest, PostSendsTheBodyAndReportsProgress)
{
    const QByteArray body(100000, 'b');
    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/echo")));
    fetcher->setPostData(body);
    qint64 lastTotal = 0;
    fetcher->setSentDataBlock([&](qint64, qint64 total, qint64) { lastTotal = total; });
    Result result = fetch(fetcher);
    ASSERT_FALSE(result.error);
    const QJsonObject echo = QJsonDocument::fromJson(result.data).object();
    EXPECT_EQ(echo.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    EXPECT_EQ(echo.value(QStringLiteral("body")).toString().size(), body.size());
    EXPECT_EQ(lastTotal, body.size());
}

TEST_F(FetcherLiveTest, DownloadToAFileMovesItIntoPlaceOnlyOnSuccess)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("asset.bin"));
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("stale");
    old.close();

    auto fetcher = WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/bytes/200000")));
    fetcher->setDownloadPath(target);
    quint64 progress = 0;
    fetcher->setReceivedDataBlock([&](const QByteArray &) { progress = fetcher->downloadedLength(); });
    Result result = fetch(fetcher);
    ASSERT_FALSE(result.error) << result.error->toString().toStdString();
    EXPECT_TRUE(result.data.isEmpty());
    EXPECT_EQ(progress, 200000u);
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    ASSERT_EQ(content.size(), 200000);
    for (int i : {0, 255, 256, 199999})
        EXPECT_EQ(quint8(content.at(i)), quint8(i % 256));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("asset.bin")});

    const QString missing = dir.filePath(QStringLiteral("missing.bin"));
    auto failing = WSKHTTPFetcher::fetcherWithURLString(url(QStringLiteral("/status/404?body=gone")));
    failing->setDownloadPath(missing);
    Result notFound = fetch(failing);
    ASSERT_TRUE(notFound.error);
    EXPECT_EQ(notFound.error->code, 404);
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("asset.bin")});
}

TEST(FetcherTlsTest, CertificatesAreVerifiedAndATrustedAuthorityIsAccepted)
{
    const TestCertificateAuthority &authority = TestCertificateAuthority::shared();
    ASSERT_TRUE(authority.isValid()) << authority.errorString().toStdString();
    LocalService server;
    ASSERT_TRUE(server.startPython(kScript, authority.serverArgs())) << server.errorString().toStdString();
    const QString target = QStringLiteral("https://127.0.0.1:%1/status/200?body=secure").arg(server.port());

    Result untrusted = fetch(WSKHTTPFetcher::fetcherWithURLString(target));
    ASSERT_TRUE(untrusted.error);
    EXPECT_EQ(untrusted.error->domain, SyncHttp::kURLErrorDomain) << untrusted.error->toString().toStdString();

    const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = original;
    trusting.addCaCertificates(QSslCertificate::fromPath(authority.caCertPath()));
    QSslConfiguration::setDefaultConfiguration(trusting);
    Result trusted = fetch(WSKHTTPFetcher::fetcherWithURLString(target));
    Result byName = fetch(WSKHTTPFetcher::fetcherWithURLString(
        QStringLiteral("https://localhost:%1/status/200?body=named").arg(server.port())));
    QSslConfiguration::setDefaultConfiguration(original);
    ASSERT_FALSE(trusted.error) << trusted.error->toString().toStdString();
    EXPECT_EQ(trusted.data, QByteArray("secure"));
    ASSERT_FALSE(byName.error) << byName.error->toString().toStdString();
    EXPECT_EQ(byName.data, QByteArray("named"));
}

TEST(FetcherExitTest, NothingOfTheNetworkOutlivesTheApplication)
{
    const TestCertificateAuthority &authority = TestCertificateAuthority::shared();
    ASSERT_TRUE(authority.isValid()) << authority.errorString().toStdString();
    LocalService server;
    ASSERT_TRUE(server.startPython(kScript, authority.serverArgs())) << server.errorString().toStdString();
    QProcess probe;
    probe.start(QStringLiteral(FETCHER_EXIT_PROBE),
                {QStringLiteral("https://127.0.0.1:%1/status/200?body=x").arg(server.port()), authority.caCertPath()});
    ASSERT_TRUE(probe.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(probe.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(probe.readAllStandardError());
    ASSERT_EQ(probe.exitCode(), 0) << err.toStdString();
    // A manager left open keeps its network thread, and closing its TLS
    // sockets after the application has gone makes Qt complain.
    const QStringList lines = out.trimmed().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << out.toStdString();
    EXPECT_EQ(lines.at(0).toStdString(), "threads left 0");
    // The fetch under way ended with the application, and its connection no
    // longer holds the fetcher.
    EXPECT_EQ(lines.at(1).toStdString(), "still fetching 0, other holders 0");
    EXPECT_FALSE(err.contains(QStringLiteral("QObject::connect"))) << err.toStdString();
}

} // namespace
