#pragma once

#include "backpack/BackpackAssets.h"
#include "foundation/Error.h"

#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>

class AssetDownloader;
class TGBackpackAPI;
struct DownloadedAsset;
namespace SyncHttp {
struct Request;
} // namespace SyncHttp

// Told how a download ended, on the thread that ran it. Exactly one of the two
// is called for a download that started, unless it was cancelled.
class AssetDownloaderDelegate
{
public:
    virtual ~AssetDownloaderDelegate() = default;
    // The file is complete at `asset.path`, with the MD5 taken while it
    // arrived.
    virtual void assetDownloader(AssetDownloader *downloader, const DownloadedAsset &asset) = 0;
    virtual void assetDownloader(AssetDownloader *downloader, const Error &error) = 0;
};

// Downloads one Backpack asset into the asset folder, after signing in to
// Backpack's sign-in service so that the session cookie goes with the
// download. One downloader serves one file; it runs on the import worker's
// thread and blocks it for the transfer.
class AssetDownloader
{
public:
    AssetDownloader(std::shared_ptr<TGBackpackAPI> backpack, AssetDownloaderDelegate *delegate);

    // The sign-in form POST for the client's account.
    SyncHttp::Request createURLRequestForLogin() const;
    // Signs in unless this account has already signed in during this run.
    bool login(OptionalError *error);
    // Forgets every sign-in of this run (tests).
    static void resetLogins();

    // Creates the folder and its parents, readable by the user alone; false,
    // with errno telling why, when it is not there afterwards.
    static bool ensurePath(const QString &path);
    // Empty when the user has no data folder (BackpackAssets::dataFolder).
    static QString applicationSupportPath();
    static QString assetsPath();

    // Prepares the destination, signs in when needed and downloads the file;
    // the delegate hears the outcome before this returns true. Returns false
    // (with the error) when the download could not begin. An earlier copy at
    // the destination is replaced only by a whole asset: a failure or a stop
    // leaves it as it was.
    bool startDownloadingFile(const QUrl &url, OptionalError *error = nullptr);
    // Ends the transfer in progress, from any thread; no delegate call follows.
    void cancelDownload() { m_cancelled = true; }
    // Asked while the transfer runs; true cancels it like cancelDownload().
    void setCancellationCheck(std::function<bool()> check) { m_cancellationCheck = std::move(check); }

    QString destinationPath() const { return m_destinationPath; }
    void setDestinationPath(const QString &path) { m_destinationPath = path; }

    // The service's largest resource (premium): a larger asset is refused
    // before it is read.
    static constexpr qint64 kMaxAssetBytes = BackpackAssets::kMaxAssetBytes;

    // One safe path component from a name taken off a URL or a server, by
    // the rule of every asset downloader (BackpackAssets); "" for none.
    static QString safePathComponent(const QString &name);
    // Where below the asset folder the asset of `url` is kept: "<id>/<name>",
    // each a safe path component; "" when the URL names no asset.
    static QString localNameForURL(const QUrl &url);

private:
    void downloadDidFinish(const DownloadedAsset &asset);
    void downloadDidFail(const Error &error);
    bool isStopped() const { return m_cancelled || (m_cancellationCheck && m_cancellationCheck()); }

    std::shared_ptr<TGBackpackAPI> m_backpack;
    AssetDownloaderDelegate *m_delegate;
    QString m_destinationPath;
    std::atomic<bool> m_cancelled{false};
    std::function<bool()> m_cancellationCheck;
};
