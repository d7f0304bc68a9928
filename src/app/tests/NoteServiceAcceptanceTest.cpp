// Notes and notebooks built from hostile Backpack content go to the fake
// NoteStore, which checks titles, names, ENML and resources as the service
// does: every one must be accepted.

#include "app/NoteBuilder.h"
#include "ravadido/Errors.h"
#include "ravadido/NoteStoreClient.h"
#include "ravadido/ThriftHttpTransport.h"
#include "ravadido/tests/FakeNoteStore.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace ravadido;

namespace {

TEST(NoteServiceAcceptance, HostileContentIsAccepted)
{
    FakeNoteStore fake;
    ASSERT_TRUE(fake.start()) << fake.errorString().toStdString();
    RURUNoteStoreClient client(httpBinaryProtocol(fake.noteStoreUrl()));

    auto notebook = std::make_shared<RURUNotebook>();
    notebook->setName(
        NoteBuilder::fixupNotebookTitle(QStringLiteral(" \tSeite\u2028") + QString(120, QChar(0x00FC)) + "\n")
            .toStdString());
    notebook->setStack(NoteBuilder::notebookStackName(QString(90, QLatin1Char('s'))).toStdString());
    std::shared_ptr<RURUNotebook> created;
    try {
        created = client.createNotebook("t", notebook);
    } catch (const RURUUserException &e) {
        FAIL() << "notebook refused: " << e.parameter().value_or("");
    }
    ASSERT_TRUE(created && created->guid());

    QTemporaryDir dir;
    const auto writeFile = [&](const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return file.fileName();
    };
    const QByteArray pdf("%PDF-1.4\n% Grüße\n");
    const QByteArray png = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452") + QByteArray(500, 'p');
    const QString pdfPath = writeFile("datei.pdf", pdf);
    const QString pngPath = writeFile("bild.png", png);
    const QDateTime date(QDate(2010, 1, 2), QTime(3, 4, 5));

    const struct
    {
        const char *name;
        QVariantMap widget;
        QList<DownloadedAsset> files;
    } rows[] = {
        {"longTitleWithBreaks",
         {{"widgetType", "Note"},
          {"createdAt", date},
          {"title", QString(100, QChar(0x00E9)) + "\n\t" + QString(200, QLatin1Char('x'))},
          {"text", "Text < mit & Ärger &nbsp; und <b>halb"}},
         {}},
        {"blankTitle", {{"widgetType", "Note"}, {"title", " \u3000 "}, {"text", ""}}, {}},
        {"attachmentName",
         {{"widgetType", "Asset"},
          {"backpackID", "1"},
          {"filename", QStringLiteral("../ä?#b\u2029") + QString(300, QLatin1Char('n')) + ".pdf "}},
         {pdfPath}},
        {"gallery",
         {{"widgetType", "Gallery"},
          {"name", "\u00a0Bilder\u00a0"},
          {"images", QVariantList{QVariantMap{{"description", "Rosé < Tulpe &amp; \"Nelke\""}},
                                  QVariantMap{{"description", "*halb _fett*"}}}}},
         {pngPath, pngPath}},
        {"htmlEmail",
         {{"widgetType", "Email"},
          {"createdAt", date},
          {"subject", "Re: \"Angebot\" < 5 € & mehr\u0007"},
          {"body", "<html><body><p>Ça va & <b>gut</p></html>"}},
         {}},
        {"plainEmail", {{"widgetType", "Email"}, {"subject", ""}, {"body", "Zeile <1>\r\nZeile & 2\u000b"}}, {}},
        {"list",
         {{"widgetType", "List"},
          {"name", "Liste\n"},
          {"items", QVariantList{QVariantMap{{"completed", true}, {"text", "Äpfel & <Birnen>"}},
                                 QVariantMap{{"completed", false}, {"text", "p. Milch"}}}}},
         {}},
    };

    NoteBuilder builder;
    int sent = 0;
    for (const auto &row : rows) {
        OptionalError error;
        std::shared_ptr<RURUNote> note = builder.createNoteForWidget(row.widget, row.files, &error);
        ASSERT_TRUE(note) << row.name;
        note->setNotebookGuid(*created->guid());
        try {
            client.createNote("t", note);
            ++sent;
        } catch (const RURUUserException &e) {
            ADD_FAILURE() << row.name << " refused: " << e.parameter().value_or("") << "\n"
                          << note->content().value_or("");
        }
    }

    const QJsonArray notes = fake.notes();
    ASSERT_EQ(notes.size(), sent);
    for (const QJsonValue &value : notes) {
        for (const QJsonValue &resource : value["resources"].toArray()) {
            // The body travels once, as data.
            EXPECT_TRUE(resource["recognition"].isNull());
            const QByteArray body = QByteArray::fromBase64(resource["data"]["body"].toString().toLatin1());
            EXPECT_TRUE(body == pdf || body == png || body.startsWith("<html>"));
        }
    }
}

} // namespace
