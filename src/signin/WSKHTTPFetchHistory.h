#pragma once

#include "signin/HttpRequest.h"
#include "signin/WSKCookieStorage.h"
#include "signin/WSKURLResponse.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QRecursiveMutex>
#include <QString>

#include <memory>
#include <optional>

inline constexpr quint64 kWSKDefaultETaggedDataCacheMemoryCapacity = 15 * 1024 * 1024;
inline constexpr char kWSKETagHeader[] = "Etag";
inline constexpr char kWSKIfNoneMatchHeader[] = "If-None-Match";

// One remembered response, with its body when bodies are kept.
class WSKCachedURLResponse
{
public:
    WSKCachedURLResponse(WSKURLResponse response, std::optional<QByteArray> data);

    const WSKURLResponse &response() const { return m_response; }
    const std::optional<QByteArray> &data() const { return m_data; }
    QDateTime useDate() const { return m_useDate; }
    void setUseDate(const QDateTime &date) { m_useDate = date; }
    // Invalid when the entry is not reserved.
    QDateTime reservationDate() const { return m_reservationDate; }
    void setReservationDate(const QDateTime &date) { m_reservationDate = date; }

    // Least recently used first.
    static bool compareUseDate(const WSKCachedURLResponse &a, const WSKCachedURLResponse &b)
    {
        return a.m_useDate < b.m_useDate;
    }
    QString description() const;

private:
    const WSKURLResponse m_response;
    const std::optional<QByteArray> m_data;
    QDateTime m_useDate;
    QDateTime m_reservationDate;
};

// Responses by request URL, bounded by the total length of their bodies; the
// least recently used go first, except entries reserved a short while ago.
class WSKURLCache
{
public:
    explicit WSKURLCache(quint64 memoryCapacity = kWSKDefaultETaggedDataCacheMemoryCapacity);

    void storeCachedResponse(const std::shared_ptr<WSKCachedURLResponse> &cachedResponse, const HttpRequest &request);
    std::shared_ptr<WSKCachedURLResponse> cachedResponseForRequest(const HttpRequest &request);
    void removeCachedResponseForRequest(const HttpRequest &request);
    void removeAllCachedResponses();

    quint64 memoryCapacity() const;
    // A smaller capacity prunes at once.
    void setMemoryCapacity(quint64 capacity);
    void setReservationInterval(double seconds);
    QHash<QString, std::shared_ptr<WSKCachedURLResponse>> responses() const;
    quint64 totalDataSize() const;
    QString description() const;

private:
    void pruneCacheResponses();

    mutable QRecursiveMutex m_lock;
    QHash<QString, std::shared_ptr<WSKCachedURLResponse>> m_responses;
    quint64 m_memoryCapacity;
    quint64 m_totalDataSize = 0;
    double m_reservationInterval = 60;
};

// What a fetcher needs of a fetch history.
class WSKHTTPFetchHistoryProtocol
{
public:
    virtual ~WSKHTTPFetchHistoryProtocol() = default;
    virtual void updateRequest(HttpRequest &request, bool isHTTPGet) = 0;
    virtual bool shouldCacheETaggedData() const = 0;
    virtual std::optional<QByteArray> cachedDataForRequest(const HttpRequest &request) = 0;
    virtual std::shared_ptr<WSKCookieStorageProtocol> cookieStorage() const = 0;
    virtual void updateFetchHistoryWithRequest(const HttpRequest &request, const WSKURLResponse &response,
                                               const std::optional<QByteArray> &downloadedData) = 0;
    virtual void removeCachedDataForRequest(const HttpRequest &request) = 0;
};

// Remembers the ETag of each GET response and sends it back as If-None-Match,
// optionally keeping the bodies so a 304 can be answered from memory; owns a
// cookie jar for the fetchers that share it.
class WSKHTTPFetchHistory : public WSKHTTPFetchHistoryProtocol
{
public:
    WSKHTTPFetchHistory() : WSKHTTPFetchHistory(kWSKDefaultETaggedDataCacheMemoryCapacity, false) {}
    WSKHTTPFetchHistory(quint64 memoryCapacity, bool shouldCacheETaggedData);

    void updateRequest(HttpRequest &request, bool isHTTPGet) override;
    void updateFetchHistoryWithRequest(const HttpRequest &request, const WSKURLResponse &response,
                                       const std::optional<QByteArray> &downloadedData) override;
    bool shouldCacheETaggedData() const override;
    std::optional<QByteArray> cachedDataForRequest(const HttpRequest &request) override;
    void removeCachedDataForRequest(const HttpRequest &request) override;
    std::shared_ptr<WSKCookieStorageProtocol> cookieStorage() const override;

    // Null when none is stored; reserves the entry for a while.
    QByteArray cachedETagForRequest(const HttpRequest &request);
    void clearETaggedDataCache();
    void removeAllCookies();
    void clearHistory();

    bool shouldRememberETags() const;
    void setShouldRememberETags(bool remember);
    void setShouldCacheETaggedData(bool cache);
    quint64 memoryCapacity() const;
    void setMemoryCapacity(quint64 capacity);
    std::shared_ptr<WSKCookieStorage> cookieJar() const;
    void setCookieStorage(std::shared_ptr<WSKCookieStorage> storage);

    WSKURLCache &etaggedDataCache() { return m_etaggedDataCache; }

private:
    mutable QRecursiveMutex m_lock;
    WSKURLCache m_etaggedDataCache;
    bool m_shouldRememberETags;
    bool m_shouldCacheETaggedData;
    std::shared_ptr<WSKCookieStorage> m_cookieStorage;
};
