#pragma once

#include "testsupport/LocalService.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// A running fake Backpack service (backpack_fake.py) for tests of the client
// and of the importer. start() also trusts the test CA in the HTTP layer and
// points the client settings (LEAFHAUL_BACKPACK_DOMAIN and
// LEAFHAUL_BACKPACK_SIGNIN_HOST) at the fake; the site description and the
// canned answers are documented in backpack_fake.py.
class BackpackFake
{
public:
    bool start(const QJsonObject &site = {});
    void stop() { m_service.stop(); }
    QString errorString() const { return m_error; }
    int port() const { return m_service.port(); }
    // "test.localhost:<port>": the service domain that follows the site name.
    QString domain() const;

    bool setSite(const QJsonObject &site);
    // Answers the next request(s) for `path` with the canned answer.
    bool enqueue(const QJsonObject &answer);
    bool enqueue(const QString &path, int status, const QString &body = {}, const QJsonObject &headers = {},
                 int times = 1);
    // Every request the fake has seen since the start or the last reset().
    QJsonArray requests();
    bool reset();

    // A page-details answer around the given inner elements.
    static QString pageDocument(const QString &inner);

private:
    bool control(const QByteArray &method, const QString &what, const QByteArray &body, QByteArray *answer = nullptr);

    LocalService m_service;
    QString m_error;
};
