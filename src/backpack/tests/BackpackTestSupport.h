#pragma once

#include "BackpackFake.h"
#include "backpack/TGBackpackAPI.h"
#include "foundation/Cookies.h"
#include "foundation/SyncHttp.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

inline std::ostream &operator<<(std::ostream &os, const QString &s)
{
    return os << s.toStdString();
}

// One fake Backpack service per test process; every test starts from the
// default site, no canned answers, no cookies.
class BackpackTest : public ::testing::Test
{
protected:
    static constexpr const char *kToken = "T0k&<n>";

    static QJsonObject defaultSite()
    {
        return QJsonObject{
            {"sitename", "acme"},
            {"token", kToken},
            {"username", "ann"},
            {"password", "p&ss=w+rd% x"},
            {"pages", QJsonArray{QJsonObject{{"id", "7"},
                                             {"title", "Home &amp; Away"},
                                             {"scope", "private"},
                                             {"xml", BackpackFake::pageDocument("<belongings>\n</belongings>")}},
                                 QJsonObject{{"id", "8"}, {"title", "Second"}, {"scope", "public"}}}},
            {"items", QJsonObject{{"7/9", "<item id=\"i1\" completed=\"false\" list_id=\"9\">one</item>"
                                          "<item id=\"i2\" completed=\"true\" list_id=\"9\">two</item>"
                                          "<item id=\"it's\" completed=\"false\" list_id=\"9\">three</item>"}}},
        };
    }

    static void SetUpTestSuite()
    {
        fake = new BackpackFake;
        ASSERT_TRUE(fake->start()) << fake->errorString();
    }
    static void TearDownTestSuite()
    {
        delete fake;
        fake = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(fake);
        ASSERT_TRUE(fake->reset()) << fake->errorString();
        ASSERT_TRUE(fake->setSite(defaultSite())) << fake->errorString();
        SyncHttp::clearCookies();
    }

    // A client whose retries wait for nothing: the waits are recorded.
    std::unique_ptr<TGBackpackAPI> makeAPI(const QString &sitename = QStringLiteral("acme"))
    {
        auto api = std::make_unique<TGBackpackAPI>(sitename, QString::fromUtf8(kToken), QStringLiteral("ann"),
                                                   QStringLiteral("p&ss=w+rd% x"));
        TGBackpackAPI::RetryPolicy policy;
        policy.sleeper = [this](int seconds) {
            waits.append(seconds);
            return true;
        };
        api->setRetryPolicy(policy);
        return api;
    }

    QStringList paths()
    {
        QStringList result;
        for (const auto &r : fake->requests())
            result << r.toObject()["path"].toString();
        return result;
    }
    static long errorCode(const TGBackpackAPI &api) { return api.error() ? api.error()->code : 0; }

    QList<int> waits;
    static inline BackpackFake *fake = nullptr;
};
