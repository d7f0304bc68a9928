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
inline const QString kAccessToken = QStringLiteral("tok=1:user=1:exp=ffff:app=leafhaul:sig=abc");

// Deterministic bytes that no text codec mistakes for text.
inline QByteArray bytesFor(const QString &seed, int size)
{
    QByteArray out;
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

// One Backpack page document built element by element, in page order.
class PageBuilder
{
public:
    PageBuilder(const QString &id, const QString &title) : m_id(id), m_title(title) {}

    PageBuilder &note(const QString &id, const QString &title, const QString &text)
    {
        return add(id, "Note", "notes",
                   QStringLiteral("<note id=\"%1\" created_at=\"2011-02-03 04:05:06\" title=\"%2\">%3</note>")
                       .arg(id, esc(title), esc(text)));
    }
    // Items: text, completed.
    PageBuilder &list(const QString &id, const QString &name, const QList<QPair<QString, bool>> &items)
    {
        for (const auto &item : items)
            m_rows["items"] << QStringLiteral("<item id=\"%1-i%2\" list_id=\"%1\" completed=\"%3\">%4</item>")
                                   .arg(id)
                                   .arg(m_rows["items"].size() + 1)
                                   .arg(item.second ? "true" : "false", esc(item.first));
        return add(id, "List", "lists", QStringLiteral("<list id=\"%1\" name=\"%2\"/>").arg(id, esc(name)));
    }
    // Images: id, file name, description.
    PageBuilder &gallery(const QString &id, const QString &name, const QList<QStringList> &images)
    {
        for (const QStringList &image : images)
            m_rows["images"] << QStringLiteral(
                                    "<image id=\"%1\" gallery_id=\"%2\" file_name=\"%3\" description=\"%4\"/>")
                                    .arg(image.at(0), id, esc(image.at(1)), esc(image.value(2)));
        return add(id, "Gallery", "galleries", QStringLiteral("<gallery id=\"%1\" name=\"%2\"/>").arg(id, esc(name)));
    }
    PageBuilder &attachment(const QString &id, const QString &filename)
    {
        return add(id, "Asset", "attachments",
                   QStringLiteral("<attachment id=\"%1\" file_name=\"%2\"/>").arg(id, esc(filename)));
    }
    PageBuilder &email(const QString &id, const QString &subject, const QString &body)
    {
        return add(id, "Email", "emails",
                   QStringLiteral("<email id=\"%1\" created_at=\"2012-05-06 07:08:09\" subject=\"%2\">%3</email>")
                       .arg(id, esc(subject), esc(body)));
    }
    PageBuilder &separator(const QString &id, const QString &text)
    {
        return add(id, "Separator", "separators",
                   QStringLiteral("<separator id=\"%1\">%2</separator>").arg(id, esc(text)));
    }
    PageBuilder &pageLink(const QString &id, const QString &title)
    {
        return add(id, "PageLink", "pages", QStringLiteral("<page id=\"%1\" title=\"%2\"/>").arg(id, esc(title)));
    }

    // The page-details answer as it stands, in place of the page's own.
    PageBuilder &answeredWith(const QString &document)
    {
        m_answer = document;
        return *this;
    }

    QString xml() const
    {
        if (!m_answer.isEmpty())
            return m_answer;
        QString body = QStringLiteral("<page id=\"%1\" title=\"%2\">\n").arg(m_id, esc(m_title));
        for (const char *section : {"belongings", "notes", "lists", "items", "galleries", "images", "attachments",
                                    "emails", "separators", "pages"})
            body += QStringLiteral("<%1>\n%2\n</%1>\n").arg(QLatin1String(section), m_rows.value(section).join('\n'));
        return BackpackFake::pageDocument(body + QStringLiteral("</page>"));
    }

    QJsonObject pageEntry() const
    {
        return QJsonObject{{"id", m_id}, {"title", m_title}, {"scope", "private"}, {"xml", xml()}};
    }

private:
    static QString esc(const QString &text) { return text.toHtmlEscaped(); } // & < > and "

    PageBuilder &add(const QString &id, const char *type, const char *section, const QString &row)
    {
        m_rows[section] << row;
        QStringList &belongings = m_rows["belongings"];
        belongings << QStringLiteral(
                          "<belonging id=\"b-%1\" position=\"%2\"><widget id=\"%1\" type=\"%3\"/></belonging>")
                          .arg(id)
                          .arg(belongings.size() + 1)
                          .arg(QLatin1String(type));
        return *this;
    }

    QString m_id, m_title, m_answer;
    QMap<QString, QStringList> m_rows; // by section
};

// A Backpack site: pages and asset files ("<asset id>/<file name>" -> bytes).
struct Site
{
    QList<PageBuilder> pages;
    QMap<QString, QByteArray> assets;

    QJsonObject json() const
    {
        QJsonArray pageList;
        for (const PageBuilder &page : pages)
            pageList.append(page.pageEntry());
        QJsonObject files;
        for (auto it = assets.begin(); it != assets.end(); ++it)
            files.insert(it.key(), QJsonObject{{"base64", QString::fromLatin1(it.value().toBase64())}});
        return QJsonObject{{"sitename", kSite},     {"token", kToken},   {"username", kUser},
                           {"password", kPassword}, {"pages", pageList}, {"assets", files}};
    }
};

} // namespace importertest
