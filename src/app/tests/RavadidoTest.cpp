// The Ravadido connection against the fake NoteStore: the five calls, and the
// error objects made from each kind of failure.

#include "ImporterTestSupport.h"

#include "app/Ravadido.h"

#include <QJsonDocument>

using namespace importertest;
using ravadido::RURUNote;
using ravadido::RURUNotebook;

namespace {

class RavadidoConnection : public ImporterTest
{
protected:
    void SetUp() override
    {
        ImporterTest::SetUp();
        ASSERT_TRUE(connection.connectWithAuthentication(authenticationFor(noteStore->noteStoreUrl())));
    }

    static Ravadido::NotePtr note(const QString &title)
    {
        auto n = std::make_shared<RURUNote>();
        n->setTitle(title.toStdString());
        n->setContent("<?xml version=\"1.0\" encoding=\"UTF-8\"?><en-note>x</en-note>");
        return n;
    }

    Ravadido connection;
};

TEST_F(RavadidoConnection, ConnectNeedsTokenAndNoteStoreUrl)
{
    struct Row
    {
        const char *why;
        QString url;
        QString token;
        bool connects;
    };
    const QString good = noteStore->noteStoreUrl().toString();
    for (const Row &row : {Row{"both", good, kAccessToken, true}, Row{"no token", good, QString(), false},
                           Row{"no url", QString(), kAccessToken, false},
                           Row{"no host", QStringLiteral("https:///notestore"), kAccessToken, false}}) {
        SCOPED_TRACE(row.why);
        Ravadido fresh;
        EXPECT_EQ(fresh.connectWithAuthentication(authenticationFor(QUrl(row.url), row.token)), row.connects);
    }
}

TEST_F(RavadidoConnection, NotebookNameMustMatchExactly)
{
    const QString first = noteStore->addNotebook(QStringLiteral("Ziele"), QStringLiteral("Stapel A"));
    noteStore->addNotebook(QStringLiteral("Ziele"), QStringLiteral("Stapel B"));
    noteStore->addNotebook(QStringLiteral("Pläne "));
    noteStore->addNotebook(QStringLiteral("GROSS"));

    OptionalError error;
    const Ravadido::NotebookPtr found = connection.notebookWithName(QStringLiteral("Ziele"), &error);
    ASSERT_TRUE(found);
    EXPECT_EQ(QString::fromStdString(*found->guid()), first);
    for (const char *other : {"Pläne", "gross", "Ziele ", "ziele"}) {
        SCOPED_TRACE(other);
        EXPECT_FALSE(connection.notebookWithName(QString::fromUtf8(other), &error));
        EXPECT_FALSE(error) << "no match is not a failure";
    }
}

TEST_F(RavadidoConnection, FindsAtMostAThousandNotes)
{
    const QString guid = noteStore->addNotebook(QStringLiteral("Voll"));
    QStringList titles;
    for (int i = 0; i < 1500; ++i)
        titles << QStringLiteral("n%1").arg(i);
    noteStore->addNotes(guid, titles);
    auto notebook = std::make_shared<RURUNotebook>();
    // An empty identifier would match every notebook: refused unsent.
    for (const auto &[id, found] : {std::pair{guid, 1000}, std::pair{QString(), -1}}) {
        SCOPED_TRACE(found);
        notebook->setGuid(id.toStdString());
        const qsizetype finds = noteStoreCalls().count(QStringLiteral("findNotes"));
        OptionalError error;
        const auto notes = connection.notesInNotebook(notebook, &error);
        EXPECT_EQ(notes ? int(notes->size()) : -1, found) << (error ? error->toString() : QString());
        EXPECT_EQ(bool(error), found < 0);
        EXPECT_EQ(noteStoreCalls().count(QStringLiteral("findNotes")), finds + (found >= 0));
    }
}

// The user's text for each kind of failure of the two calls an import makes
// most; the connection stays usable.
TEST_F(RavadidoConnection, FailuresGiveTheUsersText)
{
    const QString uploadLimit = QStringLiteral("Unknown. Make sure you haven't exceeded your upload limits.");
    const QString noNotebooks = QStringLiteral("Unable to get notebooks.");
    struct Row
    {
        const char *call;
        QJsonObject fault;
        long code;
        QString description;
        QString failureReason = {}; // when empty, any but empty
    };
    for (const Row &row :
         {Row{"createNote",
              {{"mode", "userException"}, {"errorCode", 1}, {"parameter", "Note.title"}},
              1,
              QStringLiteral("Something is wrong with the format of Note.title in the note 'Mein Titel'")},
          Row{"createNote",
              {{"mode", "userException"}, {"errorCode", 11}, {"parameter", "Note.content: bad tag"}},
              11,
              QStringLiteral("Something is wrong with the note 'Mein Titel'. Note.content: bad tag")},
          Row{"createNote", {{"mode", "userException"}, {"errorCode", 7}}, 7, uploadLimit},
          Row{"createNote", {{"mode", "systemException"}, {"errorCode", 3}}, 0, uploadLimit},
          // The service's own words are kept.
          Row{"createNote",
              {{"mode", "systemException"}, {"errorCode", 3}, {"message", "Speicher voll – später erneut"}},
              0,
              QStringLiteral("Speicher voll – später erneut"),
              QStringLiteral("Speicher voll – später erneut")},
          Row{"createNote",
              {{"mode", "notFoundException"}, {"identifier", "Note.notebookGuid"}, {"key", "abc-123"}},
              0,
              QStringLiteral("Not found: Note.notebookGuid abc-123")},
          Row{"createNote", {{"mode", "notFoundException"}}, 0, uploadLimit},
          // A transport failure keeps its own reason.
          Row{"createNote", {{"mode", "status"}, {"status", 503}}, 0, QStringLiteral("Bad HTTP status: 503")},
          Row{"createNote",
              {{"mode", "applicationException"}, {"type", 6}, {"message", "Internal error processing createNote"}},
              0,
              QStringLiteral("Internal error processing createNote")},
          Row{"listNotebooks",
              {{"mode", "userException"}, {"errorCode", 9}, {"parameter", "authenticationToken"}},
              9,
              QStringLiteral("Authentication Token has expired.")},
          Row{"listNotebooks", {{"mode", "userException"}, {"errorCode", 8}}, 8, noNotebooks},
          Row{"listNotebooks", {{"mode", "status"}, {"status", 502}}, 0, noNotebooks},
          Row{"listNotebooks", {{"mode", "close"}}, 0, noNotebooks},
          Row{"listNotebooks", {{"mode", "truncate"}}, 0, noNotebooks}}) {
        SCOPED_TRACE(QJsonDocument(row.fault).toJson(QJsonDocument::Compact).toStdString());
        const bool create = row.call == std::string_view("createNote");
        const auto call = [&](OptionalError *error) {
            return create ? bool(connection.createNote(note(QStringLiteral("Mein Titel")), error))
                          : bool(connection.notebookWithName(QStringLiteral("x"), error));
        };
        // A read goes out once more when its kept connection turns out closed.
        noteStore->injectFault(QString::fromLatin1(row.call), row.fault, row.fault["mode"] == "close" ? 2 : 1);
        OptionalError error;
        EXPECT_FALSE(call(&error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, kLeafhaulErrorDomain);
        EXPECT_EQ(error->code, row.code);
        EXPECT_EQ(error->localizedDescription, row.description);
        EXPECT_TRUE(error->localizedFailureReason.contains(row.failureReason)) << error->localizedFailureReason;
        EXPECT_FALSE(error->localizedFailureReason.isEmpty());
        EXPECT_TRUE(error->localizedRecoverySuggestion.isEmpty());
        error.reset();
        EXPECT_EQ(call(&error), create);
        EXPECT_FALSE(error);
    }
}

// The service's failures of the other calls reach the caller, also without
// an error slot.
TEST_F(RavadidoConnection, OtherWrappersReportTheirFailures)
{
    auto gone = std::make_shared<RURUNote>();
    gone->setGuid("no-such-note");
    EXPECT_FALSE(connection.deleteNote(gone));
    OptionalError error;
    EXPECT_FALSE(connection.deleteNote(gone, &error));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->localizedDescription.contains(QStringLiteral("no-such-note"))) << error->localizedDescription;
    noteStore->injectFault(QStringLiteral("*"), {{"mode", "status"}, {"status", 500}}, 2);
    EXPECT_FALSE(connection.createNote(note(QStringLiteral("T"))));
    EXPECT_FALSE(connection.notebookWithName(QStringLiteral("T")));
}

} // namespace
