#include "app/NoteBuilder.h"

#include "app/ErrorDomain.h"
#include "app/FileTypes.h"
#include "app/GalleryLimits.h"
#include "app/NoteText.h"
#include "backpack/TGBackpackPage.h"
#include "foundation/FileRead.h"
#include "foundation/TGTextileConverter.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <optional>
#include <utility>

using ravadido::Bytes;
using ravadido::RURUData;
using ravadido::RURUNote;
using ravadido::RURUResource;

namespace {

// The service's limit on note titles.
constexpr int kNoteTitleLengthMax = 255;

const char kEnmlHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                         "<!DOCTYPE en-note SYSTEM \"http://xml.ravadido.com/pub/enml2.dtd\">"
                         "<en-note>";

QString stringValue(const QVariantMap &widget, const char *key)
{
    return widget.value(QLatin1String(key)).toString();
}

std::int64_t createdFrom(const QVariantMap &widget)
{
    const QDateTime date = widget.value(QStringLiteral("createdAt")).toDateTime();
    if (!date.isValid())
        return 0;
    // Whole seconds, the fraction dropped toward zero.
    return date.toMSecsSinceEpoch() / 1000 * 1000;
}

std::string utf8(const QString &text)
{
    return text.toStdString();
}

// Converter HTML made fit for the note body: cleaned up, then held to the
// service's element rule.
QString bodyFragment(const QString &html)
{
    return NoteText::enmlBody(NoteText::fixupNoteText(html));
}

QString mediaTag(const RURUResource &resource)
{
    return QStringLiteral(R"(<en-media type="%1" hash="%2"/>)")
        .arg(NoteText::escapeXmlAttribute(QString::fromStdString(resource.mime().value_or(""))),
             NoteBuilder::dataToHex(resource.data()->bodyHash()->view()));
}

// `md5`: the digest when it is already known; a lent file's bytes are never
// read here.
std::shared_ptr<RURUData> dataWithBytes(Bytes bytes, const QByteArray &md5 = {})
{
    auto data = std::make_shared<RURUData>();
    QByteArray digest = md5;
    if (digest.isEmpty()) {
        const std::string_view view = bytes.view();
        digest = QCryptographicHash::hash(QByteArrayView(view.data(), qsizetype(view.size())), QCryptographicHash::Md5);
    }
    data->setSize(std::int32_t(bytes.size()));
    data->setBodyHash(Bytes(digest.constData(), std::size_t(digest.size())));
    data->setBody(std::move(bytes));
    return data;
}

// Closed unless released.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// `description` names the file (%1) and, on a line of its own, its folder
// (%2), as the download's errors do: a long path breaks only at its slashes.
// The system's reason goes into the description too: the alert shows no
// failure reason.
Error fileError(const QString &description, const QString &path, int errnum = 0, const QString &suggestion = {})
{
    const QString reason = errnum ? systemReason(errnum) : QString();
    const QFileInfo file(path);
    return Error(kLeafhaulErrorDomain, 0,
                 withSystemReason(description.arg(file.fileName(), file.absolutePath()), reason), reason,
                 errnum == EMFILE ? localizedString("Raise the limit of open files and import again.") : suggestion);
}

QString unreadableText()
{
    return localizedString("The downloaded file “%1” in the folder\n“%2”\ncould not be read.");
}

// Never waits and never follows a link: a plain open of a FIFO or device put
// at the name blocks until a writer comes, and nothing, Stop included, ends
// that wait. -1 with the error for anything but a plain file.
int openPlainFile(const QString &path, struct stat *st, OptionalError *error)
{
    const QString notPlain = localizedString("The file “%1” in the folder\n“%2”\nis not a plain file.");
    Descriptor file{::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC)};
    if (file.fd < 0 || ::fstat(file.fd, st) != 0) {
        const int errnum = errno;
        setErrorSlot(error, errnum == ELOOP ? fileError(notPlain, path) : fileError(unreadableText(), path, errnum));
        return -1;
    }
    if (!S_ISREG(st->st_mode)) {
        setErrorSlot(error, fileError(notPlain, path));
        return -1;
    }
    return std::exchange(file.fd, -1);
}

// From the name and the head read through `fd`, so that a signature seen is
// that of the bytes sent; nothing with the read's errno (0: the file holds
// fewer bytes).
std::optional<QString> mimeTypeOfFile(int fd, off_t size, const QString &path, int *errnum)
{
    QByteArray head(qsizetype(std::min<off_t>(size, off_t(FileTypes::kHeadBytes))), Qt::Uninitialized);
    if (!FileRead::readFully(fd, 0, head.data(), std::size_t(head.size()), errnum))
        return std::nullopt;
    return FileTypes::mimeType(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1), head);
}

// The MD5 of the file's first `size` bytes, read in pieces; empty with the
// read's errno (0: the file holds fewer bytes) when they cannot be read.
QByteArray md5OfFile(int fd, std::size_t size, int *errnum)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray buffer(qsizetype(std::min<std::size_t>(size, 1 << 20)), Qt::Uninitialized);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(std::size_t(buffer.size()), size - done);
        if (!FileRead::readFully(fd, off_t(done), buffer.data(), n, errnum))
            return {};
        hash.addData(QByteArrayView(buffer.constData(), qsizetype(n)));
        done += n;
    }
    return hash.result();
}

// The data and, when asked, the MIME type, both from one descriptor: a file
// renamed over the name meanwhile can give neither.
std::shared_ptr<RURUData> lendFile(const DownloadedAsset &asset, QString *mimeType, OptionalError *error)
{
    const QString &path = asset.path;
    const auto fail = [&](const QString &description, int errnum = 0) {
        setErrorSlot(error, fileError(description, path, errnum));
        return nullptr;
    };
    // Another program's doing; a new download brings the asset back.
    const auto failChanged = [&](const QString &description) {
        setErrorSlot(error, fileError(description, path, 0, localizedString("Import the page again.")));
        return nullptr;
    };
    const QString unreadable = unreadableText();
    const QString changed = localizedString("The file “%1” in the folder\n“%2”\nchanged after it was downloaded.");
    struct stat st = {};
    Descriptor file{openPlainFile(path, &st, error)};
    if (file.fd < 0)
        return nullptr;
    // O_NOFOLLOW guards the last component only: a folder above it swapped
    // for a link leads to another file, maybe of the same size.
    if (asset.inode && (quint64(st.st_dev) != asset.device || quint64(st.st_ino) != asset.inode))
        return failChanged(
            localizedString("The file “%1” in the folder\n“%2”\nis no longer the one that was downloaded."));
    // Held while the record lives. A download of the same asset renames a
    // new file over the name and never writes into this one; the lock keeps
    // off any other writer that honours it. Only another program holds an
    // asset file exclusively.
    if (::flock(file.fd, LOCK_SH | LOCK_NB) != 0)
        return errno == EWOULDBLOCK
                   ? fail(localizedString("The file “%1” in the folder\n“%2”\nis in use by another program."))
                   : fail(unreadable, errno);
    if (st.st_size > std::numeric_limits<std::int32_t>::max())
        return fail(localizedString("The file “%1” in the folder\n“%2”\nis too large to attach."));
    // Another process changed it since the download: whatever it holds now
    // is not the asset.
    if (asset.size >= 0 && st.st_size != asset.size)
        return failChanged(changed);
    int errnum = 0;
    if (mimeType) {
        std::optional<QString> type = mimeTypeOfFile(file.fd, st.st_size, path, &errnum);
        if (!type)
            return errnum ? fail(unreadable, errnum) : failChanged(changed);
        *mimeType = std::move(*type);
    }
    const std::size_t size = std::size_t(st.st_size);
    QByteArray md5 = asset.size >= 0 ? asset.md5 : QByteArray();
    if (md5.isEmpty()) {
        md5 = md5OfFile(file.fd, size, &errnum);
        if (md5.isEmpty())
            return errnum ? fail(unreadable, errnum) : failChanged(changed);
    }
    // Not read here: the upload reads the file straight into its buffer.
    Bytes body;
    if (size)
        body = Bytes(std::make_shared<const ravadido::LentFile>(std::exchange(file.fd, -1), size, path.toStdString()));
    return dataWithBytes(std::move(body), md5);
}

void finishNote(RURUNote &note, QString &content)
{
    NoteBuilder::endNoteContent(content);
    note.setContent(utf8(content));
}

} // namespace

NoteBuilder::NoteBuilder(std::function<bool()> isCancelled) : m_isCancelled(std::move(isCancelled)) {}

QString NoteBuilder::beginningContentForNote()
{
    return QString::fromLatin1(kEnmlHead);
}

void NoteBuilder::endNoteContent(QString &content)
{
    content += QStringLiteral("</en-note>");
}

std::shared_ptr<RURUData> NoteBuilder::ravadidoDataWithContentsOfFile(const DownloadedAsset &asset,
                                                                      OptionalError *error)
{
    return lendFile(asset, nullptr, error);
}

std::shared_ptr<RURUData> NoteBuilder::ravadidoDataWithString(const QString &text)
{
    return dataWithBytes(Bytes(text.toStdString()));
}

QString NoteBuilder::dataToHex(std::string_view bytes)
{
    return QString::fromLatin1(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())).toHex());
}

QString NoteBuilder::mimeTypeForPath(const QString &path, OptionalError *error)
{
    const QString unknown = QStringLiteral("application/octet-stream");
    struct stat st = {};
    const Descriptor file{openPlainFile(path, &st, error)};
    if (file.fd < 0)
        return unknown;
    int errnum = 0;
    const std::optional<QString> type = mimeTypeOfFile(file.fd, st.st_size, path, &errnum);
    if (!type) {
        setErrorSlot(error, fileError(unreadableText(), path, errnum));
        return unknown;
    }
    if (error)
        error->reset();
    return *type;
}

std::shared_ptr<RURUResource> NoteBuilder::resourceForFile(const DownloadedAsset &file, OptionalError *error)
{
    QString mimeType;
    std::shared_ptr<RURUData> data = lendFile(file, &mimeType, error);
    if (!data)
        return nullptr;
    auto resource = std::make_shared<RURUResource>();
    // The body goes once, as data: a recognition copy would double the upload.
    resource->setData(std::move(data));
    resource->setMime(utf8(mimeType));
    return resource;
}

QString NoteBuilder::noteTitle(const QString &title)
{
    QString fitted = NoteText::fitToLimit(title, kNoteTitleLengthMax);
    if (fitted.isEmpty())
        fitted = localizedString("Untitled Note - %1").arg(++m_untitledCount);
    return fitted;
}

std::shared_ptr<RURUNote> NoteBuilder::createNoteForAttachment(const QVariantMap &widget,
                                                               const QList<DownloadedAsset> &files,
                                                               OptionalError *error)
{
    if (files.isEmpty()) {
        setErrorSlot(
            error,
            Error(kLeafhaulErrorDomain, 0,
                  localizedString("The file %1 was not downloaded.").arg(stringValue(widget, kWidgetFilenameKey))));
        return nullptr;
    }
    std::shared_ptr<RURUResource> resource = resourceForFile(files.first(), error);
    if (!resource)
        return nullptr;
    auto note = std::make_shared<RURUNote>();
    note->setTitle(utf8(noteTitle(stringValue(widget, kWidgetFilenameKey))));
    QString content = beginningContentForNote();
    content += mediaTag(*resource);
    note->setResources(std::vector<std::shared_ptr<RURUResource>>{std::move(resource)});
    finishNote(*note, content);
    return note;
}

std::shared_ptr<RURUNote> NoteBuilder::createNoteForGallery(const QVariantMap &widget,
                                                            const QList<DownloadedAsset> &files, OptionalError *error)
{
    // Each image's file stays open until the note is sent. The importer
    // asks before its downloads; a caller that made none is asked here.
    if (OptionalError refused = GalleryLimits::refusal(stringValue(widget, "name"), files.size())) {
        setErrorSlot(error, std::move(*refused));
        return nullptr;
    }
    auto note = std::make_shared<RURUNote>();
    note->setTitle(utf8(noteTitle(NoteText::fixupNoteTitle(stringValue(widget, "name")))));
    TGTextileConverter converter;
    const QVariantList images = widget.value(QStringLiteral("images")).toList();
    std::vector<std::shared_ptr<RURUResource>> resources;
    QString content = beginningContentForNote();
    qsizetype index = 0;
    for (const DownloadedAsset &file : files) {
        if (stopped())
            return nullptr;
        std::shared_ptr<RURUResource> resource = resourceForFile(file, error);
        if (!resource)
            return nullptr;
        content += mediaTag(*resource);
        resources.push_back(std::move(resource));
        const QVariantMap image = images.value(index++).toMap();
        const QString description = bodyFragment(converter.convert(stringValue(image, "description")));
        if (!description.isEmpty())
            content += QStringLiteral("<br/>") + description;
        content += QStringLiteral("<br/><br/>");
    }
    note->setResources(std::move(resources));
    finishNote(*note, content);
    return note;
}

std::shared_ptr<RURUNote> NoteBuilder::createNoteForEmail(const QVariantMap &widget)
{
    auto note = std::make_shared<RURUNote>();
    const QString title = noteTitle(NoteText::fixupNoteTitle(stringValue(widget, "subject")));
    note->setTitle(utf8(title));
    note->setCreated(createdFrom(widget));
    const QString body = stringValue(widget, "body");
    QString content = beginningContentForNote();
    if (body.contains(QStringLiteral("<html>"))) {
        auto resource = std::make_shared<RURUResource>();
        resource->setData(ravadidoDataWithString(body));
        resource->setMime("text/html");
        content += QStringLiteral(R"(<en-media title="%1" type="text/html" hash="%2"/>)")
                       .arg(NoteText::escapeXmlAttribute(title), dataToHex(resource->data()->bodyHash()->view()));
        note->setResources(std::vector<std::shared_ptr<RURUResource>>{std::move(resource)});
    } else {
        QString text = NoteText::preprocessNoteText(body);
        text.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
        text.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
        content += bodyFragment(NoteText::toPlainText(text));
    }
    finishNote(*note, content);
    return note;
}

std::shared_ptr<RURUNote> NoteBuilder::createNoteForList(const QVariantMap &widget)
{
    auto note = std::make_shared<RURUNote>();
    note->setTitle(utf8(noteTitle(NoteText::fixupNoteTitle(stringValue(widget, "name")))));
    TGTextileConverter converter;
    QString content = beginningContentForNote();
    const QVariantList items = widget.value(QStringLiteral("items")).toList();
    for (const QVariant &value : items) {
        const QVariantMap item = value.toMap();
        const bool completed = item.value(QStringLiteral("completed")).toBool();
        const QString text = bodyFragment(converter.convert(stringValue(item, "text"), false, true));
        content += QStringLiteral(R"(<en-todo checked="%1"/> %2<br/>)")
                       .arg(completed ? QStringLiteral("true") : QStringLiteral("false"), text);
    }
    finishNote(*note, content);
    return note;
}

std::shared_ptr<RURUNote> NoteBuilder::createNoteForNote(const QVariantMap &widget)
{
    auto note = std::make_shared<RURUNote>();
    const QString rawTitle = stringValue(widget, "title");
    note->setTitle(utf8(noteTitle(NoteText::fixupNoteTitle(rawTitle))));
    note->setCreated(createdFrom(widget));

    TGTextileConverter converter;
    // A title that starts with a link puts the link's address above the text.
    const NoteText::HtmlReading titleReading = NoteText::readHtml(converter.convert(rawTitle, false));
    QString text = stringValue(widget, "text");
    if (!titleReading.text.isEmpty()) {
        const QString link = titleReading.linkAt(0);
        if (!link.isEmpty())
            text = QStringLiteral("%1\n\n%2").arg(link, text);
    }
    QString content = beginningContentForNote();
    content += bodyFragment(converter.convert(NoteText::preprocessNoteText(text), true));
    finishNote(*note, content);
    return note;
}

std::shared_ptr<RURUNote> NoteBuilder::createNoteForWidget(const QVariantMap &widget,
                                                           const QList<DownloadedAsset> &files, OptionalError *error)
{
    const QString type = stringValue(widget, kWidgetTypeKey);
    if (type == QLatin1String("Asset"))
        return createNoteForAttachment(widget, files, error);
    if (type == QLatin1String("Email"))
        return createNoteForEmail(widget);
    if (type == QLatin1String("Gallery"))
        return createNoteForGallery(widget, files, error);
    if (type == QLatin1String("List"))
        return createNoteForList(widget);
    if (type == QLatin1String("Note"))
        return createNoteForNote(widget);
    setErrorSlot(error,
                 Error(kLeafhaulErrorDomain, 0, localizedString("Unable to import an element of type %1.").arg(type)));
    return nullptr;
}

bool NoteBuilder::isAsset(const QVariantMap &widget)
{
    const QString type = stringValue(widget, kWidgetTypeKey);
    return type == QLatin1String("Asset") || type == QLatin1String("Gallery") || type == QLatin1String("Image");
}

QUrl NoteBuilder::assetURLForWidget(const QVariantMap &widget, const QUrl &accountURL)
{
    if (!isAsset(widget))
        return {};
    // Each value is one path segment: '/', '?' and '#' in a file name are
    // escaped instead of splitting or cutting the address.
    const auto segment = [](const QString &value) { return QUrl::toPercentEncoding(value); };
    QByteArray base = accountURL.toEncoded();
    while (base.endsWith('/'))
        base.chop(1);
    return QUrl::fromEncoded(base + "/assets/" + segment(stringValue(widget, kWidgetIDKey)) + "/as/"
                                 + segment(stringValue(widget, kWidgetFilenameKey)),
                             QUrl::StrictMode);
}
