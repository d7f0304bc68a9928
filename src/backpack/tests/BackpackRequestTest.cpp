#include "BackpackTestSupport.h"

#include "backpack/BackpackSettings.h"

#include <QJsonDocument>

#include <functional>
#include <string_view>
#include <thread>

namespace {

const QString P = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><token>T0k&amp;&lt;n&gt;</token>");
const QString S = QStringLiteral("</request>");
const QString kTokenPath = QStringLiteral("T0k%26%3Cn%3E");

TEST(BackpackText, CleanupEscapesAngleBracketsInsideDoubleQuotedValuesOnly)
{
    struct Case
    {
        QString in, out;
    };
    const Case cases[] = {
        {"<a t=\"x<y>z\">1 < 2</a>", "<a t=\"x&lt;y&gt;z\">1 < 2</a>"},
        {"<a t=\"<\" u=\">>\"/>", "<a t=\"&lt;\" u=\"&gt;&gt;\"/>"},
        {"<a t='<' u=\"\"/>", "<a t='<' u=\"\"/>"},
        {"<a t=\"unclosed <", "<a t=\"unclosed <"},
        {"x=\"abc=\" y=\"<\"", "x=\"abc=\" y=\"&lt;\""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TGBackpackAPI::cleanupXML(c.in), c.out) << c.in;
}

TEST(BackpackText, CharactersXMLForbidsBecomeReplacementCharacters)
{
    const QString r(QChar(0xFFFD));
    const std::pair<QString, QString> cases[] = {
        {QString::fromUtf8("<a t=\"\x01\">x\x1f\x7f\t\n\r</a>"), "<a t=\"" + r + "\">x" + r + "\x7f\t\n\r</a>"},
        {"&#1;&#x1F;&#x1f;&#0031;&#0;", r.repeated(5)},
        // The last two wrap to "A" in 32 bits.
        {"&#xD800;&#xFFFE;&#1114112;&#99999999999999999999;&#4294967361;&#x100000041;", r.repeated(6)},
        {"&#9;&#65;&#x10FFFF;&#xFFFD;&amp;#1;", "&#9;&#65;&#x10FFFF;&#xFFFD;&amp;#1;"},
        {"&#x;&#1a;&# 1;&#X1;&#1", "&#x;&#1a;&# 1;&#X1;&#1"},
        {"<![CDATA[&#1;\x02]]>&#2;<!-- &#3; -->&#4;", "<![CDATA[&#1;" + r + "]]>" + r + "<!-- &#3; -->" + r},
        {"<![CDATA[&#1;", "<![CDATA[&#1;"},
        {QString(QChar(0xD800)) + "x" + QChar(0xDC00) + QChar(0xFFFF) + QString::fromUtf8("\U0001F600"),
         r + "x" + r + r + QString::fromUtf8("\U0001F600")},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(TGBackpackAPI::replaceForbiddenXMLCharacters(in), out) << in;
}

TEST(BackpackText, EscapingKeepsTheFivePredefinedEntities)
{
    const std::pair<QString, QString> cases[] = {
        {"a & b < c &amp; d", "a &amp; b &lt; c &amp; d"},
        {"&amp;&lt;&gt;&apos;&quot;", "&amp;&lt;&gt;&apos;&quot;"},
        {"&nbsp; &amp", "&amp;nbsp; &amp;amp"},
        {"'\">", "&apos;&quot;&gt;"},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(TGBackpackAPI::escapeXMLCharacters(in), out) << in;
    EXPECT_EQ(TGBackpackAPI::cdata(QStringLiteral("a]]>b]]>")),
              QStringLiteral("<![CDATA[a]]]]><![CDATA[>b]]]]><![CDATA[>]]>"));
}

TEST_F(BackpackTest, RequestBodiesAreSentByteForByte)
{
    auto api = makeAPI();
    struct Case
    {
        const char *name;
        std::function<bool(TGBackpackAPI &)> call;
        QString method, path, body;
        QString contentType = QStringLiteral("application/xml");
    };
    const Case cases[] = {
        {"pages", [](auto &a) { return a.pages().has_value(); }, "POST", "ws/pages/all", P + S},
        {"page", [](auto &a) { return a.page("7").has_value(); }, "POST", "ws/page/7", P + S},
        {"page id with URL characters", [](auto &a) { return !a.page("a/b?c#d").has_value(); }, "POST",
         "ws/page/a%2Fb%3Fc%23d", P + S},
        {"listsForPage", [](auto &a) { return a.listsForPage("7").has_value(); }, "POST", "ws/page/7/lists/list",
         P + S},
        {"itemsForPage", [](auto &a) { return a.itemsForPage("7", "9").has_value(); }, "POST",
         "ws/page/7/lists/9/items/list", P + S},
        {"reminders", [](auto &a) { return a.reminders().has_value(); }, "GET", kTokenPath + "/reminders.xml", ""},
        {"item text", [](auto &a) { return a.setText("a]]>b & <c>", "i1", "9", "7"); }, "POST",
         "ws/page/7/lists/9/items/update/i1",
         P + "<item><content><![CDATA[a]]]]><![CDATA[>b & <c>]]></content></item>" + S},
        {"updateList", [](auto &a) { return a.updateList("9", "A&B <\"x'>", "7"); }, "POST", "ws/page/7/lists/update/9",
         P + "<list><name>A&amp;B &lt;&quot;x&apos;&gt;</name></list>" + S},
        {"add empty item",
         [](auto &a) {
             QString id;
             return a.addItemWithText("", true, "7", "9", &id);
         },
         "POST", "ws/page/7/lists/9/items/add",
         P + "<item><completed>true</completed><content>&nbsp;</content></item>" + S},
        {"add item",
         [](auto &a) {
             QString id;
             return a.addItemWithText("x]]>", false, "7", "9", &id);
         },
         "POST", "ws/page/7/lists/9/items/add",
         P + "<item><completed>false</completed><content><![CDATA[x]]]]><![CDATA[>]]></content></item>" + S},
        {"deleteItem", [](auto &a) { return a.deleteItem("i1", "7", "9"); }, "POST",
         "ws/page/7/lists/9/items/destroy/i1", P + S},
        {"deleteList", [](auto &a) { return a.deleteList("9", "7"); }, "POST", "ws/page/7/lists/destroy/9", P + S},
        {"deleteNote", [](auto &a) { return a.deleteNote("n1", "7"); }, "POST", "ws/page/7/notes/destroy/n1", P + S},
        {"note title", [](auto &a) { return a.setTitle("T&amp; <", "n1", "7"); }, "POST", "ws/page/7/notes/update/n1",
         P + "<note><title>T&amp; &lt;</title></note>" + S},
        {"empty note body", [](auto &a) { return a.setText("", "n1", "7"); }, "POST", "ws/page/7/notes/update/n1",
         P + "<note><body><![CDATA[&nbsp;]]></body></note>" + S},
        {"note body", [](auto &a) { return a.setText("<b>&</b>", "n1", "7"); }, "POST", "ws/page/7/notes/update/n1",
         P + "<note><body><![CDATA[<b>&</b>]]></body></note>" + S},
        {"page title", [](auto &a) { return a.setTitle("P'", "7"); }, "POST", "ws/page/7/update_title",
         P + "<page><title>P&apos;</title></page>" + S},
        {"tags", [](auto &a) { return a.setTags("a & b <c>", "7"); }, "POST", "ws/page/7/tags/tag",
         P + "<tags>a &amp; b &lt;c&gt;</tags>" + S},
        {"deleteEmail", [](auto &a) { return a.deleteEmail("e1", "7"); }, "POST", "ws/page/7/emails/destroy/e1", P + S},
        {"deletePage", [](auto &a) { return a.deletePage("7"); }, "POST", "ws/page/7/destroy", P + S},
        {"deleteReminder", [](auto &a) { return a.deleteReminder("r/1"); }, "DELETE",
         kTokenPath + "/reminders/r%2F1.xml", ""},
        {"separator text", [](auto &a) { return a.setTextForSeparator("s<1", "s1", "7"); }, "PUT",
         "pages/7/separators/s1.xml", P + "<separator><name>s&lt;1</name></separator>" + S},
        {"deleteSeparator", [](auto &a) { return a.deleteSeparator("s1", "7"); }, "DELETE", "pages/7/separators/s1.xml",
         P + S},
        {"login", [](auto &a) { return a.login(); }, "POST", "session/create",
         "username=ann&password=p%26ss%3Dw%2Brd%25%20x", "application/x-www-form-urlencoded"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(fake->reset());
        EXPECT_TRUE(c.call(*api)) << (api->error() ? api->error()->toString() : QString());
        const QJsonArray requests = fake->requests();
        ASSERT_EQ(requests.size(), 1);
        const QJsonObject r = requests[0].toObject();
        EXPECT_EQ(r["method"].toString(), c.method);
        EXPECT_EQ(r["path"].toString(), c.path);
        EXPECT_EQ(r["body"].toString(), c.body);
        EXPECT_EQ(r["host"].toString(), "acme." + fake->domain());
        if (!c.body.isEmpty()) {
            EXPECT_EQ(r["headers"].toObject()["Content-Type"].toString(), c.contentType);
        }

        // The connection, kept open, closes without an answer once the request
        // has arrived: only a read (or the sign-in) is sent again.
        if (c.name == std::string_view("page id with URL characters"))
            continue; // refused before it is sent
        const bool read = c.method == "GET" || c.path == "ws/pages/all" || c.path == "session/create"
                          || c.path == "ws/page/7" || c.path.endsWith(QLatin1String("/list"));
        ASSERT_TRUE(fake->reset());
        ASSERT_TRUE(fake->enqueue(c.path, 0, {}, {}, 2));
        api->page(QStringLiteral("warm")); // the connection to the site is open and kept
        EXPECT_FALSE(c.call(*api));
        int sent = 0;
        for (const QJsonValue &request : fake->requests())
            sent += request["path"].toString() == c.path;
        EXPECT_EQ(sent, read ? 2 : 1);
        ASSERT_TRUE(fake->reset());
    }
}

TEST_F(BackpackTest, AnswersLongerThanBackpacksAreRefused)
{
    auto api = makeAPI();
    ASSERT_TRUE(fake->enqueue(QStringLiteral("ws/pages/all"), 200,
                              QStringLiteral("<response success=\"true\"><pages>%1</pages></response>")
                                  .arg(QString(9 * 1024 * 1024, QLatin1Char(' ')))));
    EXPECT_FALSE(api->pages());
    ASSERT_TRUE(api->error());
    EXPECT_EQ(api->error()->code, SyncHttp::URLErrorBadServerResponse) << api->error()->toString().toStdString();
}

TEST_F(BackpackTest, SiteNamesThatAreNotOneLabelSendNothing)
{
    for (const char *good : {"acme", "a", "my-site-2", "ABC"})
        EXPECT_TRUE(BackpackSettings::isValidSitename(QString::fromUtf8(good))) << good;
    for (const char *bad :
         {"", "a.b", "evil.com/x?", "a@evil.com", "a?b", "a#b", "a b", "-a", "a-", "\xc3\xa9t\xc3\xa9", "a:1"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(BackpackSettings::isValidSitename(QString::fromUtf8(bad)));
        auto api = makeAPI(QString::fromUtf8(bad));
        EXPECT_FALSE(api->pages());
        EXPECT_EQ(errorCode(*api), SyncHttp::URLErrorBadURL);
        EXPECT_TRUE(api->accountURL().isEmpty());
        EXPECT_TRUE(api->URLForPage("1").isEmpty());
        EXPECT_FALSE(api->login());
    }
    EXPECT_TRUE(fake->requests().isEmpty());
}

TEST_F(BackpackTest, EveryFailedAnswerLeavesTheNamedError)
{
    const QString bp = kTGBackpackErrorDomain;
    const QString login = QStringLiteral("Leafhaul cannot login to Backpack.");
    const QString loginHint = QStringLiteral(
        "Make sure your Backpack site name and API key are correct in Leafhaul's "
        "account editor (Edit Accounts). Also make sure you can access Backpack normally via a web browser.");
    const QString pageUrl = QStringLiteral("https://acme.%1/ws/pages/all").arg(fake->domain());
    auto answer = [](int status, const QString &body, const QJsonObject &headers = {}) {
        return QJsonObject{{"path", "ws/pages/all"}, {"status", status}, {"body", body}, {"headers", headers}};
    };
    struct Failure
    {
        const char *name;
        QJsonObject answer;
        QString domain;
        long code;
        QString description, reason, suggestion;
        QString words = {}; // the service's own, for the alert
    };
    const Failure cases[] = {
        {"404", answer(404, "gone"), bp, 404, "Backpack returned error code 404.", pageUrl + " was not found", ""},
        {"405", answer(405, ""), bp, 405, "Backpack returned error code 405.", "Resource Not Allowed.", ""},
        {"500 future date", answer(500, "Please specify a date in the future."), bp, 3,
         "Stowbird cannot upload a reminder to Backpack.", "",
         "This is because the reminder's date is in the past and Backpack won't accept it."},
        {"500", answer(500, "trace"), bp, 500, "Backpack returned the following error:\n", "Internal Server Error", "",
         "trace"},
        {"500 error element",
         answer(500, "<response success=\"false\"><error code=\"500\">Page\n is locked</error></response>"), bp, 500,
         "Backpack returned the following error:\n", "Internal Server Error", "", "Page is locked"},
        {"500 error page", answer(500, "<html><body><h1>Sorry</h1></body></html>"), bp, 500,
         "Backpack returned the following error:\n", "Internal Server Error", ""},
        {"500 broken error page", answer(500, "<html><body><p>Oops<br></body></html>"), bp, 500,
         "Backpack returned the following error:\n", "Internal Server Error", ""},
        {"503 without Retry-After", answer(503, "", {{"Status", "503 Service Unavailable"}}), bp, 503,
         "Backpack returned error code 503.", "503 Service Unavailable", ""},
        {"other status without Status header", answer(418, ""), bp, 418, "Backpack returned error code 418.", "", ""},
        {"login page",
         QJsonObject{{"path", "ws/pages/all"}, {"status", 302}, {"headers", QJsonObject{{"Location", "/login.html"}}}},
         bp, 1, login, "", loginHint},
        {"compact 403 element", answer(200, "<response success=\"false\"><error code=\"403\">no</error></response>"),
         bp, 1, login, "", loginHint},
        {"indented 404 element",
         answer(200, "<response success=\"false\">\n  <error code=\"404\">Page not found</error>\n</response>"), bp,
         404, "Page not found", "", ""},
        {"no success attribute", answer(200, "<response>\n<error code=\"422\">bad</error></response>"), bp, 422, "bad",
         "", ""},
        {"error element without code", answer(200, "<response success=\"no\"><error>odd</error></response>"), bp, 0,
         "odd", "", ""},
        {"failed answer without element", answer(200, "<response success=\"false\">\n</response>"), bp, 0,
         "Backpack could not carry out the request.", "", ""},
        {"empty 204", answer(204, ""), kXMLParserErrorDomain, 4, "", "", ""},
        {"not XML", answer(201, "<pages><page"), kXMLParserErrorDomain, -1, "", "", ""},
    };
    for (const Failure &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(fake->enqueue(c.answer));
        auto api = makeAPI();
        EXPECT_FALSE(api->pages());
        ASSERT_TRUE(api->error());
        const Error &e = *api->error();
        EXPECT_EQ(e.domain, c.domain);
        if (c.code >= 0) {
            EXPECT_EQ(e.code, c.code);
        }
        if (c.domain == bp) {
            EXPECT_EQ(e.localizedDescription, c.description);
            EXPECT_EQ(e.localizedFailureReason, c.reason);
            EXPECT_EQ(e.localizedRecoverySuggestion, c.suggestion);
            EXPECT_EQ(e.userInfo.value(kErrorServiceTextKey).toString(), c.words);
        } else {
            EXPECT_NE(e.code, 0);
            EXPECT_FALSE(e.localizedDescription.isEmpty());
        }
        EXPECT_TRUE(waits.isEmpty());
    }
}

// Backpack never sends a document type declaration; one that defines a 50 KB
// entity used 20,000 times must not become a billion characters of text.
TEST_F(BackpackTest, AnAnswerWithADocumentTypeIsUnreadable)
{
    const QString answer =
        "<?xml version=\"1.0\"?><!DOCTYPE response [<!ENTITY e \"" + QString(50 * 1024, 'a')
        + "\">]><response success=\"true\"><page id=\"7\" title=\"T\"><notes><note id=\"1\" title=\"t\">"
        + QStringLiteral("&e;").repeated(20000) + "</note></notes></page></response>";
    ASSERT_TRUE(fake->enqueue("ws/page/7", 200, answer));
    auto api = makeAPI();
    EXPECT_FALSE(api->page("7"));
    ASSERT_TRUE(api->error());
    EXPECT_EQ(api->error()->domain, SyncHttp::kURLErrorDomain);
    EXPECT_EQ(api->error()->code, SyncHttp::URLErrorCannotDecodeRawData);
    EXPECT_EQ(api->error()->localizedDescription, QStringLiteral("Backpack sent an answer that could not be read."));
    EXPECT_EQ(api->error()->userInfo.value(SyncHttp::kFailingURLStringKey).toString(),
              QStringLiteral("https://acme.%1/ws/page/7").arg(fake->domain()));
}

class RecordingDelegate : public TGBackpackAPIDelegate
{
public:
    void backpack(TGBackpackAPI *, const SyncHttp::Request &request) override { sent << request.url.path(); }
    void backpack(TGBackpackAPI *, const QByteArray &data) override { received << data; }
    void backpack(TGBackpackAPI *, const Error &error) override { errors << error.code; }
    void backpack(TGBackpackAPI *, const QString &message) override { messages << message; }
    QStringList sent, messages;
    QList<QByteArray> received;
    QList<long> errors;
};

TEST_F(BackpackTest, BodiesThatAreNotTextFailWithAnErrorAndTellTheDelegate)
{
    ASSERT_TRUE(
        fake->enqueue(QJsonObject{{"path", "ws/pages/all"},
                                  {"status", 200},
                                  {"body_base64", QString::fromLatin1(QByteArray("<r>\xff\xfe</r>").toBase64())}}));
    auto api = makeAPI();
    RecordingDelegate delegate;
    api->setDelegate(&delegate);
    EXPECT_FALSE(api->pages());
    EXPECT_EQ(errorCode(*api), SyncHttp::URLErrorCannotDecodeRawData);
    EXPECT_EQ(delegate.messages, (QStringList{"Unable to decode Backpack response with UTF-8. Trying Ascii...",
                                              "Unable to decode Backpack API response with UTF-8 or ASCII encoding"}));
    EXPECT_EQ(delegate.sent, QStringList{"/ws/pages/all"});
    EXPECT_EQ(delegate.received, QList<QByteArray>{QByteArray("<r>\xff\xfe</r>")});
    api->logError(*api->error());
    EXPECT_EQ(delegate.errors, QList<long>{SyncHttp::URLErrorCannotDecodeRawData});
}

TEST_F(BackpackTest, PutAndDeleteAnswersFollowTheirOwnRules)
{
    struct Case
    {
        const char *name;
        QString method;
        int status;
        QString body;
        bool document;
        QString root;
    };
    const Case cases[] = {
        {"PUT 200 one character", "PUT", 200, " ", true, "response"},
        {"PUT 200 longer body", "PUT", 200, "<response success=\"true\"/>", false, ""},
        {"DELETE 204 empty", "DELETE", 204, "", true, "response"},
        {"DELETE 200 emptied", "DELETE", 200, "<response success=\"true\"/>", false, ""},
        {"DELETE 201 kept", "DELETE", 201, "<x a=\"1<2\"/>", true, "x"},
        {"POST other root", "POST", 200, "<other/>", true, "other"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(
            fake->enqueue(QJsonObject{{"path", "ws/x"}, {"method", c.method}, {"status", c.status}, {"body", c.body}}));
        auto api = makeAPI();
        const auto document = api->request("ws/x", {}, c.method);
        EXPECT_EQ(document.has_value(), c.document);
        EXPECT_EQ(api->error().has_value(), !c.document);
        if (document) {
            EXPECT_EQ(xml::name(document->root()), c.root);
            if (c.root == QLatin1String("response")) {
                EXPECT_EQ(xml::attribute(document->root(), "success"), QStringLiteral("true"));
            }
            if (c.root == QLatin1String("x")) {
                EXPECT_EQ(xml::attribute(document->root(), "a"), QStringLiteral("1<2"));
            }
        } else {
            EXPECT_EQ(api->error()->domain, kXMLParserErrorDomain);
        }
    }
}

TEST_F(BackpackTest, RetriesAreCappedAndWaitsBounded)
{
    struct Case
    {
        const char *name;
        QString retryAfter;
        int times;
        QList<int> waits;
        bool succeeds;
        QString logLine;
    };
    const Case cases[] = {
        {"once, long wait capped",
         "120",
         1,
         {60},
         true,
         "Received Retry-After. Waiting 120 seconds and then retrying\n"},
        {"not a number waits a second",
         "soon",
         1,
         {1},
         true,
         "Received Retry-After. Waiting soon seconds and then retrying\n"},
        {"zero", "0", 2, {0, 0}, true, ""},
        {"forever", "5", 10, {5, 5, 5}, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        waits.clear();
        ASSERT_TRUE(fake->reset());
        ASSERT_TRUE(fake->enqueue("ws/pages/all", 503, "busy",
                                  QJsonObject{{"Retry-After", c.retryAfter}, {"Status", "503 Busy"}}, c.times));
        auto api = makeAPI();
        testing::internal::CaptureStdout();
        const auto pages = api->pages();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(waits, c.waits);
        EXPECT_EQ(fake->requests().size(), c.waits.size() + 1);
        EXPECT_EQ(pages.has_value(), c.succeeds);
        ASSERT_EQ(errorCode(*api), c.succeeds ? 0 : 503);
        if (c.succeeds)
            EXPECT_EQ(pages->size(), 2);
        else
            EXPECT_EQ(api->error()->localizedFailureReason, QStringLiteral("503 Busy"));
        if (!c.logLine.isEmpty()) {
            EXPECT_EQ(out, c.logLine.toStdString());
        }
        EXPECT_EQ(QString::fromStdString(out).count('\n'), c.waits.size());
    }
}

// A silent server and one that trickles (too slowly for the speed floor,
// and for 5 s before the whole page list follows) alike: each try times
// out, and the call gives up after three retries.
TEST_F(BackpackTest, TimeOutsAreRetriedThreeTimesThenReported)
{
    const QString pages = QStringLiteral("<response success=\"true\"><pages><page id=\"1\"/></pages></response>");
    const QJsonObject cases[] = {
        {{"path", "ws/pages/all"}, {"status", 200}, {"delay", 4}, {"times", 10}},
        {{"path", "ws/pages/all"},
         {"trickle", QJsonObject{{"in", "headers"}, {"seconds", 5}}},
         {"body", pages},
         {"times", 10}},
        {{"path", "ws/pages/all"},
         {"trickle", QJsonObject{{"in", "body"}, {"seconds", 5}}},
         {"body", pages},
         {"times", 10}},
    };
    for (const QJsonObject &canned : cases) {
        SCOPED_TRACE(QJsonDocument(canned).toJson().toStdString());
        waits.clear();
        ASSERT_TRUE(fake->reset());
        ASSERT_TRUE(fake->enqueue(canned));
        auto api = makeAPI();
        auto policy = api->retryPolicy();
        policy.requestTimeoutSeconds = canned.contains("trickle") ? 60 : 1;
        policy.requestLowSpeedSeconds = canned.contains("trickle") ? 1 : 60;
        api->setRetryPolicy(policy);
        testing::internal::CaptureStdout();
        const bool answered = bool(api->pages());
        const QString out = QString::fromStdString(testing::internal::GetCapturedStdout());
        EXPECT_FALSE(answered);
        EXPECT_EQ(errorCode(*api), SyncHttp::URLErrorTimedOut);
        if (!api->error())
            continue;
        EXPECT_EQ(api->error()->domain, SyncHttp::kURLErrorDomain);
        EXPECT_EQ(waits, (QList<int>{1, 1, 1}));
        EXPECT_EQ(fake->requests().size(), 4);
        EXPECT_EQ(out.count(QStringLiteral("Received timeout for https://acme.") + fake->domain()
                            + QStringLiteral("/ws/pages/all. Waiting and retrying\n")),
                  3);
    }
}

TEST_F(BackpackTest, CancelEndsWaitsAndRequestsFromAnotherThread)
{
    const QJsonObject cases[] = {
        {{"path", "ws/pages/all"}, {"status", 503}, {"headers", QJsonObject{{"Retry-After", "30"}}}, {"times", 5}},
        {{"path", "ws/pages/all"}, {"status", 200}, {"delay", 20}},
        {{"path", "ws/pages/all"}, {"trickle", QJsonObject{{"in", "body"}}}, {"times", 5}},
    };
    for (const QJsonObject &canned : cases) {
        SCOPED_TRACE(QJsonDocument(canned).toJson().toStdString());
        ASSERT_TRUE(fake->reset());
        ASSERT_TRUE(fake->enqueue(canned));
        TGBackpackAPI api(QStringLiteral("acme"), QString::fromUtf8(kToken), {}, {}); // really waits
        std::thread canceller([&] {
            while (fake->requests().isEmpty())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            api.cancel();
        });
        EXPECT_FALSE(api.pages());
        canceller.join();
        EXPECT_EQ(errorCode(api), SyncHttp::URLErrorCancelled);
        EXPECT_FALSE(api.page("7")); // later calls fail at once
        EXPECT_EQ(errorCode(api), SyncHttp::URLErrorCancelled);
        EXPECT_EQ(fake->requests().size(), 1);
    }
}

TEST_F(BackpackTest, WriteTokenCookieIsDroppedBeforeEachRequest)
{
    ASSERT_TRUE(fake->enqueue(QJsonObject{{"path", "ws/pages/all"},
                                          {"status", 200},
                                          {"body", "<response success=\"true\"/>"},
                                          {"headers", QJsonObject{{"Set-Cookie", "write_token=w; Path=/"}}}}));
    auto api = makeAPI();
    ASSERT_TRUE(api->pages());
    ASSERT_EQ(SyncHttp::allCookies().size(), 1);
    ASSERT_TRUE(api->pages());
    EXPECT_TRUE(SyncHttp::allCookies().isEmpty());
    const QJsonArray requests = fake->requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_FALSE(requests[1].toObject()["headers"].toObject().contains("Cookie"));
}

} // namespace
