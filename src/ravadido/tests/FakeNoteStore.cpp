#include "FakeNoteStore.h"

#include "foundation/SyncHttp.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

bool FakeNoteStore::start(const Options &options)
{
    m_tls = options.tls;
    QStringList args;
    if (m_tls) {
        const TestCertificateAuthority &ca = TestCertificateAuthority::shared();
        if (!ca.isValid() || !SyncHttp::setExtraCaFile(ca.caCertPath())) {
            m_error = QStringLiteral("no test CA: ") + ca.errorString();
            return false;
        }
        args += ca.serverArgs();
    }
    if (!options.token.isEmpty())
        args += {QStringLiteral("--token"), options.token};
    if (!m_service.startPython(QStringLiteral(LEAFHAUL_SOURCE_DIR "/src/ravadido/tests/fake_notestore.py"), args)) {
        m_error = m_service.errorString();
        return false;
    }
    return true;
}

QUrl FakeNoteStore::noteStoreUrl() const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2/ruru/notestore")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(m_service.port()));
}

QJsonValue FakeNoteStore::control(const QByteArray &method, const QString &what, const QJsonObject &body)
{
    SyncHttp::Request request;
    request.method = method;
    request.url = noteStoreUrl().resolved(QUrl(QStringLiteral("/control/") + what));
    request.useCookies = false;
    // The state and the request log carry every body, the largest a note may hold included.
    request.maxReplyBytes = qint64(1) << 30;
    if (method == "POST") {
        request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        request.headers = {{"Content-Type", "application/json"}};
    }
    OptionalError error;
    const auto response = SyncHttp::send(request, &error);
    if (!response || response->status != 200) {
        ADD_FAILURE() << "fake NoteStore control " << what.toStdString() << " failed: "
                      << (error ? error->toString().toStdString() : "status " + std::to_string(response->status));
        return {};
    }
    const QJsonDocument doc = QJsonDocument::fromJson(response->body);
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

QJsonObject FakeNoteStore::state()
{
    return control("GET", QStringLiteral("state")).toObject();
}

QJsonArray FakeNoteStore::requests()
{
    return control("GET", QStringLiteral("requests")).toArray();
}

QString FakeNoteStore::addNotebook(const QString &name, const QString &stack)
{
    QJsonObject notebook{{QStringLiteral("name"), name}};
    if (!stack.isEmpty())
        notebook.insert(QStringLiteral("stack"), stack);
    const QJsonObject answer =
        control("POST", QStringLiteral("seed"), {{QStringLiteral("notebooks"), QJsonArray{notebook}}}).toObject();
    return answer.value(QStringLiteral("notebooks")).toArray().at(0).toString();
}

QStringList FakeNoteStore::addNotes(const QString &notebookGuid, const QStringList &titles)
{
    QJsonArray notes;
    for (const QString &title : titles)
        notes.append(QJsonObject{{QStringLiteral("notebookGuid"), notebookGuid}, {QStringLiteral("title"), title}});
    const QJsonObject answer = control("POST", QStringLiteral("seed"), {{QStringLiteral("notes"), notes}}).toObject();
    QStringList guids;
    for (const QJsonValue &guid : answer.value(QStringLiteral("notes")).toArray())
        guids.append(guid.toString());
    return guids;
}

void FakeNoteStore::injectFault(const QString &call, QJsonObject fault, int times)
{
    fault.insert(QStringLiteral("call"), call);
    fault.insert(QStringLiteral("times"), times);
    control("POST", QStringLiteral("fault"), fault);
}

void FakeNoteStore::setToken(const QString &token)
{
    control("POST", QStringLiteral("token"),
            {{QStringLiteral("token"), token.isEmpty() ? QJsonValue() : QJsonValue(token)}});
}

void FakeNoteStore::reset()
{
    control("POST", QStringLiteral("reset"));
}
