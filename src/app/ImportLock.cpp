#include "app/ImportLock.h"

#include "app/AssetDownloader.h"
#include "app/ErrorDomain.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The data folder: the user's own, and the same for every session of the
// user. The runtime folder is neither: it follows XDG_RUNTIME_DIR, which a
// shell may lack, and Qt gives none at all when its fallback is taken.
// Empty when there is no data folder to be had.
QString lockFolder()
{
    if (!QDir::isAbsolutePath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)))
        return {};
    return AssetDownloader::applicationSupportPath() + QStringLiteral("/Locks");
}

// "import-<SHA-256 of the NoteStore URL>.lock": a URL may be longer than a
// file name, and spelled in more than one way.
QString lockPath(const QString &folder, const WSKOAuthAuthentication &authentication)
{
    const QUrl url(authentication.userEmail());
    const QByteArray account = url.adjusted(QUrl::NormalizePathSegments | QUrl::StripTrailingSlash).toEncoded();
    return folder + QStringLiteral("/import-")
           + QString::fromLatin1(QCryptographicHash::hash(account, QCryptographicHash::Sha256).toHex())
           + QStringLiteral(".lock");
}

} // namespace

std::unique_ptr<ImportLock> ImportLock::take(const WSKOAuthAuthentication &authentication, OptionalError *error)
{
    const QString folder = lockFolder();
    if (folder.isEmpty()) {
        setErrorSlot(error, Error(kLeafhaulErrorDomain, 0,
                                  localizedString("The import could not begin: Leafhaul found no data folder of "
                                                  "yours to keep its lock in."),
                                  {}, localizedString("Set HOME to your home folder and import again.")));
        return nullptr;
    }
    const QString path = lockPath(folder, authentication);
    const QByteArray name = QFile::encodeName(path);
    AssetDownloader::ensurePath(folder);
    int errnum = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        // Close-on-exec: a program started meanwhile must not keep the lock.
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            errnum = errno;
            break;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            errnum = errno;
            ::close(fd);
            break;
        }
        // The holder before may have removed the file since this open.
        struct stat held = {}, named = {};
        if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &named) == 0 && held.st_dev == named.st_dev
            && held.st_ino == named.st_ino)
            return std::unique_ptr<ImportLock>(new ImportLock(fd, name));
        ::close(fd);
        errnum = EWOULDBLOCK;
    }
    if (errnum == EWOULDBLOCK) {
        // Known by its NoteStore address alone, which accounts on one
        // server share: the other import may be into another of them.
        setErrorSlot(error, Error(kLeafhaulErrorDomain, 0,
                                  localizedString("Another Leafhaul is importing into this Ravadido account or "
                                                  "into another account on the same Ravadido server."),
                                  {}, localizedString("Wait until that import has ended, then import again.")));
        return nullptr;
    }
    const QString reason = systemReason(errnum);
    QString suggestion = fileRecoverySuggestion(errnum);
    if (suggestion.isEmpty())
        suggestion = localizedString(
                         "Make sure that “%1” is a folder of yours that you can write in, then import again.")
                         .arg(folder);
    setErrorSlot(
        error,
        Error(kLeafhaulErrorDomain, 0,
              withSystemReason(
                  localizedString("The import could not begin: its lock file “%1” could not be opened.").arg(path),
                  reason),
              reason, suggestion));
    return nullptr;
}

ImportLock::~ImportLock()
{
    // Removed while still held: whoever opened it meanwhile finds it gone.
    ::unlink(m_path.constData());
    ::close(m_fd);
}
