#include "app/NoteBuilder.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <future>
#include <tuple>

using ravadido::RURUNote;
using ravadido::RURUResource;

namespace {

const QString kHead = QStringLiteral(
    R"(<?xml version="1.0" encoding="UTF-8"?><!DOCTYPE en-note SYSTEM "http://xml.ravadido.com/pub/enml2.dtd"><en-note>)");

QString qs(const std::optional<std::string> &text)
{
    return QString::fromStdString(text.value_or(std::string()));
}

// What a test learns from parsing a note's content as XML.
struct Enml
{
    bool wellFormed = false;
    QString root;
    QStringList mediaHashes;
    QString text;
};

Enml parseEnml(const RURUNote &note)
{
    Enml enml;
    QXmlStreamReader reader(qs(note.content()));
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isCharacters())
            enml.text += reader.text();
        if (!reader.isStartElement())
            continue;
        if (enml.root.isEmpty())
            enml.root = reader.name().toString();
        if (reader.name() == QLatin1String("en-media"))
            enml.mediaHashes << reader.attributes().value("hash").toString();
    }
    enml.wellFormed = !reader.hasError();
    return enml;
}

class NoteBuilderTest : public testing::Test
{
protected:
    QTemporaryDir dir;
    std::atomic<bool> stop{false};
    NoteBuilder builder{[this] { return stop.load(); }};

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    static QByteArray png(char seed)
    {
        return QByteArray::fromHex("89504e470d0a1a0a0000000d49484452") + QByteArray(64, seed);
    }
};

const QDateTime kCreated(QDate(2009, 3, 14), QTime(15, 9, 26, 535), Qt::UTC);

QVariantMap image(const QString &id, const QString &name, const QString &description)
{
    return {{"widgetType", "Image"}, {"backpackID", id}, {"filename", name}, {"description", description}};
}

QVariantMap item(bool completed, const QString &text)
{
    return {{"widgetType", "ListItem"}, {"completed", completed}, {"text", text}};
}

TEST_F(NoteBuilderTest, RichTextileBecomesWellFormedEnml)
{
    const auto note = builder.createNoteForWidget(
        {{"widgetType", "Note"},
         {"title", "Reich & *schön*"},
         {"text", "h1. Überschrift\n\n* Punkt _eins_\n* Punkt *zwei*\n\n"
                  "|_. Name |_. Wert |\n| Größe | 5 < 6 |\n\n"
                  "p(klasse). Absatz mit \"Link\":http://example.org/ö & mehr&nbsp;\n\n"
                  "Mail: jörg@example.de, *fett _kursiv* ende_ www.example.org"}},
        {});
    ASSERT_TRUE(note);
    EXPECT_EQ(qs(note->title()), "Reich & schön");
    const QString content = qs(note->content());
    EXPECT_TRUE(content.startsWith(kHead)) << content.toStdString();
    const Enml enml = parseEnml(*note);
    ASSERT_TRUE(enml.wellFormed) << content.toStdString();
    EXPECT_EQ(enml.root, QStringLiteral("en-note"));
    for (const char *word :
         {"Überschrift", "Punkt eins", "Größe", "5 < 6", "Absatz mit Link & mehr", "jörg@example.de"})
        EXPECT_TRUE(enml.text.contains(QString::fromUtf8(word))) << word << " in " << content.toStdString();
    EXPECT_FALSE(note->notebookGuidIsSet());
}

// The exact body each kind writes between "<en-note>" and "</en-note>".
TEST_F(NoteBuilderTest, BodiesFollowTheLayoutOfTheirKind)
{
    const auto md5 = [](const QByteArray &bytes) {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
    };
    const QByteArray bytes = png('g');
    const QString path = writeFile("g.png", bytes);
    const QString media = QStringLiteral(R"(<en-media type="image/png" hash="%1"/>)").arg(md5(bytes));
    const QByteArray binary("Inhalt \xff\x00 binär", 16);
    const QString binPath = writeFile("daten.bin", binary);
    const QByteArray pdf("%PDF-1.4\n1 0 obj << >> endobj\ntrailer << >>\n%%EOF\n");
    const QString pdfPath = writeFile("x.png", pdf);
    const struct
    {
        const char *name;
        QVariantMap widget;
        QList<DownloadedAsset> files;
        QString body;
    } rows[] = {
        {"list",
         {{"widgetType", "List"},
          {"name", "L"},
          {"items", QVariantList{item(true, "a *b*"), item(false, "c & d"), QVariantMap{{"text", "e"}}}}},
         {},
         R"(<en-todo checked="true"/> a <strong>b</strong><br/><en-todo checked="false"/> c &amp; d<br/>)"
         R"(<en-todo checked="false"/> e<br/>)"},
        // Text that only looks like a tag stays text: the service would
        // refuse an unknown element.
        {"listItemThatLooksLikeATag",
         {{"widgetType", "List"}, {"name", "L"}, {"items", QVariantList{item(false, "Buy <adapter> & charger")}}},
         {},
         R"(<en-todo checked="false"/> Buy &lt;adapter&gt; &amp; charger<br/>)"},
        {"noteWithForbiddenMarkup",
         {{"widgetType", "Note"},
          {"title", "T"},
          {"text", R"(<form>Name <input type="text"> <b class="k">fett</b></form>)"}},
         {},
         "<p>Name  <b>fett</b></p>"},
        {"galleryWithAndWithoutDescription",
         {{"widgetType", "Gallery"},
          {"name", "G"},
          {"images", QVariantList{image("1", "g.png", "Die *Sonne*"), image("2", "g.png", "")}}},
         {path, path},
         media + "<br/><p>Die <strong>Sonne</strong></p><br/><br/>" + media + "<br/><br/>"},
        {"emptyGallery", {{"widgetType", "Gallery"}, {"name", "G"}}, {}, ""},
        {"plainEmail",
         {{"widgetType", "Email"}, {"subject", "S"}, {"body", "Hi <a href=\"mailto:x@y.z\">X</a> & <b>\nzwei\n"}},
         {},
         "Hi x@y.z &amp; &lt;b&gt;<br/>zwei<br/><br/>"},
        {"emptyPlainEmail", {{"widgetType", "Email"}, {"subject", "S"}}, {}, "<br/>"},
        {"note", {{"widgetType", "Note"}, {"title", "T"}, {"text", "eins & zwei"}}, {}, "<p>eins &amp; zwei</p>"},
        {"noteTextWithMarkupCharacters",
         {{"widgetType", "Note"}, {"title", "T"}, {"text", "if a < b && b > c ]]> then"}},
         {},
         "<p>if a &lt; b &amp;&amp; b &gt; c ]]&gt; then</p>"},
        {"attachment",
         {{"widgetType", "Asset"}, {"filename", "daten.bin"}},
         {binPath},
         QStringLiteral(R"(<en-media type="application/octet-stream" hash="%1"/>)").arg(md5(binary))},
        // A PDF signature outweighs the name.
        {"pdfNamedAsPng",
         {{"widgetType", "Asset"}, {"filename", "x.png"}},
         {pdfPath},
         QStringLiteral(R"(<en-media type="application/pdf" hash="%1"/>)").arg(md5(pdf))},
        // The subject is escaped fully inside the media tag's title.
        {"htmlEmail",
         {{"widgetType", "Email"}, {"subject", R"(A "B" < C & D > E)"}, {"body", "<html>x</html>"}},
         {},
         QStringLiteral(R"(<en-media title="A &quot;B&quot; &lt; C &amp; D &gt; E" type="text/html" hash="%1"/>)")
             .arg(md5("<html>x</html>"))},
        // Only a lower-case "<html>" makes the body HTML.
        {"capitalHtmlIsPlain",
         {{"widgetType", "Email"}, {"subject", "s"}, {"body", "<HTML>a\nb"}},
         {},
         "&lt;HTML&gt;a<br/>b<br/>"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        OptionalError error;
        const auto note = builder.createNoteForWidget(row.widget, row.files, &error);
        ASSERT_TRUE(note) << (error ? error->toString().toStdString() : "");
        EXPECT_EQ(qs(note->content()).toStdString(), (kHead + row.body + QStringLiteral("</en-note>")).toStdString());
        // One resource per media tag; each body sent once, as data, with its
        // own hash and size.
        const auto resources = note->resources().value_or(std::vector<std::shared_ptr<RURUResource>>{});
        EXPECT_EQ(resources.size(), size_t(row.body.count(QLatin1String("<en-media"))));
        for (const auto &resource : resources) {
            const std::string_view body = resource->data()->body()->view();
            const std::string_view hash = resource->data()->bodyHash()->view();
            EXPECT_EQ(md5(QByteArray(body.data(), qsizetype(body.size()))),
                      QString::fromLatin1(QByteArray(hash.data(), qsizetype(hash.size())).toHex()));
            EXPECT_EQ(resource->data()->size(), std::int32_t(body.size()));
            EXPECT_FALSE(resource->recognitionIsSet());
        }
    }
}

TEST_F(NoteBuilderTest, CreatedIsWholeSecondsInMilliseconds)
{
    const auto withDate = builder.createNoteForNote(
        {{"widgetType", "Note"}, {"createdAt", kCreated}, {"title", "t"}, {"text", "x"}});
    EXPECT_EQ(withDate->created(), kCreated.toSecsSinceEpoch() * 1000);
    const auto withoutDate = builder.createNoteForEmail({{"widgetType", "Email"}});
    EXPECT_TRUE(withoutDate->createdIsSet());
    EXPECT_EQ(withoutDate->created(), 0);
}

TEST_F(NoteBuilderTest, EmptyTitlesAreNumberedPerRun)
{
    const auto title = [](const std::shared_ptr<RURUNote> &note) { return qs(note->title()); };
    EXPECT_EQ(title(builder.createNoteForNote({{"widgetType", "Note"}, {"title", " "}})), "Untitled Note - 1");
    EXPECT_EQ(title(builder.createNoteForNote({{"widgetType", "Note"}, {"title", "Da"}})), "Da");
    EXPECT_EQ(title(builder.createNoteForList({{"widgetType", "List"}})), "Untitled Note - 2");
    EXPECT_EQ(title(builder.createNoteForEmail({{"widgetType", "Email"}, {"subject", " "}})), "Untitled Note - 3");
    builder.resetUntitledCount();
    EXPECT_EQ(title(builder.createNoteForGallery({{"widgetType", "Gallery"}}, {})), "Untitled Note - 1");
}

TEST_F(NoteBuilderTest, NoteTitleLinkLeadsTheText)
{
    const auto note = builder.createNoteForNote(
        {{"widgetType", "Note"}, {"title", R"("Wiki":http://example.org/wiki)"}, {"text", "Eintrag"}});
    const Enml enml = parseEnml(*note);
    ASSERT_TRUE(enml.wellFormed);
    EXPECT_EQ(qs(note->title()), "Wiki");
    const qsizetype link = enml.text.indexOf(QLatin1String("http://example.org/wiki"));
    ASSERT_GE(link, 0);
    EXPECT_GT(enml.text.indexOf(QLatin1String("Eintrag")), link);
}

// A digest handed on with the file is taken as it is, never computed again;
// a file that no longer has the downloaded size is not the asset, nor is
// anything but a plain file that no other program holds locked. Whatever
// lies at the name, the answer comes at once, the system's reason in the
// description that the alert shows.
TEST_F(NoteBuilderTest, KnownDigestIsUsedWhileItFitsTheFile)
{
    const QByteArray bytes = png('k');
    const QString path = writeFile("k.png", bytes);
    const QByteArray real = QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
    // Not the file's digest: only taken over, never computed, can it arrive.
    const QByteArray known(16, '\x5a');
    const QString fifo = dir.filePath("fifo.png"), link = dir.filePath("verweis.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()), 0);
    const QString locked = writeFile("gesperrt.png", bytes);
    const int other = ::open(QFile::encodeName(locked).constData(), O_RDONLY | O_CLOEXEC);
    const auto unlock = qScopeGuard([other] { ::close(other); });
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    const QString changed = QStringLiteral("The file “%1” in the folder\n“%2”\nchanged after it was downloaded.");
    const QString notPlain = QStringLiteral("The file “%1” in the folder\n“%2”\nis not a plain file.");
    const QString inUse = QStringLiteral("The file “%1” in the folder\n“%2”\nis in use by another program.");
    const QByteArray emptyMd5 = QCryptographicHash::hash({}, QCryptographicHash::Md5);
    // Recorded as the download committed it; then its id folder is swapped
    // for a link to a folder with a file of that size, or it is replaced by one.
    const auto committed = [&](const QString &file) {
        struct stat st = {};
        EXPECT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
        return DownloadedAsset(file, known, bytes.size(), st.st_dev, st.st_ino);
    };
    QDir folder(dir.path());
    ASSERT_TRUE(folder.mkpath("a1") && folder.mkpath("b2"));
    const DownloadedAsset swapped = committed(writeFile("a1/k.png", bytes));
    writeFile("b2/k.png", png('s'));
    ASSERT_TRUE(folder.rename("a1", "a1.alt") && QFile::link(dir.filePath("b2"), dir.filePath("a1")));
    const DownloadedAsset replaced = committed(writeFile("r.png", bytes));
    const QByteArray newer = QFile::encodeName(writeFile("r2.png", png('r')));
    ASSERT_EQ(::rename(newer.constData(), QFile::encodeName(replaced.path).constData()), 0);
    DownloadedAsset elsewhere = committed(path);
    ++elsewhere.device;
    const QString notTheDownload = QStringLiteral(
        "The file “%1” in the folder\n“%2”\nis no longer the one that was downloaded.");
    const struct
    {
        const char *name;
        DownloadedAsset file;
        QByteArray hash;
        QString error = {}; // when there is no hash
    } rows[] = {
        // clang-format off
        {"known",                          {path, known, bytes.size()},     known},
        {"knownAndTheVeryFile",            committed(path),                 known},
        {"idFolderSwappedForALink",        swapped,                         {}, notTheDownload},
        {"replacedBySameSize",             replaced,                        {}, notTheDownload},
        {"sameInodeOnAnotherDevice",       elsewhere,                       {}, notTheDownload},
        {"grownSinceItsDownload",          {path, known, bytes.size() - 1}, {}, changed},
        {"shrunkSinceItsDownload",         {path, known, bytes.size() + 1}, {}, changed},
        {"downloadedEmptyLaterHoldsBytes", {path, emptyMd5, 0},             {}, changed},
        {"none",                           {path},                          real},
        {"fifo",                           {fifo},                          {}, notPlain},
        {"symbolicLink",                   {link},                          {}, notPlain},
        {"lockedByAnotherProgram",         {locked},                        {}, inUse},
        {"removedSinceItsDownload",        {dir.filePath("weg.png")},       {},
         "The downloaded file “%1” in the folder\n“%2”\ncould not be read: " + systemReason(ENOENT) + "."},
        // clang-format on
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        OptionalError error;
        auto call = std::async(std::launch::async,
                               [&] { return NoteBuilder::ravadidoDataWithContentsOfFile(row.file, &error); });
        // Should an open wait for a writer, one comes: the test fails instead of hanging.
        const bool waited = call.wait_for(std::chrono::seconds(5)) == std::future_status::timeout;
        if (waited)
            ::close(::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        EXPECT_FALSE(waited) << "the open waited for a writer";
        const auto data = call.get();
        if (row.hash.isEmpty()) {
            EXPECT_FALSE(data);
            EXPECT_EQ((error ? error->localizedDescription : QString()).toStdString(),
                      row.error.arg(QFileInfo(row.file.path).fileName(), QFileInfo(row.file.path).absolutePath())
                          .toStdString());
            // What another program did, a new download undoes.
            const bool undone = row.error == changed || row.error == notTheDownload;
            EXPECT_EQ(error ? error->localizedRecoverySuggestion : QString(),
                      undone ? QStringLiteral("Import the page again.") : QString());
            continue;
        }
        ASSERT_TRUE(data);
        EXPECT_EQ(data->body()->view(), bytes.toStdString());
        const std::string_view hash = data->bodyHash()->view();
        EXPECT_EQ(QByteArray(hash.data(), qsizetype(hash.size())).toHex(), row.hash.toHex());
    }

    // The record keeps the bytes it was made from when a new copy is
    // renamed over the file; an empty file gives an empty body.
    const auto data = NoteBuilder::ravadidoDataWithContentsOfFile({path});
    ASSERT_TRUE(data);
    const QString empty = writeFile("leer.png", QByteArray());
    ASSERT_EQ(std::rename(QFile::encodeName(empty).constData(), QFile::encodeName(path).constData()), 0);
    EXPECT_EQ(data->body()->view(), bytes.toStdString());
    const auto none = NoteBuilder::ravadidoDataWithContentsOfFile({path});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->size(), 0);
    EXPECT_EQ(none->bodyHash()->size(), 16u);
    EXPECT_TRUE(none->body()->empty());
}

TEST_F(NoteBuilderTest, CancelledGalleryGivesNoNoteAndNoError)
{
    const QString path = writeFile("a.png", png('a'));
    stop = true;
    OptionalError error;
    EXPECT_FALSE(builder.createNoteForGallery(
        {{"widgetType", "Gallery"}, {"images", QVariantList{image("1", "a.png", "")}}}, {path}, &error));
    EXPECT_FALSE(error);
}

TEST_F(NoteBuilderTest, MissingFilesAndUnknownTypesAreErrors)
{
    OptionalError error;
    EXPECT_FALSE(builder.createNoteForAttachment({{"widgetType", "Asset"}}, {dir.filePath("fehlt.pdf")}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, QStringLiteral("com.tallgrove.leafhaul"));
    error.reset();
    EXPECT_FALSE(builder.createNoteForAttachment({{"widgetType", "Asset"}}, {}, &error));
    EXPECT_TRUE(error);
    error.reset();
    EXPECT_FALSE(builder.createNoteForWidget({{"widgetType", "Separator"}}, {}, &error));
    EXPECT_TRUE(error);
}

TEST_F(NoteBuilderTest, MimeTypes)
{
    const QByteArray elf = QByteArray("\177ELF\x02\x01\x01", 7) + QByteArray(64, '\0');
    const QByteArray pe = "MZ" + QByteArray(0x3A, '\0') + QByteArray("\x40\0\0\0PE\0\0", 8);
    // The name's type holds unless the bytes clearly are of another kind.
    const std::tuple<const char *, QByteArray, const char *> rows[] = {
        {"bild", png('x'), "image/png"},
        {"x.unbekannt", QByteArray("\x01\x02\x03\xff", 4), "application/octet-stream"},
        {"README.md", "<!-- badge -->\n# Leafhaul\n", "text/markdown"},
        {"leer.png", "", "image/png"},
        {"z.svg", R"(<?xml version="1.0"?><svg xmlns="http://www.w3.org/2000/svg"/>)", "image/svg+xml"},
        {"t.csv", "a,b\n1,2\n", "text/csv"},
        {"bericht.docx", QByteArray("PK\x03\x04", 4) + QByteArray(64, 'a'),
         "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"libx.so", elf, "application/x-sharedlib"},
        {"programm.txt", elf, "application/x-executable"},
        {"setup.txt", pe, "application/x-ms-dos-executable"},
        {"mz.txt", "MZ is a plain text", "text/plain"},
    };
    for (const auto &[name, bytes, type] : rows)
        EXPECT_EQ(NoteBuilder::mimeTypeForPath(writeFile(name, bytes)).toStdString(), type) << name;
    OptionalError error;
    NoteBuilder::mimeTypeForPath(dir.filePath("fehlt"), &error);
    EXPECT_TRUE(error);
}

TEST(NoteBuilder, AssetURLs)
{
    const QUrl account(QStringLiteral("https://gruen.backpackit.example/"));
    const struct
    {
        const char *name;
        QVariantMap widget;
        QString path; // fully encoded path, empty for no URL
    } rows[] = {
        {"asset", {{"widgetType", "Asset"}, {"backpackID", "12"}, {"filename", "a b.pdf"}}, "/assets/12/as/a%20b.pdf"},
        {"reservedCharacters",
         {{"widgetType", "Image"}, {"backpackID", "3"}, {"filename", "x?y#z/../w&v=1.png"}},
         "/assets/3/as/x%3Fy%23z%2F..%2Fw%26v%3D1.png"},
        {"percentStaysLiteral",
         {{"widgetType", "Asset"}, {"backpackID", "2"}, {"filename", "100%25 mehr.txt"}},
         "/assets/2/as/100%2525%20mehr.txt"},
        {"nonAscii",
         {{"widgetType", "Gallery"}, {"backpackID", "4"}, {"filename", "Ärger.jpg"}},
         "/assets/4/as/%C3%84rger.jpg"},
        {"identifierIsOneSegment",
         {{"widgetType", "Asset"}, {"backpackID", "5/6"}, {"filename", "f"}},
         "/assets/5%2F6/as/f"},
        {"notAnAsset", {{"widgetType", "Note"}, {"backpackID", "1"}, {"filename", "f"}}, ""},
    };
    for (const auto &row : rows) {
        const QUrl url = NoteBuilder::assetURLForWidget(row.widget, account);
        if (row.path.isEmpty()) {
            EXPECT_TRUE(url.isEmpty()) << row.name;
            continue;
        }
        ASSERT_TRUE(url.isValid()) << row.name;
        EXPECT_EQ(url.host(), QStringLiteral("gruen.backpackit.example")) << row.name;
        EXPECT_EQ(url.path(QUrl::FullyEncoded), row.path) << row.name;
        EXPECT_FALSE(url.hasQuery()) << row.name;
        EXPECT_FALSE(url.hasFragment()) << row.name;
    }
}

// Titles and notebook names are trimmed, cut to the service's limits at a
// character boundary, and never empty.
TEST_F(NoteBuilderTest, TitlesAndNamesFitTheServiceLimits)
{
    const QString longTitle = QString(200, QChar(0x00FC)) + QStringLiteral(" \U0001F600")
                              + QString(100, QLatin1Char('x'));
    const QString title = qs(builder.createNoteForNote({{"widgetType", "Note"}, {"title", longTitle}})->title());
    EXPECT_EQ(title.size(), 255);
    EXPECT_TRUE(title.endsWith(QStringLiteral("\U0001F600") + QString(52, QLatin1Char('x'))));
    EXPECT_EQ(NoteBuilder::fixupNotebookTitle(QStringLiteral("  Seite\t\n")), "Seite");
    EXPECT_EQ(NoteBuilder::fixupNotebookTitle(QStringLiteral(" \n ")), "Untitled Notebook");
    EXPECT_EQ(NoteBuilder::fixupNotebookTitle(QString(150, QChar(0x00E4))), QString(100, QChar(0x00E4)));
    EXPECT_EQ(NoteBuilder::notebookStackName(QStringLiteral("größe")), "größe Backpack Account");
    EXPECT_EQ(NoteBuilder::notebookStackName(QString(120, QLatin1Char('s'))).size(), 100);
}

} // namespace
