#pragma once

#include "backpack/XmlDocument.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

// One page element as a record: "widgetType" and "backpackID", then the keys
// of its kind ("Note": createdAt, title, text; "List": name, items; "Gallery":
// name, images; "Asset": filename; "Email": createdAt, subject, body;
// "Separator": text; "PageLink": title; inside lists and galleries "ListItem":
// completed, text, position and "Image": filename, description, position).
// A key whose value the page lacks is left out; the others stay.
using WidgetRecord = QVariantMap;

// The keys that the importer reads too.
inline constexpr char kWidgetTypeKey[] = "widgetType";
inline constexpr char kWidgetIDKey[] = "backpackID";
inline constexpr char kWidgetFilenameKey[] = "filename";

// One Backpack page: identifier, title and scope from the page list, and once
// set, the page's document, read into widget records in page order. Used by
// one thread at a time.
class TGBackpackPage
{
public:
    TGBackpackPage() = default;
    TGBackpackPage(const QString &backpackID, const QString &title, const QString &scope);
    virtual ~TGBackpackPage() = default;

    QString backpackID() const { return m_backpackID; }
    void setBackpackID(const QString &value) { m_backpackID = value; }
    QString title() const { return m_title; }
    void setTitle(const QString &value) { m_title = value; }
    QString scope() const { return m_scope; }
    void setScope(const QString &value) { m_scope = value; }
    const XmlDocument &contents() const { return m_contents; }
    // Only stores the document: collections already read stay as they are.
    void setContents(const XmlDocument &document) { m_contents = document; }
    QVariantList tags() const { return m_tags; }
    void setTags(const QVariantList &value) { m_tags = value; }

    // The title with "&quot;" and then "&amp;" turned back into characters.
    QString titleForDisplay() const;

    // The page's elements in page order, rebuilt at every call.
    QList<WidgetRecord> widgets();
    // {"backpackID", "widgetType"} of each belonging, in document order.
    QList<WidgetRecord> belongings() const;
    std::optional<WidgetRecord> findWidget(const WidgetRecord &belonging);

    // Collections, read from the document at first use and kept from then on.
    QList<WidgetRecord> attachments();
    QList<WidgetRecord> emails();
    QList<WidgetRecord> galleries();
    QList<WidgetRecord> lists();
    QList<WidgetRecord> notes();
    QList<WidgetRecord> dividers();
    QList<WidgetRecord> pageLinks();
    QList<WidgetRecord> writeboards() const { return {}; }
    void setAttachments(const QList<WidgetRecord> &value) { m_attachments = value; }
    void setEmails(const QList<WidgetRecord> &value) { m_emails = value; }
    void setGalleries(const QList<WidgetRecord> &value) { m_galleries = value; }
    void setLists(const QList<WidgetRecord> &value) { m_lists = value; }
    void setNotes(const QList<WidgetRecord> &value) { m_notes = value; }
    void setDividers(const QList<WidgetRecord> &value) { m_dividers = value; }
    void setPageLinks(const QList<WidgetRecord> &value) { m_pageLinks = value; }

    // "Image" records of a gallery, in document order.
    QVariantList imagesForGallery(const QString &galleryID) const;
    // "ListItem" records of a list: open items in document order, then the
    // completed ones in reverse document order; positions 1..N along it.
    QVariantList itemsForList(const QString &listID) const;

    // "yyyy-MM-dd HH:mm:ss" in local time, whatever the user's locale.
    static std::optional<QDateTime> dateFromXMLElement(xmlNodePtr element, const char *attribute);
    static QString fixBackpackEscapeBugInNotesTitle(const QString &title);

private:
    using Reader = WidgetRecord (TGBackpackPage::*)(xmlNodePtr) const;
    QList<WidgetRecord> collection(std::optional<QList<WidgetRecord>> &cache, const char *query, Reader reader);
    QList<xmlNodePtr> nodes(const char *query) const;

    WidgetRecord attachmentRecord(xmlNodePtr node) const;
    WidgetRecord emailRecord(xmlNodePtr node) const;
    WidgetRecord galleryRecord(xmlNodePtr node) const;
    WidgetRecord listRecord(xmlNodePtr node) const;
    WidgetRecord noteRecord(xmlNodePtr node) const;
    WidgetRecord separatorRecord(xmlNodePtr node) const;
    WidgetRecord pageLinkRecord(xmlNodePtr node) const;

    QString m_backpackID, m_title, m_scope;
    XmlDocument m_contents;
    QVariantList m_tags;
    std::optional<QList<WidgetRecord>> m_attachments, m_emails, m_galleries, m_lists, m_notes, m_dividers, m_pageLinks;
};
