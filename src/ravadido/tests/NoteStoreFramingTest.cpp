// How calls go on the wire: old-style header, sequence id 0, the argument
// struct with objects only when present and scalars always.

#include "NoteStoreTestSupport.h"

#include "FakeNoteStore.h"
#include "ravadido/ThriftHttpTransport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace ravadido;
using namespace ravadido::test;

namespace {

std::shared_ptr<RURUNote> noteTitled(const std::string &title)
{
    auto note = std::make_shared<RURUNote>();
    note->setTitle(title);
    return note;
}

std::shared_ptr<RURUNoteFilter> filterFor(const std::string &notebookGuid)
{
    auto filter = std::make_shared<RURUNoteFilter>();
    filter->setNotebookGuid(notebookGuid);
    return filter;
}

std::shared_ptr<RURUNotebook> notebookNamed(const std::string &name, const std::string &stack)
{
    auto notebook = std::make_shared<RURUNotebook>();
    notebook->setName(name);
    notebook->setStack(stack);
    return notebook;
}

std::string callHeader(const std::string &name)
{
    return hex(oldStyleHeader(name, 1)) + " ";
}

struct SendCase
{
    const char *what;
    std::function<void(RURUNoteStoreClient &)> send;
    std::string expectedHex;
};

const std::vector<SendCase> &sendCases()
{
    static const std::vector<SendCase> cases = {
        {"listNotebooks with a token", [](RURUNoteStoreClient &c) { c.send_listNotebooks("t"); },
         "00 00 00 0D 6C 69 73 74 4E 6F 74 65 62 6F 6F 6B 73 01 00 00 00 00 0B 00 01 00 00 00 01 74 00"},
        {"deleteNote with a token and a guid", [](RURUNoteStoreClient &c) { c.send_deleteNote("t", "g"); },
         "00 00 00 0A 64 65 6C 65 74 65 4E 6F 74 65 01 00 00 00 00 0B 00 01 00 00 00 01 74 0B 00 02 00 00 00 01 67 00"},
        {"createNote without a token writes the note alone",
         [](RURUNoteStoreClient &c) { c.send_createNote(std::nullopt, noteTitled("T")); },
         callHeader("createNote") + "0C 00 02 0B 00 02 00 00 00 01 54 00 00"},
        {"createNote without a note writes the token alone",
         [](RURUNoteStoreClient &c) { c.send_createNote("t", nullptr); },
         callHeader("createNote") + "0B 00 01 00 00 00 01 74 00"},
        {"createNote with neither writes an empty argument struct",
         [](RURUNoteStoreClient &c) { c.send_createNote(std::nullopt, nullptr); }, callHeader("createNote") + "00"},
        {"findNotes as the importer calls it",
         [](RURUNoteStoreClient &c) { c.send_findNotes("t", filterFor("g"), 0, 1000); },
         callHeader("findNotes")
             + "0B 00 01 00 00 00 01 74 0C 00 02 0B 00 04 00 00 00 01 67 00 "
               "08 00 03 00 00 00 00 08 00 04 00 00 03 E8 00"},
        {"findNotes writes zero scalars and leaves out nil objects",
         [](RURUNoteStoreClient &c) { c.send_findNotes(std::nullopt, nullptr, 0, 0); },
         callHeader("findNotes") + "08 00 03 00 00 00 00 08 00 04 00 00 00 00 00"},
        {"createNotebook with name and stack",
         [](RURUNoteStoreClient &c) { c.send_createNotebook("t", notebookNamed("N", "S")); },
         callHeader("createNotebook")
             + "0B 00 01 00 00 00 01 74 0C 00 02 0B 00 02 00 00 00 01 4E 0B 00 0C 00 00 00 01 53 00 00"},
        {"getPublicNotebook: no token, and the user id even when zero",
         [](RURUNoteStoreClient &c) { c.send_getPublicNotebook(0, std::nullopt); },
         callHeader("getPublicNotebook") + "08 00 01 00 00 00 00 00"},
        {"authenticateToSharedNotebook: the share key first, the token second",
         [](RURUNoteStoreClient &c) { c.send_authenticateToSharedNotebook("k", "t"); },
         callHeader("authenticateToSharedNotebook") + "0B 00 01 00 00 00 01 6B 0B 00 02 00 00 00 01 74 00"},
        {"expungeSharedNotebooks: 64-bit list elements",
         [](RURUNoteStoreClient &c) {
             c.send_expungeSharedNotebooks("t", std::vector<std::int64_t>{1, std::int64_t{1} << 40});
         },
         callHeader("expungeSharedNotebooks")
             + "0B 00 01 00 00 00 01 74 0F 00 02 0A 00 00 00 02 "
               "00 00 00 00 00 00 00 01 00 00 01 00 00 00 00 00 00"},
        {"expungeSharedNotebooks: an empty list is still written",
         [](RURUNoteStoreClient &c) { c.send_expungeSharedNotebooks("t", std::vector<std::int64_t>{}); },
         callHeader("expungeSharedNotebooks") + "0B 00 01 00 00 00 01 74 0F 00 02 0A 00 00 00 00 00"},
        {"expungeSharedNotebooks: a nil list is left out",
         [](RURUNoteStoreClient &c) { c.send_expungeSharedNotebooks("t", std::nullopt); },
         callHeader("expungeSharedNotebooks") + "0B 00 01 00 00 00 01 74 00"},
        {"getResourceByHash: a nil hash is left out, false bools are written",
         [](RURUNoteStoreClient &c) { c.send_getResourceByHash("t", "n", std::nullopt, false, false, false); },
         callHeader("getResourceByHash")
             + "0B 00 01 00 00 00 01 74 0B 00 02 00 00 00 01 6E "
               "02 00 04 00 02 00 05 00 02 00 06 00 00"},
    };
    return cases;
}

TEST(NoteStoreFraming, CallsGoOnTheWireAsOldStyleMessages)
{
    for (const SendCase &c : sendCases()) {
        SCOPED_TRACE(c.what);
        MemoryClient memory;
        c.send(memory.client);
        EXPECT_EQ(memory.sentHex(), hex(unhex(c.expectedHex)));
    }
}

TEST(NoteStoreFraming, HttpCarriesEachCallAsOnePostOfExactlyThoseBytes)
{
    FakeNoteStore fake;
    ASSERT_TRUE(fake.start()) << fake.errorString().toStdString();
    RURUNoteStoreClient client(httpBinaryProtocol(fake.noteStoreUrl()));

    std::vector<std::string> expected;
    for (const SendCase &c : sendCases()) {
        MemoryClient memory;
        c.send(memory.client);
        expected.push_back(memory.sent->getBufferAsString());
        c.send(client); // the replies are another test's business
    }

    const QJsonArray requests = fake.requests();
    ASSERT_EQ(requests.size(), static_cast<qsizetype>(expected.size()));
    for (qsizetype i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(sendCases()[i].what);
        const QJsonObject request = requests[i].toObject();
        EXPECT_EQ(request.value("contentType").toString(), "application/x-thrift");
        EXPECT_EQ(request.value("path").toString(), "/ruru/notestore");
        EXPECT_EQ(hex(QByteArray::fromHex(request.value("body").toString().toLatin1()).toStdString()),
                  hex(expected[i]));
    }
}

} // namespace
