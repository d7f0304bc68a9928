// A realistic account travels from the fake Backpack service into the fake
// NoteStore: notebooks and stack, every note's ENML and resources, the files
// on disk and what the delegate heard, in order.

#include "ImporterTestSupport.h"

#include <QDirIterator>
#include <QFile>
#include <QScopeGuard>
#include <QXmlStreamReader>

#include <sys/resource.h>

using namespace importertest;

namespace {

const QString kStack = QStringLiteral("acme Backpack Account");
const QString kCafe = QStringLiteral("Café Überblick ✓");
const QString kTwin = QStringLiteral("Zwillinge – Seite");
const QString kLinks = QStringLiteral("Nur Verweise");
const QString kOddName = QStringLiteral("../oben?x=1#frag..png");
const QString kHtmlBody = QStringLiteral("<html><body><p>Grüße, <b>Welt</b> &amp; mehr €</p></body></html>");

Site realisticSite()
{
    Site site;
    site.pages << PageBuilder("101", kCafe)
                      .note("n1", "Grüße *aus* Köln",
                            "h1. Überschrift\n\nEin _kleiner_ Text mit Ümläuten & Zeichen €.\n\n* eins\n* zwei")
                      .separator("s1", "— Teil 2 —")
                      .list("l1", "Einkäufe", {{"Äpfel", false}, {"Brot & Butter", true}})
                      .gallery("g1", "Fotos 📷",
                               {{"im1", "sonne.png", "Die *Sonne*"},
                                {"im2", "mönd bild.jpg", ""},
                                {"im3", kOddName, "Seltsamer Name"}})
                      .attachment("a1", "Bericht – Q1 & Q2.pdf")
                      .pageLink("p9", "Andere Seite")
                      .email("e1", "Re: Bestellung Nr. 42", "Hallo <Welt>,\nZeile zwei & drei.\nÄ Ö Ü")
                      .email("e2", "Newsletter <Frühling> \"2012\"", kHtmlBody)
                      .note("n2", QString(), "Ohne Titel, aber mit Text.");
    site.pages << PageBuilder("102", kTwin).note("n3", "Erste Hälfte", "eins");
    site.pages << PageBuilder("103", "  " + kTwin + " ").note("n4", "Zweite Hälfte", "zwei");
    site.pages << PageBuilder("104", kLinks).pageLink("p1", "Erste").separator("s2", "---");
    site.assets.insert("im1/sonne.png", bytesFor("sonne", 70000));
    site.assets.insert("im2/mönd bild.jpg", bytesFor("mond", 12345));
    site.assets.insert("im3/" + kOddName, bytesFor("odd", 999));
    // Above the default reply limit of the HTTP layer: an asset has its own.
    site.assets.insert("a1/Bericht – Q1 & Q2.pdf", bytesFor("pdf", 9 * 1024 * 1024 + 1));
    return site;
}

struct ParsedNote
{
    QString error; // empty when well-formed
    QString root;
    QStringList mediaHashes;
};

ParsedNote parseEnml(const QString &content)
{
    ParsedNote parsed;
    QXmlStreamReader reader(content);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (parsed.root.isEmpty())
            parsed.root = reader.name().toString();
        if (reader.name() == QLatin1String("en-media"))
            parsed.mediaHashes << reader.attributes().value("hash").toString();
    }
    if (reader.hasError())
        parsed.error = reader.errorString();
    return parsed;
}

QByteArray resourceBody(const QJsonValue &resource)
{
    return QByteArray::fromBase64(resource["data"]["body"].toString().toLatin1());
}

using ImporterEndToEnd = ImporterTest;

TEST_F(ImporterEndToEnd, RealisticAccountArrivesWhole)
{
    const Site site = realisticSite();
    useSite(site);
    auto api = makeAPI();
    const QList<BackpackPagePtr> pages = listedPages(*api);
    ASSERT_EQ(pages.size(), 4);

    RecordingDelegate delegate;
    runImport(delegate, pages, api);
    ASSERT_EQ(delegate.events.value(delegate.events.size() - 1), QStringLiteral("finish"))
        << (delegate.error ? delegate.error->toString() : QString()) << "\n"
        << delegate.events.join("\n");

    // Notebooks: one per distinct trimmed title, all in the account's stack.
    QMap<QString, QString> stackOf;
    for (const QJsonValue &nb : noteStore->notebooks())
        stackOf.insert(nb["name"].toString(), nb["stack"].toString());
    EXPECT_EQ(stackOf.keys(), (QStringList{kCafe, kLinks, kTwin}));
    EXPECT_EQ(stackOf.values(), QStringList(3, kStack));

    // Notes: both pages of the shared title keep their notes; the link-only
    // page gets an empty notebook.
    const QMap<QString, QJsonArray> notes = activeNotesByNotebook();
    EXPECT_EQ(notes.value(kCafe).size(), 7);
    EXPECT_EQ(notes.value(kTwin).size(), 2) << "the second page of the same title removed the first one's notes";
    EXPECT_EQ(notes.value(kLinks).size(), 0);

    // Every note: well-formed ENML under en-note, each media tag naming one
    // of its resources, each resource's hash and size matching its bytes,
    // each body sent once.
    QMap<QString, QJsonObject> byTitle;
    QStringList createdTitles;
    for (const QJsonValue &note : noteStore->notes()) {
        const QString title = note["title"].toString();
        SCOPED_TRACE(title.toStdString());
        byTitle.insert(title, note.toObject());
        createdTitles << title;
        const ParsedNote parsed = parseEnml(note["content"].toString());
        EXPECT_EQ(parsed.error, QString()) << note["content"].toString();
        EXPECT_EQ(parsed.root, QStringLiteral("en-note"));
        QStringList resourceHashes;
        for (const QJsonValue &resource : note["resources"].toArray()) {
            const QByteArray body = resourceBody(resource);
            EXPECT_EQ(resource["data"]["bodyHash"].toString(), md5Hex(body));
            EXPECT_EQ(resource["data"]["size"].toInt(), body.size());
            EXPECT_TRUE(resource["recognition"].isNull()) << "the body went twice";
            resourceHashes << md5Hex(body);
        }
        for (const QString &hash : parsed.mediaHashes)
            EXPECT_TRUE(resourceHashes.contains(hash)) << hash;
        EXPECT_EQ(parsed.mediaHashes.size(), resourceHashes.size());
    }

    // The files arrive byte for byte, the gallery's in image order.
    const QJsonArray gallery = byTitle.value("Fotos 📷")["resources"].toArray();
    ASSERT_EQ(gallery.size(), 3);
    EXPECT_EQ(resourceBody(gallery[0]), site.assets.value("im1/sonne.png"));
    EXPECT_EQ(resourceBody(gallery[1]), site.assets.value("im2/mönd bild.jpg"));
    EXPECT_EQ(resourceBody(gallery[2]), site.assets.value("im3/" + kOddName));
    EXPECT_EQ(gallery[0]["mime"].toString(), QStringLiteral("image/png"));
    EXPECT_EQ(gallery[1]["mime"].toString(), QStringLiteral("image/jpeg"));
    const QJsonArray attachment = byTitle.value("Bericht – Q1 & Q2.pdf")["resources"].toArray();
    ASSERT_EQ(attachment.size(), 1);
    EXPECT_EQ(resourceBody(attachment[0]), site.assets.value("a1/Bericht – Q1 & Q2.pdf"));
    EXPECT_EQ(attachment[0]["mime"].toString(), QStringLiteral("application/pdf"));

    // E-mails: the HTML one travels as its own text/html resource, the
    // plain one as escaped lines.
    const auto titled = [&](const char *start) {
        for (const QJsonObject &note : byTitle)
            if (note["title"].toString().startsWith(QLatin1String(start)))
                return note;
        return QJsonObject();
    };
    const QJsonArray htmlMail = titled("Newsletter")["resources"].toArray();
    ASSERT_EQ(htmlMail.size(), 1);
    EXPECT_EQ(htmlMail[0]["mime"].toString(), QStringLiteral("text/html"));
    EXPECT_EQ(resourceBody(htmlMail[0]), kHtmlBody.toUtf8());
    const QJsonObject plainMail = titled("Re: Bestellung");
    EXPECT_TRUE(plainMail["resources"].toArray().isEmpty());
    for (const QString &part : {QStringLiteral("Hallo &lt;Welt&gt;,<br/>"), QStringLiteral("Ä Ö Ü")})
        EXPECT_TRUE(plainMail["content"].toString().contains(part)) << plainMail["content"].toString();

    const QString list = byTitle.value("Einkäufe")["content"].toString();
    EXPECT_TRUE(list.contains(QStringLiteral("<en-todo checked=\"false\"/> Äpfel"))) << list;
    EXPECT_TRUE(list.contains(QStringLiteral("<en-todo checked=\"true\"/> Brot &amp; Butter"))) << list;
    EXPECT_TRUE(byTitle.contains("Untitled Note - 1"));
    EXPECT_TRUE(byTitle.value("Grüße aus Köln")["content"].toString().contains(QStringLiteral("Überschrift")));
    EXPECT_EQ(byTitle.value("Grüße aus Köln")["created"].toDouble(),
              double(QDateTime(QDate(2011, 2, 3), QTime(4, 5, 6)).toSecsSinceEpoch()) * 1000);

    // The delegate heard each page, each file, each note and the end, in
    // order, with the titles the notes were created under.
    ASSERT_EQ(createdTitles.size(), 9);
    int t = 0;
    const auto creating = [&](const QString &page, bool up) {
        return QStringLiteral("status creating note %1… [%2]%3").arg(createdTitles.value(t++), page, up ? " up" : "");
    };
    const auto downloading = [](const QString &file) {
        return QStringLiteral("status downloading %1… [%2] up").arg(file, kCafe);
    };
    const auto widget = [](const char *kind, const char *id, const QString &page) {
        return QStringLiteral("widget %1 %2 [%3]").arg(QLatin1String(kind), QLatin1String(id), page);
    };
    QStringList expected;
    expected << "will " + kCafe << creating(kCafe, false) << widget("Note", "n1", kCafe) << creating(kCafe, false)
             << widget("List", "l1", kCafe) << downloading("sonne.png") << downloading("mönd bild.jpg")
             << downloading(kOddName) << creating(kCafe, true) << widget("Gallery", "g1", kCafe)
             << downloading("Bericht – Q1 & Q2.pdf") << creating(kCafe, true) << widget("Asset", "a1", kCafe)
             << creating(kCafe, false) << widget("Email", "e1", kCafe) << creating(kCafe, false)
             << widget("Email", "e2", kCafe) << creating(kCafe, false) << widget("Note", "n2", kCafe) << "did " + kCafe;
    const QString twin2 = "  " + kTwin + " ";
    expected << "will " + kTwin << creating(kTwin, false) << widget("Note", "n3", kTwin) << "did " + kTwin;
    expected << "will " + twin2 << creating(twin2, false) << widget("Note", "n4", twin2) << "did " + twin2;
    expected << "will " + kLinks << "did " + kLinks << "finish";
    EXPECT_EQ(delegate.events, expected) << delegate.events.join("\n").toStdString();

    // One sign-in for the whole import; the odd name travels as one escaped
    // path segment and lands inside its asset folder.
    QStringList backpackPaths;
    for (const QJsonValue &r : backpack->requests())
        backpackPaths << r["path"].toString();
    EXPECT_EQ(backpackPaths.count(QStringLiteral("authenticate")), 1);
    EXPECT_TRUE(backpackPaths.contains(QStringLiteral("assets/im3/as/..%2Foben%3Fx%3D1%23frag..png")))
        << backpackPaths.join("\n");
    const QString assets = AssetDownloader::assetsPath();
    QFile odd(assets + QStringLiteral("/im3/.._oben?x=1#frag.-aa4b44da.png"));
    ASSERT_TRUE(odd.open(QIODevice::ReadOnly)) << odd.fileName();
    EXPECT_EQ(odd.readAll(), site.assets.value("im3/" + kOddName));
    QDirIterator files(dataHome->path(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        EXPECT_TRUE(path.startsWith(assets + QLatin1Char('/'))) << path;
    }
}

TEST_F(ImporterEndToEnd, ReimportReplacesTheEarlierNotes)
{
    const auto siteWith = [](const QString &soup, bool withList, int imageSize) {
        PageBuilder page("1", "Rezepte");
        page.note("n1", "Suppe", soup).gallery("g1", "Bilder", {{"i1", "a.png", ""}});
        if (withList)
            page.list("l1", "Einkauf", {{"Salz", false}});
        Site site;
        site.pages << page;
        site.assets.insert("i1/a.png", bytesFor("a", imageSize));
        return site;
    };
    useSite(siteWith("Wasser & Salz", false, 5000));
    auto api = makeAPI();
    // The same page objects serve both imports, as when the user imports the
    // listed pages again without reloading them.
    const QList<BackpackPagePtr> pages = listedPages(*api);
    RecordingDelegate first;
    runImport(first, pages, api);
    ASSERT_EQ(first.events.value(first.events.size() - 1), QStringLiteral("finish"));
    QStringList firstGuids;
    for (const QJsonValue &note : activeNotesByNotebook().value("Rezepte"))
        firstGuids << note["guid"].toString();
    ASSERT_EQ(firstGuids.size(), 2);

    // The page changed since: an edited note, a new list and a new image,
    // which is fetched again and replaces the earlier copy.
    const Site site = siteWith("Wasser & Pfeffer", true, 4000);
    useSite(site);
    RecordingDelegate second;
    runImport(second, pages, api);
    ASSERT_EQ(second.events.value(second.events.size() - 1), QStringLiteral("finish"));

    EXPECT_EQ(noteStore->notebooks().size(), 1);
    QStringList titles;
    for (const QJsonValue &note : activeNotesByNotebook().value("Rezepte")) {
        titles << note["title"].toString();
        EXPECT_FALSE(firstGuids.contains(note["guid"].toString()));
        if (note["title"].toString() == QLatin1String("Suppe")) {
            EXPECT_TRUE(note["content"].toString().contains(QStringLiteral("Pfeffer"))) << note["content"].toString();
        }
        for (const QJsonValue &resource : note["resources"].toArray())
            EXPECT_EQ(resourceBody(resource), site.assets.value("i1/a.png"));
    }
    titles.sort();
    EXPECT_EQ(titles, (QStringList{"Bilder", "Einkauf", "Suppe"}));
    QFile file(AssetDownloader::assetsPath() + QStringLiteral("/i1/a.png"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), site.assets.value("i1/a.png"));
}

// Memory stays flat over a long import: a page's document is held only while
// that page is imported.
TEST_F(ImporterEndToEnd, OnlyThePageBeingImportedKeepsItsDocument)
{
    Site site;
    for (const char *id : {"1", "2", "3"})
        site.pages << PageBuilder(id, QStringLiteral("Seite %1").arg(id)).note(QStringLiteral("n%1").arg(id), "N", "T");
    useSite(site);
    auto api = makeAPI();
    const QList<BackpackPagePtr> pages = listedPages(*api);
    RecordingDelegate delegate;
    QStringList holding; // per page event: the titles of the pages that hold a document
    delegate.onEvent = [&](RavadidoFromBackpackImporter *, const QString &event) {
        if (!event.startsWith(QLatin1String("will ")) && !event.startsWith(QLatin1String("did ")))
            return;
        QStringList titles;
        for (const BackpackPagePtr &page : pages)
            if (!page->contents().isNull())
                titles << page->title();
        holding << event + QStringLiteral(": ") + titles.join(QLatin1Char(','));
    };
    runImport(delegate, pages, api);
    ASSERT_EQ(delegate.events.value(delegate.events.size() - 1), QStringLiteral("finish"));
    EXPECT_EQ(holding, (QStringList{"will Seite 1: ", "did Seite 1: Seite 1", "will Seite 2: ", "did Seite 2: Seite 2",
                                    "will Seite 3: ", "did Seite 3: Seite 3"}));
    for (const BackpackPagePtr &page : pages)
        EXPECT_TRUE(page->contents().isNull()) << page->title();

    // A failed page lets go of its document as well.
    noteStore->injectFault(QStringLiteral("createNote"), {{"mode", "systemException"}, {"errorCode", 3}});
    RecordingDelegate failing;
    runImport(failing, pages, api);
    ASSERT_EQ(failing.events.value(failing.events.size() - 1), QStringLiteral("fail"));
    for (const BackpackPagePtr &page : pages)
        EXPECT_TRUE(page->contents().isNull()) << page->title();
}

// A gallery's note keeps every image's file open until it is sent: the
// import lifts a soft limit of open files far below that to the hard one.
TEST_F(ImporterEndToEnd, LargeGalleryOutgrowsALowSoftLimitOfOpenFiles)
{
    QList<QStringList> images;
    Site site;
    for (int i = 0; i < 100; ++i) {
        const QString id = QStringLiteral("b%1").arg(i);
        images << QStringList{id, id + ".png", QString()};
        site.assets.insert(id + "/" + id + ".png", bytesFor(id, 200));
    }
    site.pages << PageBuilder("1", "Album").gallery("g1", "Hundert", images);
    useSite(site);
    struct rlimit before = {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &before); });
    const struct rlimit low = {64, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);

    RecordingDelegate delegate;
    auto api = makeAPI();
    runImport(delegate, listedPages(*api), api);
    ASSERT_EQ(delegate.events.value(delegate.events.size() - 1), QStringLiteral("finish"))
        << (delegate.error ? delegate.error->toString() : QString());
    const QJsonArray notes = noteStore->notes();
    ASSERT_EQ(notes.size(), 1);
    EXPECT_EQ(notes[0]["resources"].toArray().size(), 100);
}

// Local names apart by case alone are two files, each note with its own.
TEST_F(ImporterEndToEnd, NamesApartByCaseAloneAreTwoFiles)
{
    Site site;
    site.pages << PageBuilder("1", "Fall").attachment("f", "a.png").attachment("F", "A.png");
    site.assets.insert("f/a.png", bytesFor("klein", 300));
    site.assets.insert("F/A.png", bytesFor("gross", 400));
    useSite(site);
    RecordingDelegate delegate;
    auto api = makeAPI();
    runImport(delegate, listedPages(*api), api);
    QMap<QString, QByteArray> attached;
    for (const QJsonValue &note : noteStore->notes())
        attached.insert(note["title"].toString(), resourceBody(note["resources"][0]));
    EXPECT_EQ(attached, (QMap<QString, QByteArray>{{"a.png", site.assets.value("f/a.png")},
                                                   {"A.png", site.assets.value("F/A.png")}}));
}

TEST_F(ImporterEndToEnd, EmptyPageListOnlyFinishes)
{
    useSite(Site{});
    RecordingDelegate delegate;
    runImport(delegate, {});
    EXPECT_EQ(delegate.events, QStringList{QStringLiteral("finish")});
    EXPECT_TRUE(noteStore->notebooks().isEmpty());
}

} // namespace
