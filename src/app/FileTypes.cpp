#include "app/FileTypes.h"

#include "foundation/RegExConvenience.h"

#include <QMimeDatabase>

#include <array>
#include <cstring>
#include <string_view>

namespace FileTypes {
namespace {

using namespace std::string_view_literals;

// A Windows program: "MZ", then at the offset stored at 0x3C the PE header.
bool hasPortableExecutableHeader(QByteArrayView head)
{
    if (head.size() < 0x40)
        return false;
    const auto byte = [&](qsizetype i) { return quint32(quint8(head.at(i))); };
    const quint32 at = byte(0x3C) | byte(0x3D) << 8 | byte(0x3E) << 16 | byte(0x3F) << 24;
    return at <= quint32(head.size() - 4) && head.sliced(qsizetype(at), 4) == QByteArrayView("PE\0\0", 4);
}

// Magic numbers long or particular enough that text or another kind of file
// does not open with them by chance; the weak ones (two letters, "<html",
// "<?xml") are left to the name.
struct Signature
{
    std::string_view magic;
    qsizetype offset;
    // A name's type that is one of these, or inherits one, agrees.
    std::array<const char *, 4> agreeing;
    bool (*alsoHolds)(QByteArrayView) = nullptr;
};

const Signature kSignatures[] = {
    {"%PDF-"sv, 0, {"application/pdf"}},
    {"\x89PNG\r\n\x1A\n"sv, 0, {"image/png"}},
    {"\xFF\xD8\xFF"sv, 0, {"image/jpeg"}},
    {"GIF87a"sv, 0, {"image/gif"}},
    {"GIF89a"sv, 0, {"image/gif"}},
    {"WEBPVP8"sv, 8, {"image/webp"}},
    {"PK\x03\x04"sv, 0, {"application/zip"}},
    {"PK\x05\x06"sv, 0, {"application/zip"}},
    {"\x1F\x8B\x08"sv, 0, {"application/gzip"}},
    {"1AY&SY"sv, 4, {"application/x-bzip"}},
    {"\3757zXZ\0"sv, 0, {"application/x-xz"}},
    {"7z\xBC\xAF\x27\x1C"sv, 0, {"application/x-7z-compressed"}},
    {"Rar!\x1A\x07"sv, 0, {"application/vnd.rar"}},
    {"\x28\xB5\x2F\xFD"sv, 0, {"application/zstd"}},
    {"ustar"sv, 257, {"application/x-tar"}},
    {"\177ELF"sv,
     0,
     {"application/x-executable", "application/x-sharedlib", "application/x-object", "application/x-core"}},
    {"MZ"sv, 0, {"application/x-ms-dos-executable"}, hasPortableExecutableHeader},
};

const Signature *signatureOf(QByteArrayView head)
{
    for (const Signature &s : kSignatures) {
        const auto size = qsizetype(s.magic.size());
        if (head.size() >= s.offset + size && std::memcmp(head.data() + s.offset, s.magic.data(), size) == 0
            && (!s.alsoHolds || s.alsoHolds(head)))
            return &s;
    }
    return nullptr;
}

bool agrees(const QMimeType &type, const Signature &signature)
{
    for (const char *name : signature.agreeing)
        if (name && type.inherits(QLatin1String(name)))
            return true;
    return false;
}

QMimeType typeOf(const QString &fileName, QByteArrayView head)
{
    // Each call below takes the database's one lock: the common case, a name
    // with one type and bytes without a signature, takes it once and never
    // runs the magic rules.
    const QMimeDatabase database;
    const QList<QMimeType> byName = database.mimeTypesForFileName(fileName);
    const QByteArray bytes = QByteArray::fromRawData(head.data(), head.size());
    if (byName.size() != 1)
        return database.mimeTypeForFileNameAndData(fileName, bytes);
    const Signature *signature = signatureOf(head);
    if (!signature || agrees(byName.first(), *signature))
        return byName.first();
    // Another kind: the database names it exactly (an ELF program or
    // library, a zip or an office document).
    const QMimeType byData = database.mimeTypeForData(bytes);
    return byData.isDefault() || byName.first().inherits(byData.name()) ? byName.first() : byData;
}

} // namespace

QString mimeType(const QString &fileName, QByteArrayView head)
{
    const QMimeType type = typeOf(fileName, head.first(std::min(head.size(), qsizetype(kHeadBytes))));
    // The service takes only names of this shape.
    if (!type.isValid()
        || !RegExConvenience::isMatchedByRegex(type.name(), QStringLiteral("^[A-Za-z]+/[A-Za-z0-9._+-]+$")))
        return QStringLiteral("application/octet-stream");
    return type.name();
}

} // namespace FileTypes
