#pragma once

#include "backpack/BackpackAssets.h"
#include "backpack/TGBackpackAccount.h"
#include "foundation/Error.h"
#include "foundation/SyncHttp.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

class TGBackpackAssetDownloader;

class TGBackpackAssetDownloaderDelegate
{
public:
    virtual ~TGBackpackAssetDownloaderDelegate() = default;
    virtual void backpackAssetDownloaderDidFinish(TGBackpackAssetDownloader *) {}
};

// Downloads Backpack assets ("/assets/<id>/as/<name>" or "/thumbs/<id>/as/..."
// addresses) one at a time into assetsPath()/<id>/<name suggested by the
// server>, after signing in to the Backpack sign-in service once per process.
//
// downloadURL() returns at once; the body streams to disk on a worker thread
// and the end is reported on this object's thread, whose event loop must run
// until finished() (or cancel()). Every download that is started ends, with
// or without downloadError(), by telling the delegate.
class TGBackpackAssetDownloader : public QObject
{
    Q_OBJECT
public:
    explicit TGBackpackAssetDownloader(std::shared_ptr<TGBackpackAccount> account, QObject *parent = nullptr);
    ~TGBackpackAssetDownloader() override;

    void downloadURL(const QUrl &url);
    // Stops the download in progress; finished() stays as it is and the
    // delegate is not told.
    void cancel();
    bool login();
    SyncHttp::Request createURLRequestForLogin() const;
    void retry();
    void informDelegate();

    // The service's largest resource (premium): a larger asset is refused
    // before it is read.
    static constexpr qint64 kMaxAssetBytes = BackpackAssets::kMaxAssetBytes;

    static QString applicationSupportPath();
    static QString assetsPath();
    static void ensurePath(const QString &path);
    // One safe path component made from a name the network gave
    // (BackpackAssets::safePathComponent).
    static std::optional<QString> safePathComponent(const QString &name);
    // The asset folder named by an asset address, nothing when it has none.
    static std::optional<QString> assetFolderName(const QUrl &url);

    bool finished() const { return m_finished; }
    OptionalError downloadError() const;
    TGBackpackAssetDownloaderDelegate *delegate() const { return m_delegate; }
    void setDelegate(TGBackpackAssetDownloaderDelegate *delegate) { m_delegate = delegate; }
    // Idle time-out of the sign-in and download requests (60 s).
    void setTimeoutSeconds(int seconds) { m_timeoutSeconds = seconds; }

    // The process's sign-in state; tests start again from signed out.
    static bool isLoggedIn();
    static void forgetLogin();

private:
    struct Outcome
    {
        std::optional<SyncHttp::Response> response;
        OptionalError error;
    };
    void setError(const OptionalError &error);
    void finishWithError(const Error &error);
    void downloadEnded(quint64 generation, const Outcome &outcome, const QString &tempPath, const QString &folder);
    void didFailWithError(const Error &error);
    void didFinish(const QString &tempPath, const QString &folder, const SyncHttp::Response &response);
    void stopWorker();
    void removePartialFile();

    std::shared_ptr<TGBackpackAccount> m_account;
    bool m_finished = false;
    OptionalError m_downloadError;
    TGBackpackAssetDownloaderDelegate *m_delegate = nullptr;
    QUrl m_requestURL;
    quint64 m_tries = 0;
    int m_timeoutSeconds = 60;

    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancelFlag;
    quint64 m_generation = 0;
    bool m_downloading = false;
    // The download's file until its outcome has been handled.
    QString m_tempPath;
};
