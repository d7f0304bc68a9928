// The client against a real peer: the fake NoteStore over HTTP and HTTPS,
// with the service's own exceptions and the transport's failures. After
// every failure the next call must go out clean.

#include "NoteStoreTestSupport.h"

#include "FakeNoteStore.h"
#include "foundation/SyncHttp.h"
#include "ravadido/Limits.h"
#include "ravadido/ThriftHttpTransport.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TTransportException.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <limits>
#include <string_view>

using namespace ravadido;
using namespace ravadido::test;
using apache::thrift::TApplicationException;
using apache::thrift::TException;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::transport::TTransportException;

namespace {

std::shared_ptr<RURUNote> noteWithAttachment(const std::string &notebookGuid, const std::string &body,
                                             const std::string &mediaHash)
{
    auto data = std::make_shared<RURUData>();
    data->setBody(Bytes(body));
    data->setSize(static_cast<std::int32_t>(body.size()));
    data->setBodyHash(
        Bytes(QCryptographicHash::hash(QByteArray::fromStdString(body), QCryptographicHash::Md5).toStdString()));
    auto resource = std::make_shared<RURUResource>();
    resource->setData(data);
    resource->setRecognition(data);
    resource->setMime("text/plain");

    auto note = std::make_shared<RURUNote>();
    note->setTitle("With attachment");
    note->setNotebookGuid(notebookGuid);
    note->setCreated(1234000);
    note->setResources(std::vector<std::shared_ptr<RURUResource>>{resource});
    note->setContent("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                     "<!DOCTYPE en-note SYSTEM \"http://xml.ravadido.com/pub/enml2.dtd\">"
                     "<en-note><div>Hello</div><en-media type=\"text/plain\" hash=\""
                     + mediaHash + "\"/></en-note>");
    return note;
}

std::string md5Hex(const std::string &body)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(body), QCryptographicHash::Md5).toHex().toStdString();
}

// The importer's road: find or create the notebook, empty it, fill it.
void runTheFiveCalls(RURUNoteStoreClient &client, FakeNoteStore &fake)
{
    auto wanted = std::make_shared<RURUNotebook>();
    wanted->setName("Page");
    wanted->setStack("site Backpack Account");
    const auto created = client.createNotebook("t", wanted);
    ASSERT_TRUE(created && created->guid());

    const auto notebooks = client.listNotebooks("t");
    ASSERT_EQ(notebooks.size(), 1u);
    EXPECT_EQ(notebooks[0]->name(), "Page");
    EXPECT_EQ(notebooks[0]->stack(), "site Backpack Account");
    EXPECT_EQ(notebooks[0]->guid(), created->guid());

    const auto note = client.createNote("t", noteWithAttachment(*created->guid(), "bytes", md5Hex("bytes")));
    ASSERT_TRUE(note && note->guid());
    EXPECT_EQ(note->title(), "With attachment");
    EXPECT_EQ(note->created(), 1234000);

    auto filter = std::make_shared<RURUNoteFilter>();
    filter->setNotebookGuid(*created->guid());
    const auto found = client.findNotes("t", filter, 0, 1000);
    ASSERT_TRUE(found && found->notes());
    ASSERT_EQ(found->notes()->size(), 1u);
    EXPECT_EQ(found->notes()->at(0)->guid(), note->guid());

    EXPECT_GT(client.deleteNote("t", *note->guid()), 0);
    EXPECT_TRUE(client.findNotes("t", filter, 0, 1000)->notes()->empty());

    const QJsonArray stored = fake.notes();
    ASSERT_EQ(stored.size(), 1);
    const QJsonObject resource = stored[0]["resources"][0].toObject();
    EXPECT_EQ(resource["data"]["bodyHash"].toString().toStdString(), md5Hex("bytes"));
    EXPECT_EQ(resource["data"]["body"].toString(), QByteArray("bytes").toBase64());
    EXPECT_FALSE(stored[0]["active"].toBool());
}

class NoteStoreOverHttp : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        fake = new FakeNoteStore;
        ASSERT_TRUE(fake->start()) << fake->errorString().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete fake;
        fake = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(fake);
        fake->reset();
    }

    static inline FakeNoteStore *fake = nullptr;
    RURUNoteStoreClient client{httpBinaryProtocol(fake->noteStoreUrl())};
};

TEST_F(NoteStoreOverHttp, TheImportersFiveCallsWork)
{
    runTheFiveCalls(client, *fake);
}

// What a call that failed must leave behind: nothing. The next call's
// request is byte for byte a clean one, and it succeeds.
void expectNextCallClean(RURUNoteStoreClient &client, FakeNoteStore &fake)
{
    EXPECT_NO_THROW(client.listNotebooks("t"));
    const QJsonArray requests = fake.requests();
    ASSERT_FALSE(requests.isEmpty());
    MemoryClient memory;
    memory.client.send_listNotebooks("t");
    EXPECT_EQ(requests.last()["body"].toString().toStdString(),
              QByteArray::fromStdString(memory.sent->getBufferAsString()).toHex().toStdString());
}

struct FaultCase
{
    const char *what;
    QJsonObject fault;
    std::function<void(const std::function<void()> &call)> expect;
    // Only the calls that declare a not-found exception can answer with one.
    bool onlyCallsWithNotFound = false;
};

template<typename E>
std::function<void(const std::function<void()> &)> throws(std::function<void(const E &)> check = {})
{
    return [check](const std::function<void()> &call) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const E &e) {
            if (check)
                check(e);
        } catch (const std::exception &e) {
            ADD_FAILURE() << "another exception: " << e.what();
        }
    };
}

TEST_F(NoteStoreOverHttp, FailuresReachTheCallerAsTheirOwnExceptions)
{
    const std::vector<FaultCase> cases = {
        {"user exception",
         {{"mode", "userException"}, {"errorCode", 9}, {"parameter", "authenticationToken"}},
         throws<RURUUserException>([](const RURUUserException &e) {
             EXPECT_EQ(e.errorCode(), 9);
             EXPECT_EQ(e.parameter(), "authenticationToken");
         })},
        {"system exception",
         {{"mode", "systemException"}, {"errorCode", 3}, {"message", "down"}},
         throws<RURUSystemException>([](const RURUSystemException &e) {
             EXPECT_EQ(e.errorCode(), 3);
             EXPECT_EQ(e.message(), "down");
         })},
        {"not-found exception",
         {{"mode", "notFoundException"}, {"identifier", "Note.guid"}, {"key", "g"}},
         throws<RURUNotFoundException>([](const RURUNotFoundException &e) {
             EXPECT_EQ(e.identifier(), "Note.guid");
             EXPECT_EQ(e.key(), "g");
         }),
         true},
        {"application exception",
         {{"mode", "applicationException"}, {"type", 6}, {"message", "boom"}},
         throws<TApplicationException>([](const TApplicationException &e) {
             EXPECT_EQ(e.getType(), TApplicationException::INTERNAL_ERROR);
             EXPECT_STREQ(e.what(), "boom");
         })},
        {"a 503 page",
         {{"mode", "status"}, {"status", 503}},
         throws<TTransportException>([](const TTransportException &e) {
             EXPECT_NE(std::string(e.what()).find("503"), std::string::npos) << e.what();
         })},
        {"a 404 page",
         {{"mode", "status"}, {"status", 404}},
         throws<TTransportException>([](const TTransportException &e) {
             EXPECT_NE(std::string(e.what()).find("404"), std::string::npos) << e.what();
         })},
        {"a redirect is not followed", {{"mode", "status"}, {"status", 302}}, throws<TTransportException>()},
        {"the connection closed without an answer", {{"mode", "close"}}, throws<TTransportException>()},
        {"a truncated body", {{"mode", "truncate"}}, throws<TException>()},
        {"a body cut after the header", {{"mode", "truncate"}, {"keep", 5}}, throws<TException>()},
        {"a hostile element count",
         {{"mode", "hostileCount"}},
         throws<TProtocolException>(
             [](const TProtocolException &e) { EXPECT_EQ(e.getType(), TProtocolException::SIZE_LIMIT); })},
        {"a hostile string length",
         {{"mode", "hostileLength"}},
         throws<TProtocolException>(
             [](const TProtocolException &e) { EXPECT_EQ(e.getType(), TProtocolException::SIZE_LIMIT); })},
        {"an HTML page with status 200",
         {{"mode", "raw"},
          {"body", QString::fromLatin1(QByteArray("<html><body>Maintenance</body></html>").toHex())},
          {"contentType", "text/html"}},
         throws<TException>()},
        {"an empty body with status 200",
         {{"mode", "raw"}, {"body", ""}},
         throws<TTransportException>(
             [](const TTransportException &e) { EXPECT_EQ(e.getType(), TTransportException::END_OF_FILE); })},
    };
    const std::vector<std::tuple<const char *, std::function<void()>, bool>> calls = {
        {"listNotebooks", [this] { client.listNotebooks("t"); }, false},
        {"createNotebook", [this] { client.createNotebook("t", std::make_shared<RURUNotebook>()); }, false},
        {"findNotes", [this] { client.findNotes("t", std::make_shared<RURUNoteFilter>(), 0, 1000); }, true},
        {"createNote", [this] { client.createNote("t", std::make_shared<RURUNote>()); }, true},
        {"deleteNote", [this] { client.deleteNote("t", "g"); }, true},
    };
    for (const FaultCase &c : cases) {
        for (const auto &[name, call, declaresNotFound] : calls) {
            if (c.onlyCallsWithNotFound && !declaresNotFound)
                continue;
            SCOPED_TRACE(std::string(c.what) + " answering " + name);
            // A read goes out once more when its kept connection turns out closed.
            const bool read = std::string_view(name).substr(0, 4) == "list"
                              || std::string_view(name).substr(0, 4) == "find";
            fake->injectFault(QString::fromLatin1(name), c.fault, read && c.fault["mode"] == "close" ? 2 : 1);
            c.expect(call);
            expectNextCallClean(client, *fake);
        }
    }
}

// A body past the wire's 2 GiB is refused halfway through the request:
// what the call wrote before the refusal never reaches the service.
TEST_F(NoteStoreOverHttp, ACallThatFailsWhileWritingSendsNothing)
{
    char name[] = "/tmp/too-long-body-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::unlink(name);
    const std::size_t size = std::size_t(std::numeric_limits<std::int32_t>::max()) + 1;
    ASSERT_EQ(::ftruncate(fd, off_t(size)), 0);
    auto note = noteWithAttachment(fake->addNotebook("N").toStdString(), "bytes", md5Hex("bytes"));
    (*note->resources())[0]->data()->setBody(Bytes(std::make_shared<LentFile>(fd, size, name)));
    throws<TProtocolException>([](const TProtocolException &e) {
        EXPECT_EQ(e.getType(), TProtocolException::SIZE_LIMIT);
    })([&] { client.createNote("t", note); });
    expectNextCallClean(client, *fake);
    EXPECT_EQ(fake->requests().size(), 1);
}

TEST_F(NoteStoreOverHttp, AConnectionTheServerClosedIsNotReused)
{
    fake->injectFault("*", {{"mode", "closeAfterReply"}}, 3);
    for (int i = 0; i < 4; ++i)
        EXPECT_NO_THROW(client.listNotebooks("t")) << "call " << i;
}

TEST_F(NoteStoreOverHttp, TheServiceChecksNotesAsTheRealOneWould)
{
    const std::string notebook = fake->addNotebook("N").toStdString();
    struct Refusal
    {
        const char *what;
        std::function<void(RURUNote &)> spoil;
        int code;
        std::string parameter;
    };
    const std::vector<Refusal> refusals = {
        {"an en-media hash without its resource",
         [](RURUNote &n) {
             n.setContent("<en-note><en-media type=\"text/plain\" hash=\"" + md5Hex("other") + "\"/></en-note>");
         },
         11, "Note.content"},
        {"content that is not an en-note", [](RURUNote &n) { n.setContent("<html/>"); }, 11, "Note.content"},
        {"content that is not XML", [](RURUNote &n) { n.setContent("<en-note>"); }, 11, "Note.content"},
        {"a body hash that does not match the body",
         [](RURUNote &n) { (*n.resources())[0]->data()->setBodyHash(Bytes(std::string(16, 'x'))); }, 1,
         "Resource.data.bodyHash"},
        {"a size that does not match the body", [](RURUNote &n) { (*n.resources())[0]->data()->setSize(99); }, 1,
         "Resource.data.size"},
        {"a title with a trailing blank", [](RURUNote &n) { n.setTitle("Title "); }, 1, "Note.title"},
        {"no title", [](RURUNote &n) { n.unsetTitle(); }, 5, "Note.title"},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(r.what);
        auto note = noteWithAttachment(notebook, "bytes", md5Hex("bytes"));
        r.spoil(*note);
        try {
            client.createNote("t", note);
            ADD_FAILURE() << "accepted";
        } catch (const RURUUserException &e) {
            EXPECT_EQ(e.errorCode(), r.code);
            EXPECT_EQ(e.parameter()->substr(0, r.parameter.size()), r.parameter);
        }
    }
    EXPECT_TRUE(fake->notes().isEmpty());
    // The same note unspoilt goes in; so does an upper-case hash.
    auto note = noteWithAttachment(notebook, "bytes",
                                   QByteArray::fromStdString(md5Hex("bytes")).toUpper().toStdString());
    EXPECT_NO_THROW(client.createNote("t", note));
}

TEST_F(NoteStoreOverHttp, AFakeWithATokenRefusesAnyOther)
{
    fake->setToken("good");
    EXPECT_NO_THROW(client.listNotebooks("good"));
    try {
        client.listNotebooks("stale");
        ADD_FAILURE() << "accepted a stale token";
    } catch (const RURUUserException &e) {
        EXPECT_EQ(e.errorCode(), 9);
    }
}

TEST(NoteStoreTransport, AServiceThatIsGoneIsATransportException)
{
    FakeNoteStore fake;
    ASSERT_TRUE(fake.start()) << fake.errorString().toStdString();
    const QUrl url = fake.noteStoreUrl();
    fake.stop();
    RURUNoteStoreClient client(httpBinaryProtocol(url));
    try {
        client.listNotebooks("t");
        ADD_FAILURE() << "no exception";
    } catch (const TTransportException &e) {
        EXPECT_EQ(e.getType(), TTransportException::NOT_OPEN);
        EXPECT_NE(std::string(e.what()).find("connect"), std::string::npos) << e.what();
    }
}

TEST(NoteStoreTransport, HttpsIsVerifiedAgainstTheTrustedAuthority)
{
    FakeNoteStore fake;
    FakeNoteStore::Options tls;
    tls.tls = true;
    ASSERT_TRUE(fake.start(tls)) << fake.errorString().toStdString();
    RURUNoteStoreClient client(httpBinaryProtocol(fake.noteStoreUrl()));
    runTheFiveCalls(client, fake);

    // Without the test authority the same service is refused.
    const QString trusted = SyncHttp::extraCaFile();
    SyncHttp::setExtraCaFile({});
    EXPECT_THROW(client.listNotebooks("t"), TTransportException);
    SyncHttp::setExtraCaFile(trusted);
    EXPECT_NO_THROW(client.listNotebooks("t"));
}

// A call that changes data is never sent again when its kept connection
// closes without an answer (the service may have acted on it); a read is.
// Also when the close shows first while the body goes out: the body is
// too long for the socket, and the server reads no more of it.
TEST_F(NoteStoreOverHttp, OnlyReadsAreSentAgainOnAClosedConnection)
{
    const std::string notebook = fake->addNotebook("N").toStdString();
    const std::string longText(16 << 20, 'x');
    auto longFilter = std::make_shared<RURUNoteFilter>();
    longFilter->setWords(longText);
    struct Case
    {
        const char *call;
        std::function<void()> run;
        bool read;
        const char *mode = "close";
    };
    const std::vector<Case> cases = {
        {"createNote", [&] { client.createNote("t", noteWithAttachment(notebook, "bytes", md5Hex("bytes"))); }, false},
        {"createNotebook", [&] { client.createNotebook("t", std::make_shared<RURUNotebook>()); }, false},
        {"deleteNote", [&] { client.deleteNote("t", "g"); }, false},
        {"listNotebooks", [&] { client.listNotebooks("t"); }, true},
        {"findNotes", [&] { client.findNotes("t", std::make_shared<RURUNoteFilter>(), 0, 10); }, true},
        {"createNote", [&] { client.createNote("t", noteWithAttachment(notebook, longText, md5Hex(longText))); }, false,
         "closeBeforeBody"},
        {"findNotes", [&] { client.findNotes("t", longFilter, 0, 10); }, true, "closeBeforeBody"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + c.mode);
        client.listNotebooks("t"); // the connection is open and kept
        fake->reset();
        fake->injectFault(QString::fromLatin1(c.call), {{"mode", c.mode}});
        if (c.read)
            EXPECT_NO_THROW(c.run());
        else
            EXPECT_THROW(c.run(), TTransportException);
        int sent = 0;
        for (const QJsonValue &request : fake->requests())
            sent += request["call"].toString() == QLatin1String(c.call);
        EXPECT_EQ(sent, c.read ? 2 : 1);
        EXPECT_TRUE(fake->notes().isEmpty());
    }
}

// The reply may be as long as the largest resource and 8 MiB around it;
// one byte more is refused before it is read.
TEST_F(NoteStoreOverHttp, RepliesUpToTheCapAreRead)
{
    const qint64 cap = RURULimitsConstants::RURU_RESOURCE_SIZE_MAX_PREMIUM() + 8 * 1024 * 1024;
    for (const qint64 size : {cap, cap + 1}) {
        SCOPED_TRACE(size);
        fake->injectFault("listNotebooks", {{"mode", "sized"}, {"size", size}});
        if (size > cap) {
            throws<TTransportException>([&](const TTransportException &e) {
                EXPECT_NE(std::string(e.what()).find(std::to_string(cap)), std::string::npos) << e.what();
            })([&] { client.listNotebooks("t"); });
            continue;
        }
        const auto notebooks = client.listNotebooks("t");
        ASSERT_EQ(notebooks.size(), 1u);
        const std::string &name = *notebooks[0]->name();
        EXPECT_GT(name.size(), std::size_t(size - 100));
        EXPECT_EQ(name.find_first_not_of('x'), std::string::npos);
    }
}

// A reply that trickles, too slowly for the speed floor, ends with a
// time-out before the whole reply follows (after 5 s), whatever the idle
// limit; a cancel ends it at once, and nothing goes out after.
TEST_F(NoteStoreOverHttp, ExchangesThatDragOnEnd)
{
    struct Case
    {
        const char *what;
        QJsonObject fault;
        TTransportException::TTransportExceptionType type;
        bool cancel;
    };
    const Case cases[] = {
        {"trickled headers",
         {{"mode", "trickle"}, {"in", "headers"}, {"seconds", 5}},
         TTransportException::TIMED_OUT,
         false},
        {"a trickled body",
         {{"mode", "trickle"}, {"in", "body"}, {"seconds", 5}},
         TTransportException::TIMED_OUT,
         false},
        {"a cancel", {{"mode", "trickle"}, {"in", "body"}}, TTransportException::INTERRUPTED, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fake->reset();
        fake->injectFault("listNotebooks", c.fault);
        auto transport = std::make_shared<ThriftHttpTransport>(fake->noteStoreUrl());
        transport->setTimeouts(60, c.cancel ? 60 : 1);
        QElapsedTimer clock;
        clock.start();
        transport->setCancellationCheck([&] { return c.cancel && clock.elapsed() > 300; });
        RURUNoteStoreClient slow(
            std::make_shared<apache::thrift::protocol::TBinaryProtocol>(transport, 0, 0, false, false));
        throws<TTransportException>([&](const TTransportException &e) { EXPECT_EQ(e.getType(), c.type) << e.what(); })(
            [&] { slow.listNotebooks("t"); });
        if (c.cancel) {
            EXPECT_THROW(slow.listNotebooks("t"), TTransportException);
            EXPECT_EQ(fake->requests().size(), 1);
        }
    }
}

TEST_F(NoteStoreOverHttp, OnlyStatus200IsAReply)
{
    // A good reply, under any status but 200, is not taken.
    const std::string good = [] {
        auto buffer = std::make_shared<TMemoryBuffer>();
        auto out = protocolOver(buffer);
        out->writeMessageBegin("listNotebooks", apache::thrift::protocol::T_REPLY, 0);
        RURUListNotebooks_result r;
        r.setSuccess(std::vector<std::shared_ptr<RURUNotebook>>{std::make_shared<RURUNotebook>()});
        r.write(*out);
        out->writeMessageEnd();
        return buffer->getBufferAsString();
    }();
    for (int status : {200, 201, 203, 204, 206}) {
        SCOPED_TRACE(status);
        fake->injectFault(
            "listNotebooks",
            {{"mode", "raw"},
             {"status", status},
             {"body", status == 204 ? QString() : QString::fromLatin1(QByteArray::fromStdString(good).toHex())}});
        if (status == 200)
            EXPECT_NO_THROW(client.listNotebooks("t"));
        else
            throws<TTransportException>([&](const TTransportException &e) {
                EXPECT_NE(std::string(e.what()).find(std::to_string(status)), std::string::npos) << e.what();
            })([&] { client.listNotebooks("t"); });
    }
}

// A 40-byte reply announcing a 90 MB string: the transport refuses to lend
// what it does not hold, before the protocol allocates for it.
TEST_F(NoteStoreOverHttp, AnAnnouncedValueLongerThanTheReplyFailsBeforeItIsAllocated)
{
    std::string reply;
    auto i32 = [&](std::uint32_t v) {
        for (int shift : {24, 16, 8, 0})
            reply += char((v >> shift) & 0xff);
    };
    i32(13);
    reply += "listNotebooks";
    reply += char(apache::thrift::protocol::T_REPLY);
    i32(0);
    reply += char(apache::thrift::protocol::T_STRING);
    reply += std::string("\0\0", 2); // field 0
    i32(90 * 1000 * 1000);
    reply.resize(40, '\0');
    fake->injectFault("listNotebooks",
                      {{"mode", "raw"}, {"body", QString::fromLatin1(QByteArray::fromStdString(reply).toHex())}});

    auto transport = std::make_shared<ThriftHttpTransport>(fake->noteStoreUrl());
    auto protocol = std::make_shared<apache::thrift::protocol::TBinaryProtocol>(transport, 0, 0, false, false);
    RURUNoteStoreClient sender(protocol);
    sender.send_listNotebooks("t");
    std::string name, value;
    apache::thrift::protocol::TMessageType type;
    std::int32_t sequence = 0;
    apache::thrift::protocol::TType fieldType;
    std::int16_t field = 0;
    protocol->readMessageBegin(name, type, sequence);
    protocol->readStructBegin(name);
    protocol->readFieldBegin(name, fieldType, field);
    ASSERT_EQ(fieldType, apache::thrift::protocol::T_STRING);
    EXPECT_THROW(protocol->readString(value), TTransportException);
    EXPECT_LT(value.capacity(), 1000u * 1000u);
}

TEST(NoteStoreTransport, PlainHttpOnlyToThisMachine)
{
    struct Case
    {
        const char *url;
        bool refused;
    };
    for (const Case &c :
         {Case{"http://notes.example.invalid/ruru/notestore", true}, Case{"http://10.0.0.1:1/notestore", true},
          Case{"http://127.0.0.1.example.invalid/notestore", true}, Case{"http://127.0.0.1:1/notestore", false},
          Case{"http://[::1]:1/notestore", false}, Case{"http://localhost:1/notestore", false}}) {
        SCOPED_TRACE(c.url);
        RURUNoteStoreClient client(httpBinaryProtocol(QUrl(QString::fromLatin1(c.url))));
        try {
            client.listNotebooks("t");
            ADD_FAILURE() << "no exception";
        } catch (const TTransportException &e) {
            // Loopback addresses are tried (and find nothing listening).
            EXPECT_EQ(std::string(e.what()).find("https") != std::string::npos, c.refused) << e.what();
        }
    }
}

} // namespace
