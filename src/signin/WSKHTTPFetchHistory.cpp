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
    : m_response(std::move(response)), m_data(std::move(data)), m_useDate(QDateTime::currentDateTimeUtc())
{
}

QString WSKCachedURLResponse::description() const
{
    const QString bytes = m_data ? QString::number(m_data->size()) : QStringLiteral("(null)");
    const QString reservation = m_reservationDate.isValid()
                                    ? QStringLiteral(" resDate:") + m_reservationDate.toString(Qt::ISODateWithMs)
                                    : QString();
    return QStringLiteral("WSKCachedURLResponse %1: {bytes:%2 useDate:%3%4}")
        .arg(pointerText(this), bytes, m_useDate.toString(Qt::ISODateWithMs), reservation);
}

WSKURLCache::WSKURLCache(quint64 memoryCapacity) : m_memoryCapacity(memoryCapacity)
{
    m_responses.reserve(5);
}

void WSKURLCache::storeCachedResponse(const std::shared_ptr<WSKCachedURLResponse> &cachedResponse,
                                      const HttpRequest &request)
{
    QMutexLocker locker(&m_lock);
    removeCachedResponseForRequest(request);
    const quint64 length = bodyLength(cachedResponse);
    if (!cachedResponse || length >= m_memoryCapacity)
        return;
    m_responses.insert(request.url, cachedResponse);
    m_totalDataSize += length;
    pruneCacheResponses();
}

std::shared_ptr<WSKCachedURLResponse> WSKURLCache::cachedResponseForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&m_lock);
    std::shared_ptr<WSKCachedURLResponse> entry = m_responses.value(request.url);
    if (entry)
        entry->setUseDate(QDateTime::currentDateTimeUtc());
    return entry;
}

void WSKURLCache::removeCachedResponseForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&m_lock);
    m_totalDataSize -= bodyLength(m_responses.value(request.url));
    m_responses.remove(request.url);
}

void WSKURLCache::removeAllCachedResponses()
{
    QMutexLocker locker(&m_lock);
    m_responses.clear();
    m_totalDataSize = 0;
}

quint64 WSKURLCache::memoryCapacity() const
{
    QMutexLocker locker(&m_lock);
    return m_memoryCapacity;
}

void WSKURLCache::setMemoryCapacity(quint64 capacity)
{
    QMutexLocker locker(&m_lock);
    const bool shrinks = capacity < m_memoryCapacity;
    m_memoryCapacity = capacity;
    if (shrinks)
        pruneCacheResponses();
}

void WSKURLCache::setReservationInterval(double seconds)
{
    QMutexLocker locker(&m_lock);
    m_reservationInterval = seconds;
}

QHash<QString, std::shared_ptr<WSKCachedURLResponse>> WSKURLCache::responses() const
{
    QMutexLocker locker(&m_lock);
    return m_responses;
}

quint64 WSKURLCache::totalDataSize() const
{
    QMutexLocker locker(&m_lock);
    return m_totalDataSize;
}

QString WSKURLCache::description() const
{
    QMutexLocker locker(&m_lock);
    QStringList entries;
    for (auto it = m_responses.cbegin(); it != m_responses.cend(); ++it)
        entries.append(it.key() + QStringLiteral(" = ") + it.value()->description());
    return QStringLiteral("WSKURLCache %1: {responses:{%2}}")
        .arg(pointerText(this), entries.join(QStringLiteral("; ")));
}

void WSKURLCache::pruneCacheResponses()
{
    if (m_totalDataSize <= m_memoryCapacity)
        return;

    QList<std::pair<QString, std::shared_ptr<WSKCachedURLResponse>>> byUse;
    for (auto it = m_responses.cbegin(); it != m_responses.cend(); ++it)
        byUse.append({it.key(), it.value()});
    std::sort(byUse.begin(), byUse.end(),
              [](const auto &a, const auto &b) { return WSKCachedURLResponse::compareUseDate(*a.second, *b.second); });

    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const auto &[url, entry] : byUse) {
        const QDateTime reserved = entry->reservationDate();
        // A reserved entry's ETag was just sent; its body may be needed for the 304.
        if (reserved.isValid() && reserved.msecsTo(now) < qint64(m_reservationInterval * 1000))
            continue;
        m_totalDataSize -= bodyLength(entry);
        m_responses.remove(url);
        if (m_totalDataSize <= m_memoryCapacity)
            break;
    }
}

WSKHTTPFetchHistory::WSKHTTPFetchHistory(quint64 memoryCapacity, bool shouldCacheETaggedData)
    : m_etaggedDataCache(memoryCapacity), m_shouldRememberETags(shouldCacheETaggedData),
      m_shouldCacheETaggedData(shouldCacheETaggedData), m_cookieStorage(std::make_shared<WSKCookieStorage>())
{
}

void WSKHTTPFetchHistory::updateRequest(HttpRequest &request, bool isHTTPGet)
{
    QMutexLocker locker(&m_lock);
    if (!m_shouldRememberETags)
        return;
    // The connection keeps no cache of its own, so there is no local copy to
    // bypass: the request always reaches the server.
    if (!isHTTPGet)
        return;
    if (request.hasHeader(QString::fromLatin1(kWSKIfNoneMatchHeader))) {
        // The caller asked with its own ETag; a 304 must then reach it as such.
        m_etaggedDataCache.removeCachedResponseForRequest(request);
        return;
    }
    const QByteArray etag = cachedETagForRequest(request);
    if (!etag.isNull())
        request.setHeader(QString::fromLatin1(kWSKIfNoneMatchHeader), QString::fromLatin1(etag));
}

QByteArray WSKHTTPFetchHistory::cachedETagForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&m_lock);
    std::shared_ptr<WSKCachedURLResponse> entry = m_etaggedDataCache.cachedResponseForRequest(request);
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
    QMutexLocker locker(&m_lock);
    if (!m_shouldRememberETags || !response.hasHeaderFields)
        return;
    if (response.statusCode == 304)
        return;
    const QByteArray etag = response.headerValue(kWSKETagHeader);
    if (!etag.isNull() && response.statusCode < 300) {
        std::optional<QByteArray> body;
        if (m_shouldCacheETaggedData)
            body = downloadedData;
        m_etaggedDataCache.storeCachedResponse(std::make_shared<WSKCachedURLResponse>(response, body), request);
    } else {
        m_etaggedDataCache.removeCachedResponseForRequest(request);
    }
}

bool WSKHTTPFetchHistory::shouldCacheETaggedData() const
{
    QMutexLocker locker(&m_lock);
    return m_shouldCacheETaggedData;
}

std::optional<QByteArray> WSKHTTPFetchHistory::cachedDataForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&m_lock);
    std::shared_ptr<WSKCachedURLResponse> entry = m_etaggedDataCache.cachedResponseForRequest(request);
    if (!entry)
        return std::nullopt;
    entry->setReservationDate({});
    return entry->data();
}

void WSKHTTPFetchHistory::removeCachedDataForRequest(const HttpRequest &request)
{
    QMutexLocker locker(&m_lock);
    m_etaggedDataCache.removeCachedResponseForRequest(request);
}

std::shared_ptr<WSKCookieStorageProtocol> WSKHTTPFetchHistory::cookieStorage() const
{
    QMutexLocker locker(&m_lock);
    return m_cookieStorage;
}

std::shared_ptr<WSKCookieStorage> WSKHTTPFetchHistory::cookieJar() const
{
    QMutexLocker locker(&m_lock);
    return m_cookieStorage;
}

void WSKHTTPFetchHistory::setCookieStorage(std::shared_ptr<WSKCookieStorage> storage)
{
    QMutexLocker locker(&m_lock);
    m_cookieStorage = std::move(storage);
}

void WSKHTTPFetchHistory::clearETaggedDataCache()
{
    QMutexLocker locker(&m_lock);
    m_etaggedDataCache.removeAllCachedResponses();
}

void WSKHTTPFetchHistory::removeAllCookies()
{
    QMutexLocker locker(&m_lock);
    if (m_cookieStorage)
        m_cookieStorage->removeAllCookies();
}

void WSKHTTPFetchHistory::clearHistory()
{
    QMutexLocker locker(&m_lock);
    clearETaggedDataCache();
    removeAllCookies();
}

bool WSKHTTPFetchHistory::shouldRememberETags() const
{
    QMutexLocker locker(&m_lock);
    return m_shouldRememberETags;
}

void WSKHTTPFetchHistory::setShouldRememberETags(bool remember)
{
    QMutexLocker locker(&m_lock);
    m_shouldRememberETags = remember;
    if (!remember)
        clearETaggedDataCache();
}

void WSKHTTPFetchHistory::setShouldCacheETaggedData(bool cache)
{
    QMutexLocker locker(&m_lock);
    m_shouldCacheETaggedData = cache;
    if (cache)
        m_shouldRememberETags = true;
    else
        clearETaggedDataCache();
}

quint64 WSKHTTPFetchHistory::memoryCapacity() const
{
    QMutexLocker locker(&m_lock);
    return m_etaggedDataCache.memoryCapacity();
}

void WSKHTTPFetchHistory::setMemoryCapacity(quint64 capacity)
{
    QMutexLocker locker(&m_lock);
    m_etaggedDataCache.setMemoryCapacity(capacity);
}
