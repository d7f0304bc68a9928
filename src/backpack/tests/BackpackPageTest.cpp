#include "backpack/TGBackpackPage.h"

#include <QLocale>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

const char *kPage = R"(<?xml version="1.0" encoding="UTF-8"?>
<response success="true">
  <page id="7" title="Home">
    <belongings>
      <belonging id="b1" position="1">
        <widget id="n1" type="Note"/>
      </belonging>
      <belonging id="b2" position="2">
        <widget id="l1" type="List"/>
      </belonging>
      <belonging id="b3" position="3">
        <widget id="w1" type="WriteboardLink"/>
      </belonging>
      <belonging id="b4" position="4">
        <widget id="g1" type="Gallery"/>
      </belonging>
      <belonging id="b5" position="5">
        <widget id="a1" type="Asset"/>
      </belonging>
      <belonging id="b6" position="6">
        <widget id="x1" type="Poll"/>
      </belonging>
      <belonging id="b7" position="7">
        <widget id="e1" type="Email"/>
      </belonging>
      <belonging id="b8" position="8">
        <widget id="s1" type="Separator"/>
      </belonging>
      <belonging id="b9" position="9">
        <widget id="n404" type="Note"/>
      </belonging>
      <belonging id="b10" position="10">
        <widget id="p2" type="PageLink"/>
      </belonging>
      <belonging id="b11" position="11">
        <widget id="n2" type="Note"/>
      </belonging>
      <belonging id="b12" position="12">
        <widget id="e2" type="Email"/>
      </belonging>
      <belonging id="b13" position="13">
        <widget id="it's" type="List"/>
      </belonging>
      <belonging id="b14" position="14">
        <widget id="it's" type="Gallery"/>
      </belonging>
      <belonging id="b15" position="15">
      </belonging>
      <belonging id="b16" position="16">
        <widget id="l2" type="List"/>
      </belonging>
    </belongings>
    <notes>
      <note id="n1" created_at="2009-03-04 05:06:07" title="Say &amp;quot;hi&amp;quot; &amp;amp; go">Body *text*</note>
      <note id="n2" created_at="March 4" title="Kept">Still here</note>
    </notes>
    <lists>
      <list id="l1" name="Groceries"/>
      <list id="it's" name="Apostrophe"/>
      <list id="l2" name="Empty"/>
    </lists>
    <items>
      <item id="i1" list_id="l1" completed="false">first</item>
      <item id="i2" list_id="l1" completed="true">second</item>
      <item id="i3" list_id="l1">third</item>
      <item id="i4" list_id="l1" completed="true">fourth</item>
      <item id="i5" list_id="l1" completed="true"></item>
      <item id="i6" list_id="it's" completed="TRUE">apostrophe item</item>
    </items>
    <galleries>
      <gallery id="g1" name="Photos"/>
      <gallery id="it's" name="Odd"/>
    </galleries>
    <images>
      <image id="im1" gallery_id="g1" file_name="a.png" description="First"/>
      <image id="im9" gallery_id="it's" file_name="z.png" description="Odd one"/>
      <image id="im2" gallery_id="g1" file_name="b b.jpg"/>
    </images>
    <attachments>
      <attachment id="a1" file_name="report.pdf"/>
    </attachments>
    <emails>
      <email id="e1" created_at="2010-12-31 23:59:58" subject="Hello &lt;you&gt;">Mail body</email>
      <email id="e2" created_at="2010-01-02 03:04:05">No subject</email>
    </emails>
    <separators>
      <separator id="s1">----</separator>
    </separators>
    <pages>
      <page id="p2" title="Other &amp;amp; page"/>
    </pages>
  </page>
</response>
)";

QString compact(const QString &text)
{
    return QString(text).replace(QRegularExpression(QStringLiteral(">\\s+<")), QStringLiteral("><"));
}

XmlDocument parse(const QString &text)
{
    OptionalError error;
    auto document = XmlDocument::parse(text.toUtf8(), &error);
    EXPECT_TRUE(document) << (error ? error->toString().toStdString() : "");
    return document.value_or(XmlDocument());
}

// "type:id" of each record, and the records' keys.
QString summary(const WidgetRecord &r)
{
    return r.value("widgetType").toString() + ":" + r.value("backpackID").toString() + "["
           + QStringList(r.keys()).join(',') + "]";
}

QString itemSummary(const QVariant &v)
{
    const QVariantMap m = v.toMap();
    return m.value("backpackID").toString() + "/" + QString::number(m.value("position").toInt()) + "/"
           + (m.value("completed").toBool() ? "done" : "open") + "/" + m.value("text").toString();
}

TEST(BackpackPage, WidgetsFollowThePageOrderInIndentedAndCompactDocuments)
{
    for (bool isCompact : {false, true}) {
        SCOPED_TRACE(isCompact ? "compact" : "indented");
        TGBackpackPage page(QStringLiteral("7"), QStringLiteral("Home"), QStringLiteral("private"));
        page.setContents(parse(isCompact ? compact(QString::fromUtf8(kPage)) : QString::fromUtf8(kPage)));
        const QList<WidgetRecord> widgets = page.widgets();
        QStringList got;
        for (const auto &w : widgets)
            got << summary(w);
        EXPECT_EQ(got, (QStringList{
                           "Note:n1[backpackID,createdAt,text,title,widgetType]",
                           "List:l1[backpackID,items,name,widgetType]",
                           "Gallery:g1[backpackID,images,name,widgetType]",
                           "Asset:a1[backpackID,filename,widgetType]",
                           "Email:e1[backpackID,body,createdAt,subject,widgetType]",
                           "Separator:s1[backpackID,text,widgetType]",
                           "PageLink:p2[backpackID,title,widgetType]",
                           "Note:n2[backpackID,text,title,widgetType]",
                           "Email:e2[backpackID,body,createdAt,widgetType]",
                           "List:it's[backpackID,items,name,widgetType]",
                           "Gallery:it's[backpackID,images,name,widgetType]",
                           "List:l2[backpackID,items,name,widgetType]",
                       }));
        ASSERT_EQ(widgets.size(), 12);

        const WidgetRecord note = widgets[0];
        EXPECT_EQ(note["title"].toString(), QStringLiteral("Say \"hi\" &amp; go"));
        EXPECT_EQ(note["text"].toString(), QStringLiteral("Body *text*"));
        EXPECT_EQ(note["createdAt"].toDateTime(), QDateTime(QDate(2009, 3, 4), QTime(5, 6, 7)));

        QStringList items;
        for (const QVariant &v : widgets[1]["items"].toList())
            items << itemSummary(v);
        EXPECT_EQ(items, (QStringList{"i1/1/open/first", "i3/2/open/third", "i5/3/done/", "i4/4/done/fourth",
                                      "i2/5/done/second"}));
        EXPECT_EQ(widgets[1]["name"].toString(), QStringLiteral("Groceries"));

        const QVariantList images = widgets[2]["images"].toList();
        ASSERT_EQ(images.size(), 2);
        EXPECT_EQ(images[0].toMap(), (QVariantMap{{"widgetType", "Image"},
                                                  {"backpackID", "im1"},
                                                  {"filename", "a.png"},
                                                  {"description", "First"},
                                                  {"position", QVariant::fromValue<quint64>(1)}}));
        EXPECT_EQ(images[1].toMap(), (QVariantMap{{"widgetType", "Image"},
                                                  {"backpackID", "im2"},
                                                  {"filename", "b b.jpg"},
                                                  {"position", QVariant::fromValue<quint64>(2)}}));

        EXPECT_EQ(widgets[3]["filename"].toString(), QStringLiteral("report.pdf"));
        EXPECT_EQ(widgets[4]["subject"].toString(), QStringLiteral("Hello <you>"));
        EXPECT_EQ(widgets[4]["body"].toString(), QStringLiteral("Mail body"));
        EXPECT_EQ(widgets[4]["createdAt"].toDateTime(), QDateTime(QDate(2010, 12, 31), QTime(23, 59, 58)));
        EXPECT_EQ(widgets[5]["text"].toString(), QStringLiteral("----"));
        EXPECT_EQ(widgets[6]["title"].toString(), QStringLiteral("Other &amp; page"));
        // A date that does not parse loses only the date.
        EXPECT_EQ(widgets[7]["title"].toString(), QStringLiteral("Kept"));
        EXPECT_EQ(widgets[7]["text"].toString(), QStringLiteral("Still here"));
        // Identifiers with an apostrophe find their items and images.
        ASSERT_EQ(widgets[9]["items"].toList().size(), 1);
        EXPECT_EQ(itemSummary(widgets[9]["items"].toList()[0]), QStringLiteral("i6/1/open/apostrophe item"));
        ASSERT_EQ(widgets[10]["images"].toList().size(), 1);
        EXPECT_EQ(widgets[10]["images"].toList()[0].toMap()["backpackID"].toString(), QStringLiteral("im9"));
        EXPECT_TRUE(widgets[11]["items"].toList().isEmpty());
    }
}

TEST(BackpackPage, RecordsKeepEveryValueThatIsPresent)
{
    using P = TGBackpackPage;
    struct Case
    {
        const char *element;
        QList<WidgetRecord> (P::*read)();
        QStringList keys;
    };
    const Case cases[] = {
        {"<notes><note title=\"t\">x</note></notes>", &P::notes, {"text", "title", "widgetType"}},
        {"<notes><note id=\"1\" created_at=\"2009-03-04 05:06\">x</note></notes>",
         &P::notes,
         {"backpackID", "text", "widgetType"}},
        {"<emails><email id=\"1\" subject=\"s\"/></emails>",
         &P::emails,
         {"backpackID", "body", "subject", "widgetType"}},
        {"<attachments><attachment id=\"1\"/></attachments>", &P::attachments, {"backpackID", "widgetType"}},
        {"<lists><list id=\"1\"/></lists>", &P::lists, {"backpackID", "items", "widgetType"}},
        {"<galleries><gallery name=\"g\"/></galleries>", &P::galleries, {"images", "name", "widgetType"}},
        {"<pages><page id=\"1\"/></pages>", &P::pageLinks, {"backpackID", "widgetType"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.element);
        P page;
        page.setContents(parse(QStringLiteral("<response success=\"true\">%1</response>").arg(c.element)));
        const QList<WidgetRecord> records = (page.*c.read)();
        ASSERT_EQ(records.size(), 1);
        EXPECT_EQ(QStringList(records[0].keys()), c.keys);
    }
}

TEST(BackpackPage, DatesIgnoreTheUserLocale)
{
    const QLocale saved;
    for (auto language : {QLocale::Arabic, QLocale::German, QLocale::Japanese}) {
        QLocale::setDefault(QLocale(language));
        XmlDocument d = parse(QStringLiteral("<e created_at=\"2011-07-08 13:14:15\" bad=\"2011-07-08T13:14:15\"/>"));
        EXPECT_EQ(TGBackpackPage::dateFromXMLElement(d.root(), "created_at"),
                  QDateTime(QDate(2011, 7, 8), QTime(13, 14, 15)));
        EXPECT_FALSE(TGBackpackPage::dateFromXMLElement(d.root(), "bad"));
        EXPECT_FALSE(TGBackpackPage::dateFromXMLElement(d.root(), "missing"));
    }
    QLocale::setDefault(saved);
}

TEST(BackpackPage, DisplayTitleUndoesTheServiceEscapes)
{
    struct Case
    {
        QString title, display;
    };
    const Case cases[] = {
        {"&quot;Q&quot; &amp; A", "\"Q\" & A"},
        {"A &amp;quot; B", "A &quot; B"},
        {QString(), QString()},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TGBackpackPage(QStringLiteral("1"), c.title, QString()).titleForDisplay(), c.display);
}

TEST(BackpackPage, CollectionsAreReadOnceAndKept)
{
    TGBackpackPage page(QStringLiteral("7"), QStringLiteral("t"), QStringLiteral("s"));
    EXPECT_TRUE(page.widgets().isEmpty());
    EXPECT_TRUE(page.attachments().isEmpty()); // read before the contents: stays empty
    page.setContents(parse(QString::fromUtf8(kPage)));
    EXPECT_TRUE(page.attachments().isEmpty());
    EXPECT_EQ(page.notes().size(), 2);
    EXPECT_EQ(page.widgets().size(), 11); // all but the asset

    // A new document changes the belongings, not the notes already read.
    page.setContents(parse(
        QStringLiteral("<response><belongings><belonging><widget id=\"n1\" type=\"Note\"/></belonging></belongings>"
                       "<notes><note id=\"n1\" title=\"new\">new</note></notes></response>")));
    const auto widgets = page.widgets();
    ASSERT_EQ(widgets.size(), 1);
    EXPECT_EQ(widgets[0]["text"].toString(), QStringLiteral("Body *text*"));
}

// One entity of 50 KB used 20,000 times: a 110 KB answer that reads as a
// billion characters of note text.
QByteArray wideEntityAnswer()
{
    QByteArray answer = "<?xml version=\"1.0\"?><!DOCTYPE response [<!ENTITY e \"" + QByteArray(50 * 1024, 'a')
                        + "\">]><response><notes><note id=\"1\" title=\"t\">";
    answer += QByteArray("&e;").repeated(20000);
    return answer + "</note></notes></response>";
}

TEST(BackpackPage, DocumentsWithADocumentTypeAreRefused)
{
    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e0 \"aaaaaaaaaa\">";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY e" + QByteArray::number(i) + " \""
                  + QByteArray("&e" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    laughs += "]><response><notes><note id=\"1\">&e9;</note></notes></response>";
    struct Case
    {
        const char *name;
        QByteArray text;
    };
    const Case cases[] = {
        {"one wide entity used many times", wideEntityAnswer()},
        {"nested entities", laughs},
        {"external entity", "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>"
                            "<response><notes><note id=\"1\" title=\"t\">&x;</note></notes></response>"},
        {"external subset only", "<!DOCTYPE response SYSTEM \"http://127.0.0.1:9/r.dtd\"><response/>"},
        {"empty internal subset", "<!DOCTYPE response []><response/>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        OptionalError error;
        EXPECT_FALSE(XmlDocument::parse(c.text, &error));
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->is(kXMLParserErrorDomain, XmlDocument::kDocumentTypeRefused));
    }
    OptionalError error;
    EXPECT_TRUE(XmlDocument::parse("<response><!-- no DOCTYPE here --><notes/></response>", &error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(XmlDocument::parse("<a><b></a>", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, kXMLParserErrorDomain);
    EXPECT_NE(error->code, XmlDocument::kDocumentTypeRefused);
}

} // namespace
