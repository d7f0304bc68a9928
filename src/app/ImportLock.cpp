#include "app/ImportLock.h"

#include "app/AssetDownloader.h"
#include "app/ErrorDomain.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QCryptographicHash>
#include <QFile>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace {

// "import-<SHA-256 of the NoteStore URL>.lock": a URL may be longer than a
// file name, and spelled in more than one way.
QString lockPath(const WSKOAuthAuthentication &authentication)
{
    const QUrl url(authentication.userEmail());
    const QByteArray account = url.adjusted(QUrl::NormalizePathSegments | QUrl::StripTrailingSlash).toEncoded();
    return AssetDownloader::applicationSupportPath() + QStringLiteral("/import-")
           + QString::fromLatin1(QCryptographicHash::hash(account, QCryptographicHash::Sha256).toHex())
           + QStringLiteral(".lock");
}

} // namespace

std::unique_ptr<ImportLock> ImportLock::take(const WSKOAuthAuthentication &authentication, OptionalError *error)
{
    const QString path = lockPath(authentication);
    AssetDownloader::ensurePath(AssetDownloader::applicationSupportPath());
    // Close-on-exec: a program started meanwhile must not keep the lock.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int errnum = errno;
        if (fd >= 0)
            ::close(fd);
        if (fd >= 0 && errnum == EWOULDBLOCK)
            setErrorSlot(error, Error(kLeafhaulErrorDomain, 0,
                                      localizedString("Another Leafhaul is importing into this Ravadido account."), {},
                                      localizedString("Wait until that import has ended, then import again.")));
        else
            setErrorSlot(
                error,
                Error(kLeafhaulErrorDomain, 0,
                      withSystemReason(
                          localizedString("The import could not begin: the file %1 could not be opened.").arg(path),
                          systemReason(errnum)),
                      systemReason(errnum)));
        return nullptr;
    }
    return std::unique_ptr<ImportLock>(new ImportLock(fd));
}

ImportLock::~ImportLock()
{
    ::close(m_fd);
}
