#include "backpack/BackpackAssets.h"

#include "backpack/TGBackpackAPI.h"
#include "foundation/DownloadFiles.h"
#include "foundation/SyncHttp.h"
#include "foundation/SystemLog.h"

#include <QCryptographicHash>
#include <QStandardPaths>

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

// `name` cut to kMaxNameBytes of UTF-8 at a character's start, its extension
// kept; a short hash of the whole name before the extension keeps two long
// names of one folder apart.
QString fittedName(const QString &name)
{
    const QByteArray utf8 = name.toUtf8();
    if (utf8.size() <= kMaxNameBytes)
        return name;
    const qsizetype dot = utf8.lastIndexOf('.');
    const QByteArray extension = dot > 0 && utf8.size() - dot <= kMaxExtensionBytes ? utf8.mid(dot) : QByteArray();
    const QByteArray hash = '-' + QCryptographicHash::hash(utf8, QCryptographicHash::Sha1).toHex().left(8);
    qsizetype cut = kMaxNameBytes - hash.size() - extension.size();
    while (cut > 0 && (uchar(utf8.at(cut)) & 0xC0) == 0x80) // a continuation byte
        --cut;
    return QString::fromUtf8(utf8.left(cut) + hash + extension);
}

} // namespace

QString applicationSupportPath(const QString &program)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/') + program;
}

QString assetsPath(const QString &program)
{
    return applicationSupportPath(program) + QStringLiteral("/Assets");
}

void ensurePath(const QString &path, const QString &root)
{
    if (!SyncHttp::makePrivateFolder(path, path.startsWith(root + QLatin1Char('/')) ? root : QString()))
        systemLog(QStringLiteral("Unable to create %1\nError: %2")
                      .arg(path, localizedString("The folder could not be created.")));
}

std::optional<QString> safePathComponent(const QString &name)
{
    QString safe;
    safe.reserve(name.size());
    for (QChar c : name)
        safe.append(c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 ? QChar(u'_') : c);
    if (safe.isEmpty())
        return std::nullopt;
    if (safe == QLatin1String(".") || safe == QLatin1String(".."))
        return QString(safe.size(), u'_');
    return fittedName(safe);
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
