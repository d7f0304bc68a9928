#include "app/ImportLock.h"

#include "app/AssetDownloader.h"
#include "app/ErrorDomain.h"
#include "backpack/BackpackAssets.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// "import-<SHA-256 of the NoteStore URL>.lock": a URL may be longer than a
// file name, and spelled in more than one way.
QString lockName(const WSKOAuthAuthentication &authentication)
{
    const QUrl url(authentication.userEmail());
    const QByteArray account = url.adjusted(QUrl::NormalizePathSegments | QUrl::StripTrailingSlash).toEncoded();
    return QStringLiteral("import-")
           + QString::fromLatin1(QCryptographicHash::hash(account, QCryptographicHash::Sha256).toHex())
           + QStringLiteral(".lock");
}

// The error of a step that failed with `errnum`; `suggestion` when the
// reason itself suggests nothing.
Error lockError(const QString &description, int errnum, const QString &suggestion)
{
    const QString reason = systemReason(errnum);
    const QString byReason = fileRecoverySuggestion(errnum);
    return Error(kLeafhaulErrorDomain, 0, withSystemReason(description, reason), reason,
                 byReason.isEmpty() ? suggestion : byReason);
}

} // namespace

QString ImportLock::filePath(const WSKOAuthAuthentication &authentication)
{
    // The data folder, not the runtime folder: the same for every session
    // of the user, whereas XDG_RUNTIME_DIR may be missing from a shell.
    const QString application = AssetDownloader::applicationSupportPath();
    if (application.isEmpty())
        return {};
    return application + QStringLiteral("/Locks/") + lockName(authentication);
}

std::unique_ptr<ImportLock> ImportLock::take(const WSKOAuthAuthentication &authentication, OptionalError *error)
{
    const QString path = filePath(authentication);
    if (path.isEmpty()) {
        setErrorSlot(error, Error(kLeafhaulErrorDomain, 0,
                                  localizedString("The import could not begin: Leafhaul found no data folder of "
                                                  "yours to keep its lock in."),
                                  {}, BackpackAssets::noDataFolderSuggestion()));
        return nullptr;
    }
    const QString folder = QFileInfo(path).path();
    const QString folderSuggestion =
        localizedString("Make sure that “%1” is a folder of yours that you can write in, then import again.")
            .arg(folder);
    // Its own reason: the open that would follow could only say the
    // folder is missing.
    if (!AssetDownloader::ensurePath(folder)) {
        const int errnum = errno;
        setErrorSlot(error, lockError(localizedString("The import could not begin: the folder “%1” for its lock "
                                                      "file could not be created.")
                                          .arg(folder),
                                      errnum, folderSuggestion));
        return nullptr;
    }
    const QByteArray name = QFile::encodeName(path);
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
    // A folder or a link at the file's own name (EISDIR, ELOOP): that is
    // what must go, not anything about the folder.
    struct stat st = {};
    const bool inTheWay = ::lstat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode);
    setErrorSlot(
        error,
        lockError(
            localizedString("The import could not begin: its lock file “%1” could not be opened.").arg(path), errnum,
            inTheWay ? localizedString("Remove “%1”, which stands where Leafhaul keeps its lock file, then import "
                                       "again.")
                           .arg(path)
                     : folderSuggestion));
    return nullptr;
}

ImportLock::~ImportLock()
{
    // Removed while still held: whoever opened it meanwhile finds it gone.
    ::unlink(m_path.constData());
    ::close(m_fd);
}
