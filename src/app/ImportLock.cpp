#include "app/ImportLock.h"

#include "app/AssetDownloader.h"
#include "app/ErrorDomain.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Not the data folder: that holds only the files the import keeps.
QString lockFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/Leafhaul");
}

// "import-<SHA-256 of the NoteStore URL>.lock": a URL may be longer than a
// file name, and spelled in more than one way.
QString lockPath(const WSKOAuthAuthentication &authentication)
{
    const QUrl url(authentication.userEmail());
    const QByteArray account = url.adjusted(QUrl::NormalizePathSegments | QUrl::StripTrailingSlash).toEncoded();
    return lockFolder() + QStringLiteral("/import-")
           + QString::fromLatin1(QCryptographicHash::hash(account, QCryptographicHash::Sha256).toHex())
           + QStringLiteral(".lock");
}

} // namespace

std::unique_ptr<ImportLock> ImportLock::take(const WSKOAuthAuthentication &authentication, OptionalError *error)
{
    const QString path = lockPath(authentication);
    const QByteArray name = QFile::encodeName(path);
    AssetDownloader::ensurePath(lockFolder());
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
    if (errnum == EWOULDBLOCK)
        setErrorSlot(error, Error(kLeafhaulErrorDomain, 0,
                                  localizedString("Another Leafhaul is importing into this Ravadido account."), {},
                                  localizedString("Wait until that import has ended, then import again.")));
    else
        setErrorSlot(
            error, Error(kLeafhaulErrorDomain, 0,
                         withSystemReason(
                             localizedString("The import could not begin: the file %1 could not be opened.").arg(path),
                             systemReason(errnum)),
                         systemReason(errnum)));
    return nullptr;
}

ImportLock::~ImportLock()
{
    // Removed while still held: whoever opened it meanwhile finds it gone.
    ::unlink(m_path.constData());
    ::close(m_fd);
}
