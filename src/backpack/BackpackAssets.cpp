#include "backpack/BackpackAssets.h"

#include "backpack/TGBackpackAPI.h"
#include "foundation/DownloadFiles.h"
#include "foundation/SyncHttp.h"
#include "foundation/SystemLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace BackpackAssets {

namespace {

// An expired session answers with the sign-in page, or a redirect to it.
bool isSignInPage(const SyncHttp::Response &response)
{
    return TGBackpackAPI::isLoginPage(response)
           || QUrl(QString::fromUtf8(response.header("Location"))).fileName() == QLatin1String("login.html");
}

// A file name takes at most NAME_MAX bytes.
constexpr qsizetype kMaxNameBytes = 255;
// A longer tail after the last dot is no extension.
constexpr qsizetype kMaxExtensionBytes = 32;

// `name` with a short hash of `raw` before its extension, cut to
// kMaxNameBytes of UTF-8 at a character's start: the hash keeps apart the
// names that the cut or the clean-up made alike.
QString taggedName(const QString &name, const QString &raw)
{
    const QByteArray utf8 = name.toUtf8();
    const qsizetype dot = utf8.lastIndexOf('.');
    const QByteArray extension = dot > 0 && utf8.size() - dot <= kMaxExtensionBytes ? utf8.mid(dot) : QByteArray();
    const QByteArray tag = '-' + QCryptographicHash::hash(raw.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    qsizetype cut = std::min(utf8.size() - extension.size(), kMaxNameBytes - tag.size() - extension.size());
    while (cut > 0 && cut < utf8.size() && (uchar(utf8.at(cut)) & 0xC0) == 0x80) // a continuation byte
        --cut;
    return QString::fromUtf8(utf8.left(cut) + tag + extension);
}

bool endsWithTag(QStringView text)
{
    if (text.size() < 9 || text.at(text.size() - 9) != QLatin1Char('-'))
        return false;
    return std::all_of(text.end() - 8, text.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    });
}

// Whether `name` could be one that taggedName gave: "-" and 8 hex digits
// before its last dot, or at its end (a tail too long to be an extension).
bool looksTagged(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return endsWithTag(name) || (dot > 0 && endsWithTag(QStringView(name).left(dot)));
}

// `path` with "." and ".." taken by name (".." at the top stays there);
// empty when it is not absolute or comes to the top of the file system,
// which is nobody's data folder nor home ("", "/", "/..", "/a/../..").
QString absoluteFolder(const QString &path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return {};
    QStringList kept;
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            if (!kept.isEmpty())
                kept.removeLast();
        } else if (part != QLatin1String(".")) {
            kept << part;
        }
    }
    return kept.isEmpty() ? QString() : QLatin1Char('/') + kept.join(QLatin1Char('/'));
}

} // namespace

QString dataFolder()
{
    const QString configured = absoluteFolder(QFile::decodeName(qgetenv("XDG_DATA_HOME")));
    if (!configured.isEmpty())
        return configured;
    QString home = absoluteFolder(QFile::decodeName(qgetenv("HOME")));
    if (home.isEmpty()) {
        long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
        struct passwd entry = {}, *found = nullptr;
        int result = 0;
        while ((result = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE)
            buffer.resize(buffer.size() * 2);
        home = result == 0 && found && found->pw_dir ? absoluteFolder(QFile::decodeName(found->pw_dir)) : QString();
        if (home.isEmpty())
            return {};
    }
    return home + QStringLiteral("/.local/share");
}

QString applicationSupportPath(const QString &program)
{
    const QString data = dataFolder();
    return data.isEmpty() ? QString() : QDir::cleanPath(data + QLatin1Char('/') + program);
}

QString assetsPath(const QString &program)
{
    const QString application = applicationSupportPath(program);
    return application.isEmpty() ? QString() : application + QStringLiteral("/Assets");
}

QString noDataFolderSuggestion()
{
    return localizedString("Set HOME to your home folder, or XDG_DATA_HOME to an absolute folder of yours, then "
                           "start the program again.");
}

Error noDataFolderError(const QUrl &url)
{
    Error e = urlError(SyncHttp::URLErrorCannotCreateFile,
                       localizedString("The file cannot be saved: there is no data folder of yours to keep it in."),
                       url);
    e.localizedRecoverySuggestion = noDataFolderSuggestion();
    return e;
}

bool ensurePath(const QString &path, const QString &root)
{
    if (root.isEmpty()) {
        errno = ENOENT;
        return false;
    }
    if (SyncHttp::makePrivateFolder(path, path.startsWith(root + QLatin1Char('/')) ? root : QString()))
        return true;
    const int errnum = errno;
    systemLog(
        QStringLiteral("Unable to create %1\nError: %2")
            .arg(path, withSystemReason(localizedString("The folder could not be created."), systemReason(errnum))));
    errno = errnum;
    return false;
}

std::optional<QString> safePathComponent(const QString &name)
{
    if (name.isEmpty())
        return std::nullopt;
    QString safe;
    safe.reserve(name.size());
    for (QChar c : name)
        safe.append(c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 ? QChar(u'_') : c);
    if (safe == QLatin1String(".") || safe == QLatin1String(".."))
        safe = QString(safe.size(), u'_');
    // A name that needs no change keeps the file and folder of earlier copies,
    // unless it could be another name's tagged form.
    if (safe == name && name.toUtf8().size() <= kMaxNameBytes && !looksTagged(name))
        return safe;
    return taggedName(safe, name);
}

Error urlError(long code, const QString &description, const QUrl &url)
{
    return Error(SyncHttp::kURLErrorDomain, code, description, {}, {},
                 {{SyncHttp::kFailingURLStringKey, url.toString(QUrl::FullyEncoded)}});
}

bool isAsset(const SyncHttp::Response &response)
{
    return response.status >= 200 && response.status <= 299 && !isSignInPage(response);
}

Error notAnAssetError(const SyncHttp::Response &response, const QUrl &url, const QString &fileName)
{
    Error e = urlError(
        SyncHttp::URLErrorBadServerResponse,
        isSignInPage(response)
            ? localizedString("Backpack answered the download of %1 with its sign-in page.").arg(fileName)
            : localizedString("Backpack returned error code %1.").arg(response.status),
        url);
    e.localizedFailureReason = localizedString("The file %1 could not be downloaded.").arg(fileName);
    e.userInfo.insert(QStringLiteral("status"), qlonglong(response.status));
    return e;
}

} // namespace BackpackAssets
