#include "foundation/DownloadFiles.h"

#include "foundation/Error.h"
#include "foundation/PartialFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>

namespace SyncHttp {

namespace {

// The partial files of the process's downloads.
struct Partials
{
    std::mutex mutex;
    std::set<QByteArray> files;

    Partials() { std::atexit(&removePartialDownloads); }
};

Partials &partials()
{
    // Never destroyed: a worker thread may still be inside a download while
    // the process exits.
    static Partials *p = new Partials;
    return *p;
}

// Short enough for NAME_MAX whatever the name's length, never half a character.
QByteArray partialPrefix(const QFileInfo &destination)
{
    const QByteArray name = QFile::encodeName(destination.fileName());
    qsizetype cut = std::min<qsizetype>(name.size(), 64);
    while (cut < name.size() && cut > 0 && (uchar(name.at(cut)) & 0xC0) == 0x80)
        --cut;
    return "." + name.left(cut) + ".partial-";
}

// A regular file of this user's with no other name: safe to write over.
bool isOwnPlainFile(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
}

} // namespace

PartialFile::PartialFile(const QString &destination) : m_destination(QFile::encodeName(destination))
{
    const QFileInfo info(destination);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray prefix = partialPrefix(info);
    Partials &g = partials();
    std::lock_guard lock(g.mutex);
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (!name.startsWith(prefix) || name.size() != prefix.size() + 6)
                continue;
            const QByteArray path = folder + '/' + name;
            if (g.files.count(path))
                continue;
            takeUp(path);
        }
        ::closedir(dir);
    }
    // A download of another process may take up a new file before its
    // lock: that file is then the other's.
    for (int attempt = 0; m_fd < 0; ++attempt) {
        QByteArray pattern = folder + '/' + prefix + "XXXXXX";
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC); // mode 0600
        if (fd < 0) {
            m_errno = errno;
            return;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            m_path = pattern;
            break;
        }
        ::close(fd);
        if (attempt == 8) {
            m_errno = EWOULDBLOCK;
            return;
        }
    }
    g.files.insert(m_path);
}

QString PartialFile::errorString() const
{
    return systemReason(m_errno);
}

// Blocks taken now leave no delayed allocation for a rename over an earlier
// copy to write back from this thread.
void PartialFile::reserve(off_t size)
{
    ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, 0, size);
}

bool PartialFile::write(const char *data, size_t size)
{
    while (size) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_errno = n < 0 ? errno : ENOSPC;
            return false;
        }
        data += n;
        size -= size_t(n);
        m_written += n;
    }
    return true;
}

bool PartialFile::commit()
{
    // A file taken up may be longer than this body.
    const bool cut = !m_reused || ::ftruncate(m_fd, m_written) == 0;
    if (!cut)
        m_errno = errno;
    struct stat st = {};
    const bool known = cut && ::fstat(m_fd, &st) == 0;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!cut)
        return false;
    if (!closed || ::rename(m_path.constData(), m_destination.constData()) != 0) {
        m_errno = errno;
        return false;
    }
    if (known) {
        m_device = st.st_dev;
        m_inode = st.st_ino;
    }
    forget();
    return true;
}

void PartialFile::discard()
{
    if (!m_path.isEmpty())
        ::unlink(m_path.constData());
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    forget();
}

// A partial file no download holds: the first becomes this one, the rest
// go. One locked by a download of another process stays.
void PartialFile::takeUp(const QByteArray &path)
{
    // Non-blocking: a FIFO planted under the name must not hold the open.
    const int fd = ::open(path.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            ::unlink(path.constData());
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    struct stat st = {};
    if (m_fd >= 0 || ::fstat(fd, &st) != 0 || !isOwnPlainFile(st) || ::fchmod(fd, 0600) != 0) {
        ::unlink(path.constData());
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_path = path;
    m_reused = true;
}

void PartialFile::forget()
{
    if (m_path.isEmpty())
        return;
    Partials &g = partials();
    std::lock_guard lock(g.mutex);
    g.files.erase(m_path);
    m_path.clear();
}

void removePartialDownloads()
{
    Partials &g = partials();
    std::lock_guard lock(g.mutex);
    for (const QByteArray &path : g.files)
        ::unlink(path.constData());
    g.files.clear();
}

bool makePrivateFolder(const QString &path, const QString &root)
{
    if (!root.isEmpty()) {
        const QString top = QDir::cleanPath(QDir().absoluteFilePath(root));
        const QString below = QDir(top).relativeFilePath(QDir::cleanPath(QDir().absoluteFilePath(path)));
        if (below == QLatin1String("..") || below.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(below)) {
            errno = EINVAL;
            return false;
        }
        if (!makePrivateFolder(top))
            return false;
        QByteArray at = QFile::encodeName(top);
        for (const QString &level : below.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            if (level == QLatin1String("."))
                continue;
            at += '/' + QFile::encodeName(level);
            struct stat st = {};
            if (::lstat(at.constData(), &st) == 0 && S_ISLNK(st.st_mode) && ::unlink(at.constData()) != 0)
                return false;
            if (::mkdir(at.constData(), 0700) != 0 && errno != EEXIST)
                return false;
            if (::lstat(at.constData(), &st) != 0)
                return false;
            if (!S_ISDIR(st.st_mode)) {
                errno = ENOTDIR;
                return false;
            }
        }
        return true;
    }
    if (QFileInfo(path).isDir())
        return true;
    const QString absolute = QDir::cleanPath(QDir().absoluteFilePath(path));
    QStringList missing;
    for (QString at = absolute; !QFileInfo::exists(at) && QFileInfo(at).path() != at; at = QFileInfo(at).path())
        missing.prepend(at);
    for (const QString &folder : missing)
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    struct stat st = {};
    if (::stat(QFile::encodeName(absolute).constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

} // namespace SyncHttp
