#include "signin/WSKHTTPFetchHistory.h"

#include <QMutexLocker>
#include <QStringList>

#include <algorithm>

namespace {

QString pointerText(const void *p)
{
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(p), 16);
}

quint64 bodyLength(const std::shared_ptr<WSKCachedURLResponse> &entry)
{
    return entry && entry->data() ? quint64(entry->data()->size()) : 0;
}

} // namespace

WSKCachedURLResponse::WSKCachedURLResponse(WSKURLResponse response, std::optional<QByteArray> data)
    : response_(std::move(response)), data_(std::move(data)), useDate_(QDateTime::currentDateTimeUtc())
{
}

QString WSKCachedURLResponse::description() const
{
    const QString bytes = data_ ? QString::number(data_->size()) : QStringLiteral("(null)");
    const QString reservation = reservationDate_.isValid()
                                    ? QStringLiteral(" resDate:") + reservationDate_.toString(Qt::ISODateWithMs)
                                    : QString();
    return QStringLiteral("WSKCachedURLResponse %1: {bytes:%2 useDate:%3%4}")
        .arg(pointerText(this), bytes, useDate_.toString(Qt::ISODateWithMs), reservation);
}

WSKURLCache::WSKURLCache(quint64 memoryCapacity) : memoryCapacity_(memoryCapacity)
{
    responses_.reserve(5);
}

void WSKURLCache::storeCachedResponse(const std::shared_ptr<WSKCachedURLResponse> &cachedResponse,
                                      const HttpRequest &request)
{
    QMutexLocker locker(&lock_);
    removeCachedResponseForRequest(request);
    const quint64 length = bodyLength(cachedResponse);
    if (!cachedResponse || length >= memoryCapacity_)
        return;
    responses_.insert(request.url, cachedResponse);
    totalDataSize_ += length;
    pruneCacheResponses();
}

std::shared_ptr<WSKCachedURLResponse> WSKURLCache::cachedResponseForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&lock_);
    std::shared_ptr<WSKCachedURLResponse> entry = responses_.value(request.url);
    if (entry)
        entry->setUseDate(QDateTime::currentDateTimeUtc());
    return entry;
}

void WSKURLCache::removeCachedResponseForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&lock_);
    totalDataSize_ -= bodyLength(responses_.value(request.url));
    responses_.remove(request.url);
}

void WSKURLCache::removeAllCachedResponses()
{
    QMutexLocker locker(&lock_);
    responses_.clear();
    totalDataSize_ = 0;
}

quint64 WSKURLCache::memoryCapacity() const
{
    QMutexLocker locker(&lock_);
    return memoryCapacity_;
}

void WSKURLCache::setMemoryCapacity(quint64 capacity)
{
    QMutexLocker locker(&lock_);
    const bool shrinks = capacity < memoryCapacity_;
    memoryCapacity_ = capacity;
    if (shrinks)
        pruneCacheResponses();
}

void WSKURLCache::setReservationInterval(double seconds)
{
    QMutexLocker locker(&lock_);
    reservationInterval_ = seconds;
}

QHash<QString, std::shared_ptr<WSKCachedURLResponse>> WSKURLCache::responses() const
{
    QMutexLocker locker(&lock_);
    return responses_;
}

quint64 WSKURLCache::totalDataSize() const
{
    QMutexLocker locker(&lock_);
    return totalDataSize_;
}

QString WSKURLCache::description() const
{
    QMutexLocker locker(&lock_);
    QStringList entries;
    for (auto it = responses_.cbegin(); it != responses_.cend(); ++it)
        entries.append(it.key() + QStringLiteral(" = ") + it.value()->description());
    return QStringLiteral("WSKURLCache %1: {responses:{%2}}").arg(pointerText(this), entries.join(QStringLiteral("; ")));
}

void WSKURLCache::pruneCacheResponses()
{
    if (totalDataSize_ <= memoryCapacity_)
        return;

    QList<std::pair<QString, std::shared_ptr<WSKCachedURLResponse>>> byUse;
    for (auto it = responses_.cbegin(); it != responses_.cend(); ++it)
        byUse.append({it.key(), it.value()});
    std::sort(byUse.begin(), byUse.end(),
              [](const auto &a, const auto &b) { return WSKCachedURLResponse::compareUseDate(*a.second, *b.second); });

    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const auto &[url, entry] : byUse) {
        const QDateTime reserved = entry->reservationDate();
        // A reserved entry's ETag was just sent; its body may be needed for the 304.
        if (reserved.isValid() && reserved.msecsTo(now) < qint64(reservationInterval_ * 1000))
            continue;
        totalDataSize_ -= bodyLength(entry);
        responses_.remove(url);
        if (totalDataSize_ <= memoryCapacity_)
            break;
    }
}

WSKHTTPFetchHistory::WSKHTTPFetchHistory(quint64 memoryCapacity, bool shouldCacheETaggedData)
    : etaggedDataCache_(memoryCapacity),
      shouldRememberETags_(shouldCacheETaggedData),
      shouldCacheETaggedData_(shouldCacheETaggedData),
      cookieStorage_(std::make_shared<WSKCookieStorage>())
{
}

void WSKHTTPFetchHistory::updateRequest(HttpRequest &request, bool isHTTPGet)
{
    QMutexLocker locker(&lock_);
    if (!shouldRememberETags_)
        return;
    // The connection keeps no cache of its own, so there is no local copy to
    // bypass: the request always reaches the server.
    if (!isHTTPGet)
        return;
    if (request.hasHeader(QString::fromLatin1(kWSKIfNoneMatchHeader))) {
        // The caller asked with its own ETag; a 304 must then reach it as such.
        etaggedDataCache_.removeCachedResponseForRequest(request);
        return;
    }
    const QByteArray etag = cachedETagForRequest(request);
    if (!etag.isNull())
        request.setHeader(QString::fromLatin1(kWSKIfNoneMatchHeader), QString::fromLatin1(etag));
}

QByteArray WSKHTTPFetchHistory::cachedETagForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&lock_);
    std::shared_ptr<WSKCachedURLResponse> entry = etaggedDataCache_.cachedResponseForRequest(request);
    if (!entry)
        return {};
    const QByteArray etag = entry->response().headerValue(kWSKETagHeader);
    if (!etag.isNull())
        entry->setReservationDate(QDateTime::currentDateTimeUtc());
    return etag;
}

void WSKHTTPFetchHistory::updateFetchHistoryWithRequest(const HttpRequest &request, const WSKURLResponse &response,
                                                        const std::optional<QByteArray> &downloadedData)
{
    QMutexLocker locker(&lock_);
    if (!shouldRememberETags_ || !response.hasHeaderFields)
        return;
    if (response.statusCode == 304)
        return;
    const QByteArray etag = response.headerValue(kWSKETagHeader);
    if (!etag.isNull() && response.statusCode < 300) {
        std::optional<QByteArray> body;
        if (shouldCacheETaggedData_)
            body = downloadedData;
        etaggedDataCache_.storeCachedResponse(std::make_shared<WSKCachedURLResponse>(response, body), request);
    } else {
        etaggedDataCache_.removeCachedResponseForRequest(request);
    }
}

bool WSKHTTPFetchHistory::shouldCacheETaggedData() const
{
    QMutexLocker locker(&lock_);
    return shouldCacheETaggedData_;
}

std::optional<QByteArray> WSKHTTPFetchHistory::cachedDataForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&lock_);
    std::shared_ptr<WSKCachedURLResponse> entry = etaggedDataCache_.cachedResponseForRequest(request);
    if (!entry)
        return std::nullopt;
    entry->setReservationDate({});
    return entry->data();
}

void WSKHTTPFetchHistory::removeCachedDataForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&lock_);
    etaggedDataCache_.removeCachedResponseForRequest(request);
}

std::shared_ptr<WSKCookieStorageProtocol> WSKHTTPFetchHistory::cookieStorage() const
{
    QMutexLocker locker(&lock_);
    return cookieStorage_;
}

std::shared_ptr<WSKCookieStorage> WSKHTTPFetchHistory::cookieJar() const
{
    QMutexLocker locker(&lock_);
    return cookieStorage_;
}

void WSKHTTPFetchHistory::setCookieStorage(std::shared_ptr<WSKCookieStorage> storage)
{
    QMutexLocker locker(&lock_);
    cookieStorage_ = std::move(storage);
}

void WSKHTTPFetchHistory::clearETaggedDataCache()
{
    QMutexLocker locker(&lock_);
    etaggedDataCache_.removeAllCachedResponses();
}

void WSKHTTPFetchHistory::removeAllCookies()
{
    QMutexLocker locker(&lock_);
    if (cookieStorage_)
        cookieStorage_->removeAllCookies();
}

void WSKHTTPFetchHistory::clearHistory()
{
    QMutexLocker locker(&lock_);
    clearETaggedDataCache();
    removeAllCookies();
}

bool WSKHTTPFetchHistory::shouldRememberETags() const
{
    QMutexLocker locker(&lock_);
    return shouldRememberETags_;
}

void WSKHTTPFetchHistory::setShouldRememberETags(bool remember)
{
    QMutexLocker locker(&lock_);
    shouldRememberETags_ = remember;
    if (!remember)
        clearETaggedDataCache();
}

void WSKHTTPFetchHistory::setShouldCacheETaggedData(bool cache)
{
    QMutexLocker locker(&lock_);
    shouldCacheETaggedData_ = cache;
    if (cache)
        shouldRememberETags_ = true;
    else
        clearETaggedDataCache();
}

quint64 WSKHTTPFetchHistory::memoryCapacity() const
{
    QMutexLocker locker(&lock_);
    return etaggedDataCache_.memoryCapacity();
}

void WSKHTTPFetchHistory::setMemoryCapacity(quint64 capacity)
{
    QMutexLocker locker(&lock_);
    etaggedDataCache_.setMemoryCapacity(capacity);
}
