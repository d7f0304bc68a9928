#include "BackpackTestSupport.h"

#include "backpack/TGBackpackAccount.h"
#include "backpack/TGBackpackPage.h"

namespace {

TEST_F(BackpackTest, PageListReadsEveryPageInOrder)
{
    struct Case
    {
        const char *name;
        bool compact;
        QJsonArray pages;
        QStringList expected;
    };
    const Case cases[] = {
        {"indented", false, defaultSite()["pages"].toArray(), {"7|Home &amp; Away|private", "8|Second|public"}},
        {"compact", true, defaultSite()["pages"].toArray(), {"7|Home &amp; Away|private", "8|Second|public"}},
        {"missing title and scope", false, QJsonArray{QJsonObject{{"id", "3"}}}, {"3|<null>|<null>"}},
        {"no pages", false, QJsonArray{}, {}},
        {"characters XML forbids",
         false,
         QJsonArray{QJsonObject{{"id", "4"}, {"title", "a\u0001b\u001f"}}},
         {"4|a\uFFFDb\uFFFD|<null>"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QJsonObject site = defaultSite();
        site["compact"] = c.compact;
        site["pages"] = c.pages;
        ASSERT_TRUE(fake->setSite(site));
        auto api = makeAPI();
        const auto pages = api->pages();
        ASSERT_TRUE(pages);
        EXPECT_FALSE(api->error());
        QStringList got;
        for (const auto &p : *pages) {
            auto text = [](const QString &s) { return s.isNull() ? QStringLiteral("<null>") : s; };
            got << text(p->backpackID()) + "|" + text(p->title()) + "|" + text(p->scope());
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST_F(BackpackTest, ReadsReturnDocumentsOrErrors)
{
    auto api = makeAPI();
    auto page = api->page("7");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->nodes(".//belongings").value().size(), 1);
    EXPECT_FALSE(api->page("404"));
    EXPECT_EQ(errorCode(*api), 404);

    auto item = api->itemWithID("it's", "9", "7"); // an apostrophe does not break the search
    ASSERT_TRUE(item);
    EXPECT_EQ(xml::textContent(item->second), QStringLiteral("three"));
    EXPECT_FALSE(api->itemWithID("nope", "9", "7"));
    EXPECT_FALSE(api->error());
}

TEST_F(BackpackTest, WrongTokenOrPasswordIsTheLoginError)
{
    TGBackpackAPI api(QStringLiteral("acme"), QStringLiteral("wrong"), QStringLiteral("ann"), QStringLiteral("other"));
    EXPECT_FALSE(api.pages());
    EXPECT_EQ(errorCode(api), TGBackpackLoginError);
    EXPECT_FALSE(api.deleteNote("n1", "7"));
    EXPECT_EQ(errorCode(api), TGBackpackLoginError);
    EXPECT_FALSE(api.login());
    EXPECT_EQ(errorCode(api), TGBackpackLoginError);
}

TEST_F(BackpackTest, WriteCallsCountAMissingRecordAsSuccess)
{
    auto api = makeAPI();
    // Unknown page: the service answers the 404 error element.
    EXPECT_TRUE(api->deleteNote("n1", "404"));
    EXPECT_FALSE(api->error());
    ASSERT_TRUE(fake->enqueue("ws/page/7/destroy", 404, "gone"));
    EXPECT_TRUE(api->deletePage("7"));
    EXPECT_FALSE(api->error());
    ASSERT_TRUE(fake->enqueue("ws/page/7/destroy", 500, "boom"));
    EXPECT_FALSE(api->deletePage("7"));
    EXPECT_EQ(errorCode(*api), 500);

    // A reminder deletion answered 500 succeeds and keeps the error.
    ASSERT_TRUE(fake->enqueue("T0k%26%3Cn%3E/reminders/5.xml", 500, "boom"));
    EXPECT_TRUE(api->deleteReminder("5"));
    EXPECT_EQ(errorCode(*api), 500);
}

TEST_F(BackpackTest, CompletedStateIsSetOnlyWhenTheListWasRead)
{
    auto api = makeAPI();
    struct Case
    {
        const char *name;
        QString item, list;
        QJsonObject canned;
        bool result;
        long errorCode;
        int requests;
    };
    const Case cases[] = {
        {"item absent from a list that was read", "zz", "9", {}, true, 0, 1},
        {"list missing on the service (404)", "i1", "missing", {}, true, 0, 1},
        {"list not readable (500)", "i1", "9",
         QJsonObject{{"path", "ws/page/7/lists/9/items/list"}, {"status", 500}, {"body", "x"}}, false, 500, 1},
        {"list not readable (login page)", "i1", "9",
         QJsonObject{{"path", "ws/page/7/lists/9/items/list"},
                     {"status", 302},
                     {"headers", QJsonObject{{"Location", "/login.html"}}}},
         false, TGBackpackLoginError, 2},
        {"already completed", "i2", "9", {}, true, 0, 1},
        {"toggled", "i1", "9", {}, true, 0, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(fake->reset());
        if (!c.canned.isEmpty()) {
            ASSERT_TRUE(fake->enqueue(c.canned));
        }
        EXPECT_EQ(api->setCompleted(true, c.item, c.list, "7"), c.result);
        EXPECT_EQ(errorCode(*api), c.errorCode);
        EXPECT_EQ(fake->requests().size(), c.requests);
    }
    EXPECT_EQ(paths().last(), QStringLiteral("ws/page/7/lists/9/items/toggle/i1"));
}

TEST_F(BackpackTest, AddedItemReportsItsNewIdentifier)
{
    auto api = makeAPI();
    QString id = QStringLiteral("stale");
    EXPECT_TRUE(api->addItemWithText("milk", false, "7", "9", &id));
    EXPECT_FALSE(id.isEmpty() || id == QStringLiteral("stale"));

    // An answer that names no item is not a success.
    ASSERT_TRUE(fake->enqueue("ws/page/7/lists/9/items/add", 200, "<response success=\"true\">\n</response>"));
    EXPECT_FALSE(api->addItemWithText("milk", false, "7", "9", &id));
    EXPECT_TRUE(id.isNull());
    ASSERT_TRUE(api->error());

    // Unknown page: counted as success, no identifier.
    EXPECT_TRUE(api->addItemWithText("milk", false, "404", "9", &id));
    EXPECT_TRUE(id.isNull());
    EXPECT_FALSE(api->error());
}

TEST_F(BackpackTest, AddressesAreBuiltWithoutRequests)
{
    auto api = makeAPI();
    const QString site = QStringLiteral("https://acme.") + fake->domain();
    EXPECT_EQ(api->accountURL().toString(), site);
    EXPECT_EQ(api->URLForPage("42").toString(), site + "/pages/42");
    EXPECT_EQ(api->URLForPage("a/b").toString(QUrl::FullyEncoded), site + "/pages/a%2Fb");
    EXPECT_EQ(TGBackpackAccount(QStringLiteral("acme"), {}, {}, {}).BackpackURL(), api->accountURL());
    EXPECT_TRUE(fake->requests().isEmpty());
}

TEST_F(BackpackTest, OfflineMachineIsNotAvailable)
{
    auto api = makeAPI();
    EXPECT_TRUE(api->isAvailable());
    ASSERT_TRUE(fake->enqueue("ws/pages/all", 500, "x"));
    EXPECT_TRUE(api->isAvailable());
    EXPECT_EQ(api->error()->code, 500);
    // A refused connection is no reason to call the machine offline.
    qputenv("LEAFHAUL_BACKPACK_DOMAIN", "test.localhost:1");
    EXPECT_TRUE(api->isAvailable());
    EXPECT_EQ(api->error()->code, SyncHttp::URLErrorCannotConnectToHost);
    qputenv("LEAFHAUL_BACKPACK_DOMAIN", fake->domain().toUtf8());
}

} // namespace
