#include "backpack/TGBackpackPage.h"

namespace {

WidgetRecord record(const char *type, xmlNodePtr node)
{
    WidgetRecord r{{QString::fromLatin1(kWidgetTypeKey), QString::fromLatin1(type)}};
    if (auto id = xml::attribute(node, "id"))
        r.insert(QString::fromLatin1(kWidgetIDKey), *id);
    return r;
}

void insertAttribute(WidgetRecord &r, const char *key, xmlNodePtr node, const char *attribute)
{
    if (auto value = xml::attribute(node, attribute))
        r.insert(QString::fromLatin1(key), *value);
}

void insertDate(WidgetRecord &r, xmlNodePtr node)
{
    if (auto date = TGBackpackPage::dateFromXMLElement(node, "created_at"))
        r.insert(QStringLiteral("createdAt"), *date);
}

} // namespace

TGBackpackPage::TGBackpackPage(const QString &backpackID, const QString &title, const QString &scope)
{
    setBackpackID(backpackID);
    setTitle(title);
    setScope(scope);
}

QString TGBackpackPage::titleForDisplay() const
{
    QString t = m_title;
    t.replace(QLatin1String("&quot;"), QLatin1String("\""));
    t.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return t;
}

QString TGBackpackPage::fixBackpackEscapeBugInNotesTitle(const QString &title)
{
    QString t = title;
    return t.replace(QLatin1String("&quot;"), QLatin1String("\""));
}

std::optional<QDateTime> TGBackpackPage::dateFromXMLElement(xmlNodePtr element, const char *attribute)
{
    const std::optional<QString> text = xml::attribute(element, attribute);
    if (!text)
        return std::nullopt;
    // QDateTime's format parsing ignores the locale; the time is local.
    QDateTime date = QDateTime::fromString(*text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!date.isValid())
        return std::nullopt;
    return date;
}

QList<xmlNodePtr> TGBackpackPage::nodes(const char *query) const
{
    if (m_contents.isNull())
        return {};
    return m_contents.nodes(QString::fromLatin1(query)).value_or(QList<xmlNodePtr>());
}

QList<WidgetRecord> TGBackpackPage::collection(std::optional<QList<WidgetRecord>> &cache, const char *query,
                                               Reader reader)
{
    if (!cache) {
        QList<WidgetRecord> built;
        for (xmlNodePtr node : nodes(query))
            built.append((this->*reader)(node));
        cache = built;
    }
    return *cache;
}

QList<WidgetRecord> TGBackpackPage::attachments()
{
    return collection(m_attachments, ".//attachments/attachment", &TGBackpackPage::attachmentRecord);
}
QList<WidgetRecord> TGBackpackPage::emails()
{
    return collection(m_emails, ".//emails/email", &TGBackpackPage::emailRecord);
}
QList<WidgetRecord> TGBackpackPage::galleries()
{
    return collection(m_galleries, ".//galleries/gallery", &TGBackpackPage::galleryRecord);
}
QList<WidgetRecord> TGBackpackPage::lists()
{
    return collection(m_lists, ".//lists/list", &TGBackpackPage::listRecord);
}
QList<WidgetRecord> TGBackpackPage::notes()
{
    return collection(m_notes, ".//notes/note", &TGBackpackPage::noteRecord);
}
QList<WidgetRecord> TGBackpackPage::dividers()
{
    return collection(m_dividers, ".//separators/separator", &TGBackpackPage::separatorRecord);
}
QList<WidgetRecord> TGBackpackPage::pageLinks()
{
    return collection(m_pageLinks, ".//pages/page", &TGBackpackPage::pageLinkRecord);
}

WidgetRecord TGBackpackPage::attachmentRecord(xmlNodePtr node) const
{
    WidgetRecord r = record("Asset", node);
    insertAttribute(r, kWidgetFilenameKey, node, "file_name");
    return r;
}

WidgetRecord TGBackpackPage::emailRecord(xmlNodePtr node) const
{
    WidgetRecord r = record("Email", node);
    insertDate(r, node);
    insertAttribute(r, "subject", node, "subject");
    r.insert(QStringLiteral("body"), xml::textContent(node));
    return r;
}

WidgetRecord TGBackpackPage::galleryRecord(xmlNodePtr node) const
{
    WidgetRecord r = record("Gallery", node);
    insertAttribute(r, "name", node, "name");
    const std::optional<QString> id = xml::attribute(node, "id");
    r.insert(QStringLiteral("images"), id ? imagesForGallery(*id) : QVariantList());
    return r;
}

WidgetRecord TGBackpackPage::listRecord(xmlNodePtr node) const
{
    WidgetRecord r = record("List", node);
    insertAttribute(r, "name", node, "name");
    const std::optional<QString> id = xml::attribute(node, "id");
    r.insert(QStringLiteral("items"), id ? itemsForList(*id) : QVariantList());
    return r;
}

WidgetRecord TGBackpackPage::noteRecord(xmlNodePtr node) const
{
    WidgetRecord r = record("Note", node);
    insertDate(r, node);
    if (auto title = xml::attribute(node, "title"))
        r.insert(QStringLiteral("title"), fixBackpackEscapeBugInNotesTitle(*title));
    r.insert(QStringLiteral("text"), xml::textContent(node));
    return r;
}

WidgetRecord TGBackpackPage::separatorRecord(xmlNodePtr node) const
{
    WidgetRecord r = record("Separator", node);
    r.insert(QStringLiteral("text"), xml::textContent(node));
    return r;
}

WidgetRecord TGBackpackPage::pageLinkRecord(xmlNodePtr node) const
{
    WidgetRecord r = record("PageLink", node);
    insertAttribute(r, "title", node, "title");
    return r;
}

QVariantList TGBackpackPage::imagesForGallery(const QString &galleryID) const
{
    QVariantList images;
    quint64 position = 0;
    // The identifier is compared here, never pasted into the query.
    for (xmlNodePtr node : nodes(".//images/image")) {
        if (xml::attribute(node, "gallery_id") != galleryID)
            continue;
        WidgetRecord r = record("Image", node);
        insertAttribute(r, kWidgetFilenameKey, node, "file_name");
        insertAttribute(r, "description", node, "description");
        r.insert(QStringLiteral("position"), QVariant::fromValue<quint64>(++position));
        images.append(r);
    }
    return images;
}

QVariantList TGBackpackPage::itemsForList(const QString &listID) const
{
    QList<xmlNodePtr> items;
    for (xmlNodePtr node : nodes(".//items/item"))
        if (xml::attribute(node, "list_id") == listID)
            items.append(node);

    qint16 openPosition = 0;
    qint16 completedPosition = qint16(items.size() + 1);
    QVariantList open, completed;
    for (xmlNodePtr node : items) {
        WidgetRecord r = record("ListItem", node);
        const bool isCompleted = xml::attribute(node, "completed") == QStringLiteral("true");
        r.insert(QStringLiteral("completed"), isCompleted);
        r.insert(QStringLiteral("text"), xml::textContent(node));
        if (isCompleted) {
            r.insert(QStringLiteral("position"), QVariant::fromValue<qint16>(--completedPosition));
            completed.prepend(r);
        } else {
            r.insert(QStringLiteral("position"), QVariant::fromValue<qint16>(++openPosition));
            open.append(r);
        }
    }
    return open + completed;
}

QList<WidgetRecord> TGBackpackPage::belongings() const
{
    QList<WidgetRecord> result;
    for (xmlNodePtr belonging : nodes(".//belongings/belonging")) {
        const xmlNodePtr widget = xml::firstElementChild(belonging);
        WidgetRecord r;
        if (auto id = xml::attribute(widget, "id"))
            r.insert(QString::fromLatin1(kWidgetIDKey), *id);
        if (auto type = xml::attribute(widget, "type"))
            r.insert(QString::fromLatin1(kWidgetTypeKey), *type);
        result.append(r);
    }
    return result;
}

std::optional<WidgetRecord> TGBackpackPage::findWidget(const WidgetRecord &belonging)
{
    const QString type = belonging.value(QString::fromLatin1(kWidgetTypeKey)).toString();
    const QVariant id = belonging.value(QString::fromLatin1(kWidgetIDKey));
    QList<WidgetRecord> records;
    if (type == QLatin1String("Asset"))
        records = attachments();
    else if (type == QLatin1String("Email"))
        records = emails();
    else if (type == QLatin1String("Gallery"))
        records = galleries();
    else if (type == QLatin1String("List"))
        records = lists();
    else if (type == QLatin1String("Note"))
        records = notes();
    else if (type == QLatin1String("Separator"))
        records = dividers();
    else if (type == QLatin1String("WriteboardLink"))
        records = writeboards();
    else if (type == QLatin1String("PageLink"))
        records = pageLinks();
    if (!id.isValid())
        return std::nullopt;
    for (const WidgetRecord &r : records)
        if (r.value(QString::fromLatin1(kWidgetIDKey)) == id)
            return r;
    return std::nullopt;
}

QList<WidgetRecord> TGBackpackPage::widgets()
{
    QList<WidgetRecord> result;
    for (const WidgetRecord &belonging : belongings())
        if (auto widget = findWidget(belonging))
            result.append(*widget);
    return result;
}
