#include "backpack/BackpackAssets.h"

#include "backpack/TGBackpackAPI.h"
#include "foundation/DownloadFiles.h"
#include "foundation/SyncHttp.h"
#include "foundation/SystemLog.h"

#include <QCryptographicHash>
#include <QStandardPaths>

#include <algorithm>

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
    if (name.isEmpty())
        return std::nullopt;
    QString safe;
    safe.reserve(name.size());
    for (QChar c : name)
        safe.append(c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 ? QChar(u'_') : c);
    if (safe == QLatin1String(".") || safe == QLatin1String(".."))
        safe = QString(safe.size(), u'_');
    // A name that needs no change keeps the file and folder of earlier copies.
    if (safe == name && name.toUtf8().size() <= kMaxNameBytes)
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
