#include "BackpackFake.h"

#include "foundation/SyncHttp.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QJsonDocument>

bool BackpackFake::start(const QJsonObject &site)
{
    const TestCertificateAuthority &ca = TestCertificateAuthority::shared();
    if (!ca.isValid() || !SyncHttp::setExtraCaFile(ca.caCertPath())) {
        m_error = QStringLiteral("test CA unusable: ") + ca.errorString();
        return false;
    }
    if (!m_service.startPython(QStringLiteral(LEAFHAUL_BACKPACK_FAKE), ca.serverArgs())) {
        m_error = m_service.errorString();
        return false;
    }
    qputenv("LEAFHAUL_BACKPACK_DOMAIN", domain().toUtf8());
    qputenv("LEAFHAUL_BACKPACK_SIGNIN_HOST", QStringLiteral("signin.%1").arg(domain()).toUtf8());
    return site.isEmpty() || setSite(site);
}

QString BackpackFake::domain() const
{
    return QStringLiteral("test.localhost:%1").arg(port());
}

bool BackpackFake::control(const QByteArray &method, const QString &what, const QByteArray &body, QByteArray *answer)
{
    SyncHttp::Request r;
    r.method = method;
    r.url = QUrl(QStringLiteral("https://127.0.0.1:%1/_fake/%2").arg(port()).arg(what));
    r.body = body;
    r.useCookies = false;
    r.timeoutSeconds = 10;
    OptionalError error;
    const auto response = SyncHttp::send(r, &error);
    if (!response || response->status != 200) {
        m_error = error ? error->toString() : QStringLiteral("control %1 answered %2").arg(what).arg(response->status);
        return false;
    }
    if (answer)
        *answer = response->body;
    return true;
}

bool BackpackFake::setSite(const QJsonObject &site)
{
    return control("POST", QStringLiteral("site"), QJsonDocument(site).toJson(QJsonDocument::Compact));
}

bool BackpackFake::enqueue(const QJsonObject &answer)
{
    return control("POST", QStringLiteral("enqueue"), QJsonDocument(answer).toJson(QJsonDocument::Compact));
}

bool BackpackFake::enqueue(const QString &path, int status, const QString &body, const QJsonObject &headers, int times)
{
    return enqueue(
        QJsonObject{{"path", path}, {"status", status}, {"body", body}, {"headers", headers}, {"times", times}});
}

QJsonArray BackpackFake::requests()
{
    QByteArray answer;
    if (!control("GET", QStringLiteral("requests"), {}, &answer))
        return {};
    return QJsonDocument::fromJson(answer).array();
}

bool BackpackFake::reset()
{
    return control("POST", QStringLiteral("reset"), {});
}

QString BackpackFake::pageDocument(const QString &inner)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<response success=\"true\">\n") + inner
           + QStringLiteral("\n</response>\n");
}
