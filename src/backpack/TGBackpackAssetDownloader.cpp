#include "backpack/TGBackpackAssetDownloader.h"

#include "backpack/BackpackAssets.h"
#include "backpack/BackpackSettings.h"
#include "backpack/TGBackpackAPI.h"
#include "foundation/SystemLog.h"
#include "foundation/TGQuietLog.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QThread>
#include <QUuid>

#include <cerrno>
#include <cstdio>

namespace {

std::atomic<bool> gLoggedIn{false};

using BackpackAssets::urlError;

} // namespace

TGBackpackAssetDownloader::TGBackpackAssetDownloader(std::shared_ptr<TGBackpackAccount> account, QObject *parent)
    : QObject(parent), m_account(std::move(account))
{
}

TGBackpackAssetDownloader::~TGBackpackAssetDownloader()
{
    stopWorker();
    removePartialFile();
}

bool TGBackpackAssetDownloader::isLoggedIn()
{
    return gLoggedIn;
}

void TGBackpackAssetDownloader::forgetLogin()
{
    gLoggedIn = false;
}

OptionalError TGBackpackAssetDownloader::downloadError() const
{
    return m_downloadError;
}

void TGBackpackAssetDownloader::setError(const OptionalError &error)
{
    m_downloadError = error;
}

void TGBackpackAssetDownloader::informDelegate()
{
    if (m_delegate)
        m_delegate->backpackAssetDownloaderDidFinish(this);
}

QString TGBackpackAssetDownloader::applicationSupportPath()
{
    return BackpackAssets::applicationSupportPath(QStringLiteral("Stowbird"));
}

QString TGBackpackAssetDownloader::assetsPath()
{
    return BackpackAssets::assetsPath(QStringLiteral("Stowbird"));
}

void TGBackpackAssetDownloader::ensurePath(const QString &path)
{
    BackpackAssets::ensurePath(path, assetsPath());
}

std::optional<QString> TGBackpackAssetDownloader::safePathComponent(const QString &name)
{
    return BackpackAssets::safePathComponent(name);
}

std::optional<QString> TGBackpackAssetDownloader::assetFolderName(const QUrl &url)
{
    const QString text = url.toString(QUrl::FullyEncoded);
    qsizetype start = text.indexOf(QLatin1String("/assets/"));
    if (start < 0)
        start = text.indexOf(QLatin1String("/thumbs/"));
    if (start < 0)
        return std::nullopt;
    start += 8;
    const qsizetype end = text.indexOf(QLatin1String("/as/"), start);
    if (end < 0)
        return std::nullopt;
    return safePathComponent(QUrl::fromPercentEncoding(text.mid(start, end - start).toUtf8()));
}

SyncHttp::Request TGBackpackAssetDownloader::createURLRequestForLogin() const
{
    SyncHttp::Request r;
    r.method = "POST";
    r.url = QUrl(QLatin1String("https://") + BackpackSettings::signInHost() + QLatin1String("/authenticate"),
                 QUrl::StrictMode);
    r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/x-www-form-urlencoded")));
    r.body = (QLatin1String("product=backpack&subdomain=") + TGBackpackAPI::formEncoded(m_account->sitename())
              + QLatin1String("&username=") + TGBackpackAPI::formEncoded(m_account->username())
              + QLatin1String("&password=") + TGBackpackAPI::formEncoded(m_account->password()))
                 .toUtf8();
    r.useCookies = true;
    r.timeoutSeconds = m_timeoutSeconds;
    return r;
}

bool TGBackpackAssetDownloader::login()
{
    if (gLoggedIn)
        return true;
    OptionalError error;
    const std::optional<SyncHttp::Response> response = SyncHttp::send(createURLRequestForLogin(), &error);
    if (response && response->status != 200) {
        QString description = localizedString("Backpack returned error code %d.");
        description.replace(QLatin1String("%d"), QString::number(response->status));
        if (response->hasHeader("Status"))
            error = Error(SyncHttp::kURLErrorDomain, response->status, description,
                          QString::fromUtf8(response->header("Status")), QString());
        else
            error = Error(SyncHttp::kURLErrorDomain, response->status, description);
    }
    if (error)
        setError(error);
    gLoggedIn = !error && response && !response->body.isEmpty();
    return gLoggedIn;
}

void TGBackpackAssetDownloader::finishWithError(const Error &error)
{
    setError(error);
    m_finished = true;
    informDelegate();
}

void TGBackpackAssetDownloader::stopWorker()
{
    if (m_cancelFlag)
        *m_cancelFlag = true;
    if (m_worker.joinable())
        m_worker.join();
    m_downloading = false;
}

void TGBackpackAssetDownloader::cancel()
{
    ++m_generation; // a result already on its way is dropped
    stopWorker();
    removePartialFile();
}

void TGBackpackAssetDownloader::removePartialFile()
{
    if (!m_tempPath.isEmpty())
        QFile::remove(m_tempPath);
    m_tempPath.clear();
}

void TGBackpackAssetDownloader::downloadURL(const QUrl &url)
{
    setError(std::nullopt);
    m_finished = false;

    // Without a data folder the asset would land at the top of the file
    // system, or wherever the program was started.
    if (assetsPath().isEmpty()) {
        finishWithError(BackpackAssets::noDataFolderError(url));
        return;
    }

    if (!login()) {
        systemLog(QStringLiteral("Failed to login to download %1").arg(url.toString()));
        finishWithError(m_downloadError.value_or(
            urlError(SyncHttp::URLErrorUserAuthenticationRequired, localizedString("Backpack sign-in failed."), url)));
        return;
    }

    m_requestURL = url;
    const std::optional<QString> folderName = assetFolderName(url);
    if (!folderName) {
        systemLog(QStringLiteral("Couldn't create download for %1").arg(url.toString()));
        finishWithError(
            urlError(SyncHttp::URLErrorBadURL, localizedString("The address names no Backpack asset."), url));
        return;
    }
    const QString folder = QDir(assetsPath()).filePath(*folderName);
    ensurePath(folder);

    stopWorker();
    const quint64 generation = ++m_generation;
    auto cancelFlag = std::make_shared<std::atomic<bool>>(false);
    m_cancelFlag = cancelFlag;
    m_downloading = true;

    // The body goes to a hidden file first: the server's file name is known
    // only once the answer's headers have arrived.
    const QString tempPath = QDir(folder).filePath(
        QStringLiteral(".download-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    SyncHttp::Request request;
    request.url = url;
    request.timeoutSeconds = m_timeoutSeconds;
    request.downloadPath = tempPath;
    // A redirect leads away from the asset (to the sign-in page when the
    // session has expired); nothing larger than a note's largest file is taken.
    request.followRedirects = false;
    request.maxReplyBytes = kMaxAssetBytes;
    // An error page never reaches the disk.
    request.acceptDownload = &BackpackAssets::isAsset;
    m_tempPath = tempPath;
    request.isCancelled = [cancelFlag] { return cancelFlag->load(); };

    m_worker = std::thread([this, request, generation, tempPath, folder] {
        Outcome outcome;
        outcome.response = SyncHttp::send(request, &outcome.error);
        QMetaObject::invokeMethod(
            this,
            [this, generation, outcome, tempPath, folder] { downloadEnded(generation, outcome, tempPath, folder); },
            Qt::QueuedConnection);
    });
}

void TGBackpackAssetDownloader::downloadEnded(quint64 generation, const Outcome &outcome, const QString &tempPath,
                                              const QString &folder)
{
    if (generation != m_generation) {
        QFile::remove(tempPath);
        return;
    }
    if (m_worker.joinable())
        m_worker.join();
    m_downloading = false;
    m_tempPath.clear(); // from here on the outcome's own steps remove it
    if (!outcome.response) {
        QFile::remove(tempPath);
        didFailWithError(outcome.error.value_or(urlError(SyncHttp::URLErrorUnknown, QString(), m_requestURL)));
        return;
    }
    didFinish(tempPath, folder, *outcome.response);
}

void TGBackpackAssetDownloader::retry()
{
    TGQuietLog("Retrying after time Out for %@", m_requestURL);
    ++m_tries;
    QThread::sleep(1);
    downloadURL(m_requestURL);
}

void TGBackpackAssetDownloader::didFailWithError(const Error &error)
{
    if (error.is(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorTimedOut)) {
        if (m_tries < 2) {
            retry();
            return;
        }
        TGQuietLog("Exceeded retries");
    }
    setError(error);
    m_finished = true;
    systemLog(QStringLiteral("Download failed for %1\n! Error - %2 %3")
                  .arg(m_requestURL.toString(), error.localizedDescription,
                       error.userInfo.value(SyncHttp::kFailingURLStringKey).toString()));
    informDelegate();
}

void TGBackpackAssetDownloader::didFinish(const QString &tempPath, const QString &folder,
                                          const SyncHttp::Response &response)
{
    // An error page, a redirect or the sign-in page is no asset.
    if (!BackpackAssets::isAsset(response)) {
        QFile::remove(tempPath);
        didFailWithError(BackpackAssets::notAnAssetError(response, m_requestURL, m_requestURL.fileName()));
        return;
    }
    const std::optional<QString> name = safePathComponent(response.suggestedFilename());
    if (!name) {
        QFile::remove(tempPath);
        didFailWithError(urlError(SyncHttp::URLErrorCannotCreateFile,
                                  localizedString("The server suggested no usable file name."), m_requestURL));
        return;
    }
    const QString destination = QDir(folder).filePath(*name);
    // rename(2) replaces the earlier copy (or a link, never followed) in one
    // step: it is never missing, and stays whole when the rename fails.
    if (::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(destination).constData()) != 0) {
        const int errnum = errno;
        QFile::remove(tempPath);
        Error e = urlError(SyncHttp::URLErrorCannotWriteToFile,
                           withSystemReason(localizedString("The file could not be written."), systemReason(errnum)),
                           m_requestURL);
        e.userInfo.insert(QStringLiteral("detail"), systemReason(errnum));
        didFailWithError(e);
        return;
    }
    systemLog(QStringLiteral("Successfully downloaded %1").arg(m_requestURL.toString()));
    m_finished = true;
    informDelegate();
}
