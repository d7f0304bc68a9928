#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstddef>

// The MIME type a note's resource is sent with. Safe on any thread.
namespace FileTypes {

// Enough of a file's head for every magic rule the MIME database knows.
constexpr std::size_t kHeadBytes = 16 * 1024;

// The type `fileName` gives, unless `head` (the file's first bytes, up to
// kHeadBytes) opens with the clear signature of another kind: a PDF, an
// image, an archive or an executable. A name that gives no type, or several,
// is settled by the bytes. "application/octet-stream" when nothing is known,
// or the type's name is not of a shape the service takes.
QString mimeType(const QString &fileName, QByteArrayView head);

} // namespace FileTypes
