#include "app/AssetDownloader.h"

#include "app/DownloadedAsset.h"
#include "backpack/BackpackAssets.h"
#include "backpack/BackpackSettings.h"
#include "backpack/TGBackpackAPI.h"
#include "foundation/SyncHttp.h"
#include "foundation/SystemLog.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

#include <mutex>
#include <optional>

namespace {

// The account (site name, user name) whose session the shared cookie store
// holds. A sign-in replaces the session, so every other account signs in
// again before its downloads and never rides on another account's session.
std::mutex gLoginMutex;
std::optional<std::pair<QString, QString>> gSessionAccount;

std::pair<QString, QString> accountKey(const TGBackpackAPI &backpack)
{
    return {backpack.sitename(), backpack.username()};
}

using BackpackAssets::urlError;

} // namespace

AssetDownloader::AssetDownloader(std::shared_ptr<TGBackpackAPI> backpack, AssetDownloaderDelegate *delegate)
    : m_backpack(std::move(backpack)), m_delegate(delegate)
{
}

SyncHttp::Request AssetDownloader::createURLRequestForLogin() const
{
    SyncHttp::Request request;
    request.method = "POST";
    request.url = QUrl(QStringLiteral("https://%1/authenticate").arg(BackpackSettings::signInHost()));
    request.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/x-www-form-urlencoded")));
    // Cached answers are never used: SyncHttp keeps no cache.
    request.body = (QLatin1String("product=backpack&subdomain=") + TGBackpackAPI::formEncoded(m_backpack->sitename())
                    + QLatin1String("&username=") + TGBackpackAPI::formEncoded(m_backpack->username())
                    + QLatin1String("&password=") + TGBackpackAPI::formEncoded(m_backpack->password()))
                       .toUtf8();
    return request;
}

void AssetDownloader::resetLogins()
{
    std::lock_guard lock(gLoginMutex);
    gSessionAccount.reset();
}

bool AssetDownloader::login(OptionalError *error)
{
    const auto key = accountKey(*m_backpack);
    {
        std::lock_guard lock(gLoginMutex);
        if (gSessionAccount == key)
            return true;
    }
    OptionalError failure;
    SyncHttp::Request request = createURLRequestForLogin();
    request.isCancelled = [this] { return isStopped(); };
    const std::optional<SyncHttp::Response> response = SyncHttp::send(request, &failure);
    if (!failure && response && response->status != 200) {
        Error e(SyncHttp::kURLErrorDomain, response->status,
                localizedString("Backpack returned error code %1.").arg(response->status));
        if (response->hasHeader("Status")) {
            e.localizedFailureReason = QString::fromUtf8(response->header("Status"));
            e.localizedRecoverySuggestion = QString();
        }
        failure = e;
    }
    if (failure || !response) {
        if (!failure)
            failure = urlError(SyncHttp::URLErrorUnknown, localizedString("Unable to sign in to Backpack."),
                               createURLRequestForLogin().url);
        setErrorSlot(error, *failure);
        return false;
    }
    std::lock_guard lock(gLoginMutex);
    gSessionAccount = key;
    return true;
}

bool AssetDownloader::ensurePath(const QString &path)
{
    // An application folder left open by an earlier version is closed.
    const QByteArray application = QFile::encodeName(applicationSupportPath());
    struct stat st = {};
    if (::lstat(application.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 077))
        ::chmod(application.constData(), 0700);
    // Below the asset folder nothing is followed: a link there would send
    // the download elsewhere.
    return BackpackAssets::ensurePath(path, assetsPath());
}

QString AssetDownloader::applicationSupportPath()
{
    return BackpackAssets::applicationSupportPath(QStringLiteral("Leafhaul"));
}

QString AssetDownloader::assetsPath()
{
    return BackpackAssets::assetsPath(QStringLiteral("Leafhaul"));
}

QString AssetDownloader::safePathComponent(const QString &name)
{
    return BackpackAssets::safePathComponent(name).value_or(QString());
}

QString AssetDownloader::localNameForURL(const QUrl &url)
{
    // Components of the encoded path, so that an escaped "/" inside a name
    // stays inside that name.
    const QStringList components = url.path(QUrl::FullyEncoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (components.size() < 3)
        return {};
    const QString identifier = safePathComponent(
        QUrl::fromPercentEncoding(components.at(components.size() - 3).toUtf8()));
    const QString filename = safePathComponent(QUrl::fromPercentEncoding(components.last().toUtf8()));
    if (identifier.isEmpty() || filename.isEmpty())
        return {};
    return identifier + QLatin1Char('/') + filename;
}

bool AssetDownloader::startDownloadingFile(const QUrl &url, OptionalError *error)
{
    // Without a data folder the asset would go below "/".
    const QString assets = assetsPath();
    if (assets.isEmpty()) {
        setErrorSlot(error, BackpackAssets::noDataFolderError(url));
        return false;
    }
    const QString localName = localNameForURL(url);
    if (localName.isEmpty()) {
        setErrorSlot(error, urlError(SyncHttp::URLErrorBadURL, localizedString("Unable to start downloading"), url));
        return false;
    }
    // The asset's own name, for the user; the local file's may be shorter.
    const QString name = QUrl::fromPercentEncoding(
        url.path(QUrl::FullyEncoded).split(QLatin1Char('/'), Qt::SkipEmptyParts).last().toUtf8());

    const QString folder = assets + QLatin1Char('/') + localName.section(QLatin1Char('/'), 0, 0);
    ensurePath(folder);
    struct stat st = {};
    if (::lstat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        setErrorSlot(error, Error(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorCannotCreateFile,
                                  localizedString("The folder “%1” could not be created.").arg(folder)));
        return false;
    }
    setDestinationPath(assets + QLatin1Char('/') + localName);
    // The new copy will be renamed over the name, which a folder refuses:
    // better said now than after the whole transfer.
    if (::lstat(QFile::encodeName(m_destinationPath).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        setErrorSlot(error, Error(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorCannotWriteToFile,
                                  localizedString("The file “%1” cannot be saved because a folder has that name.")
                                      .arg(m_destinationPath)));
        return false;
    }
    // Stopped before it began: the earlier copy stays, as after any stop.
    if (isStopped())
        return true;

    OptionalError loginError;
    if (!login(&loginError)) {
        setErrorSlot(error, *loginError);
        return false;
    }

    SyncHttp::Request request;
    request.url = url;
    request.timeoutSeconds = 60;
    request.downloadPath = m_destinationPath;
    // A redirect leads away from the asset: to the sign-in page when the
    // session has expired, which must never be kept as the file.
    request.followRedirects = false;
    // An error page, a redirect or the sign-in page is not the asset: it
    // never takes the file's name, not even for a moment.
    request.acceptDownload = &BackpackAssets::isAsset;
    request.maxReplyBytes = kMaxAssetBytes;
    request.hashBody = true;
    request.isCancelled = [this] { return isStopped(); };

    OptionalError failure;
    const std::optional<SyncHttp::Response> response = SyncHttp::send(request, &failure);
    if (request.isCancelled())
        return true;
    if (failure || !response) {
        if (failure && failure->userInfo.contains(SyncHttp::kMaxReplyBytesKey)) {
            failure->localizedDescription = localizedString("The file %1 is larger than the %2 MB a note can hold.")
                                                .arg(name)
                                                .arg(kMaxAssetBytes / (1024 * 1024));
        }
        downloadDidFail(failure
                            ? *failure
                            : urlError(SyncHttp::URLErrorUnknown, localizedString("Unable to start downloading"), url));
        return true;
    }
    if (!BackpackAssets::isAsset(*response)) {
        downloadDidFail(BackpackAssets::notAnAssetError(*response, url, name));
        return true;
    }
    downloadDidFinish(DownloadedAsset(m_destinationPath, response->md5, response->bodySize, response->fileDevice,
                                      response->fileInode));
    return true;
}

void AssetDownloader::downloadDidFinish(const DownloadedAsset &asset)
{
    systemLog(QStringLiteral("Downloaded %1").arg(asset.path));
    if (m_delegate)
        m_delegate->assetDownloader(this, asset);
}

// The earlier copy, if any, stays: the failed body never took its name, and
// a 404 may leave it the user's last copy.
void AssetDownloader::downloadDidFail(const Error &error)
{
    systemLog(QStringLiteral("Download failed! Error - %1 %2")
                  .arg(error.localizedDescription, error.userInfo.value(SyncHttp::kFailingURLStringKey).toString()));
    if (m_delegate)
        m_delegate->assetDownloader(this, error);
}
