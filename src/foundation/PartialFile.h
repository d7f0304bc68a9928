#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Inside the HTTP layer only: the file a download's body lands in, made by
// SyncHttp::send (DownloadFiles.h says what the program sees of it).

namespace SyncHttp {

// The partial file of a download: beside the destination, 0600, renamed over
// the destination (or a link that stands there) once complete, and never
// before; removed otherwise. The destination itself is never opened. Never
// synced: a download can be fetched again. Partial files of the same name
// that no download holds (left by a crash or a kill) are taken up: one is
// written over, its blocks reused, and the others removed. A live one is
// locked (LOCK_EX), and one that cannot be locked is never written.
class PartialFile
{
public:
    explicit PartialFile(const QString &destination);
    ~PartialFile() { discard(); }
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    QString errorString() const;
    int errorNumber() const { return m_errno; }

    // Takes the blocks of `size` bytes before they are written, leaving the
    // file's size as it is; best effort.
    void reserve(off_t size);
    bool write(const char *data, size_t size);
    bool commit();
    void discard();
    // The committed file's, once commit() succeeded; else 0.
    dev_t device() const { return m_device; }
    ino_t inode() const { return m_inode; }

private:
    void takeUp(const QByteArray &path);
    void forget();

    QByteArray m_destination;
    QByteArray m_path;
    int m_fd = -1;
    int m_errno = 0;
    off_t m_written = 0;
    bool m_reused = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace SyncHttp
