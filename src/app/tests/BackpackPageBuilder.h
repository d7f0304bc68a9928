#pragma once

// Backpack content for the importer's tests and benchmark: page documents
// built element by element, and the site description the fake serves.

#include "BackpackFake.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

namespace importertest {

inline const QString kSite = QStringLiteral("acme");
inline const QString kToken = QStringLiteral("api-Tök&en");
inline const QString kUser = QStringLiteral("ann");
inline const QString kPassword = QStringLiteral("pä&ss=w+rd% x");
inline const QString kAccessToken = QStringLiteral("S=s1:U=1:E=ffff:A=leafhaul:H=abc");

// Deterministic bytes that no text codec mistakes for text.
inline QByteArray bytesFor(const QString &seed, int size)
{
    QByteArray out;
    out.reserve(size);
    QByteArray block = seed.toUtf8();
    while (out.size() < size) {
        block = QCryptographicHash::hash(block, QCryptographicHash::Sha256);
        out.append(block);
    }
    out.truncate(size);
    return out;
}

inline QString md5Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

inline QString xmlAttr(const QString &text)
{
    return text.toHtmlEscaped();  // escapes & < > and "
}

// One Backpack page document built element by element, in page order.
class PageBuilder
{
public:
    PageBuilder(const QString &id, const QString &title) : m_id(id), m_title(title) {}

    PageBuilder &note(const QString &id, const QString &title, const QString &text)
    {
        add(id, "Note");
        m_notes << QStringLiteral("<note id=\"%1\" created_at=\"2011-02-03 04:05:06\" title=\"%2\">%3</note>")
                       .arg(id, xmlAttr(title), text.toHtmlEscaped());
        return *this;
    }
    // Items: text, completed.
    PageBuilder &list(const QString &id, const QString &name, const QList<QPair<QString, bool>> &items)
    {
        add(id, "List");
        m_lists << QStringLiteral("<list id=\"%1\" name=\"%2\"/>").arg(id, xmlAttr(name));
        int n = 0;
        for (const auto &item : items)
            m_items << QStringLiteral("<item id=\"%1-i%2\" list_id=\"%1\" completed=\"%3\">%4</item>")
                           .arg(id)
                           .arg(++n)
                           .arg(item.second ? "true" : "false", item.first.toHtmlEscaped());
        return *this;
    }
    // Images: id, file name, description.
    PageBuilder &gallery(const QString &id, const QString &name, const QList<QStringList> &images)
    {
        add(id, "Gallery");
        m_galleries << QStringLiteral("<gallery id=\"%1\" name=\"%2\"/>").arg(id, xmlAttr(name));
        for (const QStringList &image : images)
            m_images << QStringLiteral("<image id=\"%1\" gallery_id=\"%2\" file_name=\"%3\" description=\"%4\"/>")
                            .arg(image.at(0), id, xmlAttr(image.at(1)), xmlAttr(image.value(2)));
        return *this;
    }
    PageBuilder &attachment(const QString &id, const QString &filename)
    {
        add(id, "Asset");
        m_attachments << QStringLiteral("<attachment id=\"%1\" file_name=\"%2\"/>").arg(id, xmlAttr(filename));
        return *this;
    }
    PageBuilder &email(const QString &id, const QString &subject, const QString &body)
    {
        add(id, "Email");
        m_emails << QStringLiteral("<email id=\"%1\" created_at=\"2012-05-06 07:08:09\" subject=\"%2\">%3</email>")
                        .arg(id, xmlAttr(subject), body.toHtmlEscaped());
        return *this;
    }
    PageBuilder &separator(const QString &id, const QString &text)
    {
        add(id, "Separator");
        m_separators << QStringLiteral("<separator id=\"%1\">%2</separator>").arg(id, text.toHtmlEscaped());
        return *this;
    }
    PageBuilder &pageLink(const QString &id, const QString &title)
    {
        add(id, "PageLink");
        m_pageLinks << QStringLiteral("<page id=\"%1\" title=\"%2\"/>").arg(id, xmlAttr(title));
        return *this;
    }

    QString id() const { return m_id; }
    QString title() const { return m_title; }

    QString xml() const
    {
        const auto section = [](const char *name, const QStringList &rows) {
            return QStringLiteral("<%1>\n%2\n</%1>\n").arg(QLatin1String(name), rows.join(QLatin1Char('\n')));
        };
        return BackpackFake::pageDocument(
            QStringLiteral("<page id=\"%1\" title=\"%2\">\n").arg(m_id, xmlAttr(m_title))
            + section("belongings", m_belongings) + section("notes", m_notes) + section("lists", m_lists)
            + section("items", m_items) + section("galleries", m_galleries) + section("images", m_images)
            + section("attachments", m_attachments) + section("emails", m_emails)
            + section("separators", m_separators) + section("pages", m_pageLinks) + QStringLiteral("</page>"));
    }

    QJsonObject pageEntry() const
    {
        return QJsonObject{{"id", m_id}, {"title", m_title}, {"scope", "private"}, {"xml", xml()}};
    }

private:
    void add(const QString &id, const char *type)
    {
        m_belongings << QStringLiteral("<belonging id=\"b-%1\" position=\"%2\"><widget id=\"%1\" type=\"%3\"/></belonging>")
                            .arg(id)
                            .arg(m_belongings.size() + 1)
                            .arg(QLatin1String(type));
    }

    QString m_id, m_title;
    QStringList m_belongings, m_notes, m_lists, m_items, m_galleries, m_images, m_attachments, m_emails,
        m_separators, m_pageLinks;
};

// A Backpack site: pages and asset files ("<asset id>/<file name>" -> bytes).
struct Site
{
    QList<PageBuilder> pages;
    QMap<QString, QByteArray> assets;
    QString password = kPassword;

    QJsonObject json() const
    {
        QJsonArray pageList;
        for (const PageBuilder &page : pages)
            pageList.append(page.pageEntry());
        QJsonObject files;
        for (auto it = assets.begin(); it != assets.end(); ++it)
            files.insert(it.key(), QJsonObject{{"base64", QString::fromLatin1(it.value().toBase64())}});
        return QJsonObject{{"sitename", kSite},  {"token", kToken}, {"username", kUser},
                           {"password", password}, {"pages", pageList}, {"assets", files}};
    }
};

} // namespace importertest
