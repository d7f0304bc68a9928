#include "FakeProvider.h"

#include "signin/RavadidoSignInValues.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

namespace {

// The token fetches and the page trust what the process's TLS configuration
// trusts: add the test's CA to it, once.
bool trustCA(QString *error)
{
    static bool trusted = false;
    if (trusted)
        return true;
    const TestCertificateAuthority &authority = TestCertificateAuthority::shared();
    const QList<QSslCertificate> ca = QSslCertificate::fromPath(authority.caCertPath());
    if (!authority.isValid() || ca.isEmpty()) {
        *error = QStringLiteral("no test CA: ") + authority.errorString();
        return false;
    }
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.addCaCertificates(ca);
    QSslConfiguration::setDefaultConfiguration(conf);
    trusted = true;
    return true;
}

} // namespace

FakeProvider::FakeProvider(QStringList faults) : m_faults(std::move(faults)) {}

bool FakeProvider::start()
{
    QStringList args = TestCertificateAuthority::shared().serverArgs();
    args << QStringList{QStringLiteral("--consumer-key"),
                        QString::fromLatin1(RavadidoSignInValues::kConsumerKey),
                        QStringLiteral("--consumer-secret"),
                        QString::fromLatin1(RavadidoSignInValues::kConsumerSecret),
                        QStringLiteral("--scope"),
                        QString::fromLatin1(RavadidoSignInValues::kScope),
                        QStringLiteral("--log"),
                        m_dir.filePath(QStringLiteral("requests.jsonl"))};
    for (const QString &fault : m_faults)
        args << QStringLiteral("--fault") << fault;
    if (!m_accessToken.isEmpty())
        args << QStringLiteral("--access-token") << m_accessToken;
    if (!m_noteStoreUrl.isEmpty())
        args << QStringLiteral("--note-store") << m_noteStoreUrl.toString();
    if (!trustCA(&m_error))
        return false;
    if (!m_service.startPython(QStringLiteral(TEST_DATA_DIR "/tests/fake_oauth_provider.py"), args)) {
        m_error = m_service.errorString();
        return false;
    }
    qputenv(RavadidoSignInValues::kServiceHostVariable, host().toUtf8());
    return true;
}

QString FakeProvider::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_service.port());
}

QList<QJsonObject> FakeProvider::requests() const
{
    QList<QJsonObject> entries;
    QFile file(m_dir.filePath(QStringLiteral("requests.jsonl")));
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty())
            entries << QJsonDocument::fromJson(line).object();
    }
    return entries;
}

QList<QJsonObject> FakeProvider::requests(const QString &step) const
{
    QList<QJsonObject> entries;
    for (const QJsonObject &entry : requests())
        if (entry.value(QStringLiteral("step")).toString() == step)
            entries << entry;
    return entries;
}

QUrl FakeProvider::approve(const QString &requestToken)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QStringLiteral("https://%1/OAuth.action").arg(host())));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = manager.post(request, "oauth_token=" + QUrl::toPercentEncoding(requestToken));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    const QUrl location = QUrl(QString::fromUtf8(reply->rawHeader("Location")));
    reply->deleteLater();
    return location;
}
