#include "signin/WSKHTTPFetchHistory.h"

#include <gtest/gtest.h>

#include <string>

namespace {

HttpRequest get(const char *url)
{
    return HttpRequest(QString::fromLatin1(url));
}

WSKURLResponse httpResponse(const char *url, int status, const char *etag = nullptr)
{
    WSKURLResponse response;
    response.url = QUrl(QString::fromLatin1(url));
    response.hasHeaderFields = true;
    response.statusCode = status;
    if (etag)
        response.headerFields.append(std::pair<QByteArray, QByteArray>("ETag", etag));
    return response;
}

std::shared_ptr<WSKCachedURLResponse> entry(int bytes, qint64 secondsAgoUsed = 0)
{
    auto e = std::make_shared<WSKCachedURLResponse>(
        httpResponse("http://h/", 200), bytes < 0 ? std::nullopt : std::optional<QByteArray>(QByteArray(bytes, 'x')));
    e->setUseDate(QDateTime::currentDateTimeUtc().addSecs(-secondsAgoUsed));
    return e;
}

// Capacity rule: entries are kept only while their bodies fit, least recently
// used leave first.
struct CapacityCase
{
    const char *name;
    quint64 capacity;
    // Body length (-1: no body) and how long ago each was used, stored under /0, /1, ...
    std::vector<std::pair<int, int>> entries;
    std::vector<int> kept; // indexes still stored
    quint64 total;
};

class CacheCapacityTest : public testing::TestWithParam<CapacityCase>
{
};

TEST_P(CacheCapacityTest, KeepsWhatFits)
{
    const CapacityCase &c = GetParam();
    WSKURLCache cache(c.capacity);
    for (size_t i = 0; i < c.entries.size(); ++i)
        cache.storeCachedResponse(entry(c.entries[i].first, c.entries[i].second),
                                  HttpRequest(QStringLiteral("http://h/%1").arg(i)));
    std::vector<int> kept;
    for (size_t i = 0; i < c.entries.size(); ++i)
        if (cache.cachedResponseForRequest(HttpRequest(QStringLiteral("http://h/%1").arg(i))))
            kept.push_back(int(i));
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(cache.totalDataSize(), c.total);
}

INSTANTIATE_TEST_SUITE_P(
    CapacityRule, CacheCapacityTest,
    testing::Values(CapacityCase{"fits", 100, {{40, 0}, {59, 0}}, {0, 1}, 99},
                    CapacityCase{"exactlyCapacityIsRefused", 100, {{100, 0}}, {}, 0},
                    CapacityCase{"noBodyCountsNothing", 10, {{-1, 0}, {9, 0}}, {0, 1}, 9},
                    CapacityCase{"leastRecentlyUsedGoesFirst", 100, {{50, 5}, {30, 9}, {40, 0}}, {0, 2}, 90},
                    CapacityCase{"severalGoUntilItFits", 100, {{30, 3}, {30, 2}, {30, 1}, {90, 0}}, {3}, 90}),
    [](const testing::TestParamInfo<CapacityCase> &c) { return std::string(c.param.name); });

TEST(CacheCapacityRule, RefusedBodyStillRemovesTheOldEntry)
{
    WSKURLCache cache(100);
    const HttpRequest request = get("http://h/a");
    cache.storeCachedResponse(entry(10), request);
    cache.storeCachedResponse(entry(100), request);
    EXPECT_EQ(cache.cachedResponseForRequest(request), nullptr);
    EXPECT_EQ(cache.totalDataSize(), 0u);
}

TEST(CacheCapacityRule, LookUpRefreshesUseAndShrinkingPrunes)
{
    WSKURLCache cache(100);
    cache.storeCachedResponse(entry(40, 10), get("http://h/old"));
    cache.storeCachedResponse(entry(40, 5), get("http://h/new"));
    ASSERT_NE(cache.cachedResponseForRequest(get("http://h/old")), nullptr); // now most recent
    cache.setMemoryCapacity(50);
    EXPECT_NE(cache.cachedResponseForRequest(get("http://h/old")), nullptr);
    EXPECT_EQ(cache.cachedResponseForRequest(get("http://h/new")), nullptr);
    EXPECT_EQ(cache.totalDataSize(), 40u);
    cache.removeCachedResponseForRequest(get("http://h/old"));
    cache.removeCachedResponseForRequest(get("http://h/absent"));
    EXPECT_EQ(cache.totalDataSize(), 0u);
    EXPECT_TRUE(cache.responses().isEmpty());
}

// Reservation rule: an entry whose ETag went out within the interval survives.
struct ReservationCase
{
    int reservedSecondsAgo;
    bool survives;
};

class CacheReservationTest : public testing::TestWithParam<ReservationCase>
{
};

TEST_P(CacheReservationTest, PruneSkipsRecentReservations)
{
    WSKURLCache cache(100);
    auto reserved = entry(60, 100);
    reserved->setReservationDate(QDateTime::currentDateTimeUtc().addSecs(-GetParam().reservedSecondsAgo));
    cache.storeCachedResponse(reserved, get("http://h/reserved"));
    cache.storeCachedResponse(entry(60, 0), get("http://h/other"));
    const bool survived = cache.cachedResponseForRequest(get("http://h/reserved")) != nullptr;
    EXPECT_EQ(survived, GetParam().survives);
    // Either way the newer entry is the one given up when the reserved one stays.
    EXPECT_EQ(cache.cachedResponseForRequest(get("http://h/other")) != nullptr, !GetParam().survives);
}

INSTANTIATE_TEST_SUITE_P(ReservationRule, CacheReservationTest,
                         testing::Values(ReservationCase{59, true}, ReservationCase{61, false}),
                         [](const testing::TestParamInfo<ReservationCase> &c) {
                             return "reserved" + std::to_string(c.param.reservedSecondsAgo) + "SecondsAgo";
                         });

TEST(CacheReservationRule, OnlyReservedEntriesLeftMayExceedTheCapacity)
{
    WSKURLCache cache(100);
    for (const char *url : {"http://h/1", "http://h/2"}) {
        auto e = entry(60);
        e->setReservationDate(QDateTime::currentDateTimeUtc());
        cache.storeCachedResponse(e, get(url));
    }
    EXPECT_EQ(cache.totalDataSize(), 120u);
    cache.setReservationInterval(0);
    cache.setMemoryCapacity(99);
    EXPECT_EQ(cache.responses().size(), 1); // stops as soon as it fits
    EXPECT_EQ(cache.totalDataSize(), 60u);
}

// ETag rule of the history.
TEST(HistoryETagRule, RemembersETagWithoutBodyByDefault)
{
    WSKHTTPFetchHistory history(1000, false);
    history.setShouldRememberETags(true);
    HttpRequest first = get("http://h/doc");
    history.updateRequest(first, true);
    EXPECT_FALSE(first.hasHeader(QStringLiteral("If-None-Match")));
    history.updateFetchHistoryWithRequest(first, httpResponse("http://h/doc", 200, "\"v1\""), QByteArray("body"));
    EXPECT_EQ(history.etaggedDataCache().totalDataSize(), 0u);
    EXPECT_EQ(history.cachedDataForRequest(first), std::nullopt);

    HttpRequest second = get("http://h/doc");
    history.updateRequest(second, true);
    EXPECT_EQ(second.header(QStringLiteral("If-None-Match")), QStringLiteral("\"v1\""));
    HttpRequest post = get("http://h/doc");
    history.updateRequest(post, false);
    EXPECT_FALSE(post.hasHeader(QStringLiteral("If-None-Match")));
}

TEST(HistoryETagRule, CachedBodyIsHandedOutAndReservationCleared)
{
    WSKHTTPFetchHistory history(1000, true);
    EXPECT_TRUE(history.shouldRememberETags());
    const HttpRequest request = get("http://h/doc");
    history.updateFetchHistoryWithRequest(request, httpResponse("http://h/doc", 200, "\"v1\""), QByteArray("body"));
    EXPECT_EQ(history.cachedETagForRequest(request), QByteArray("\"v1\""));
    auto stored = history.etaggedDataCache().cachedResponseForRequest(request);
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(stored->reservationDate().isValid());
    EXPECT_EQ(history.cachedDataForRequest(request), QByteArray("body"));
    EXPECT_FALSE(stored->reservationDate().isValid());
}

struct RecordCase
{
    const char *name;
    int status;
    const char *etag;
    bool hasHeaderFields;
    bool keepsOldEntry;
    bool storesNew;
};

class HistoryRecordTest : public testing::TestWithParam<RecordCase>
{
};

TEST_P(HistoryRecordTest, RecordsOnlySuccessfulETaggedResponses)
{
    const RecordCase &c = GetParam();
    WSKHTTPFetchHistory history(1000, true);
    const HttpRequest request = get("http://h/doc");
    history.updateFetchHistoryWithRequest(request, httpResponse("http://h/doc", 200, "\"old\""), QByteArray("old"));
    WSKURLResponse response = httpResponse("http://h/doc", c.status, c.etag);
    response.hasHeaderFields = c.hasHeaderFields;
    history.updateFetchHistoryWithRequest(request, response, QByteArray("new"));
    const std::optional<QByteArray> data = history.cachedDataForRequest(request);
    if (c.storesNew)
        EXPECT_EQ(data, QByteArray("new"));
    else if (c.keepsOldEntry)
        EXPECT_EQ(data, QByteArray("old"));
    else
        EXPECT_EQ(data, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(RecordRule, HistoryRecordTest,
                         testing::Values(RecordCase{"newETag", 200, "\"new\"", true, false, true},
                                         RecordCase{"status299", 299, "\"new\"", true, false, true},
                                         RecordCase{"notModified", 304, nullptr, true, true, false},
                                         RecordCase{"errorStatus", 404, "\"new\"", true, false, false},
                                         RecordCase{"noETag", 200, nullptr, true, false, false},
                                         RecordCase{"notHTTP", 0, "\"new\"", false, true, false}),
                         [](const testing::TestParamInfo<RecordCase> &c) { return std::string(c.param.name); });

TEST(HistoryETagRule, CallersOwnIfNoneMatchDropsTheStoredEntry)
{
    WSKHTTPFetchHistory history(1000, true);
    const HttpRequest plain = get("http://h/doc");
    history.updateFetchHistoryWithRequest(plain, httpResponse("http://h/doc", 200, "\"v1\""), QByteArray("b"));
    HttpRequest own = get("http://h/doc");
    own.setHeader(QStringLiteral("if-none-match"), QStringLiteral("\"mine\""));
    history.updateRequest(own, true);
    EXPECT_EQ(own.header(QStringLiteral("If-None-Match")), QStringLiteral("\"mine\""));
    EXPECT_EQ(history.cachedDataForRequest(plain), std::nullopt);
}

TEST(HistorySwitchRule, SwitchesAndClearing)
{
    WSKHTTPFetchHistory history;
    EXPECT_FALSE(history.shouldRememberETags());
    const HttpRequest request = get("http://h/doc");
    history.updateFetchHistoryWithRequest(request, httpResponse("http://h/doc", 200, "\"v1\""), QByteArray("b"));
    EXPECT_TRUE(history.cachedETagForRequest(request).isNull()); // not remembering

    history.setShouldCacheETaggedData(true);
    EXPECT_TRUE(history.shouldRememberETags());
    history.updateFetchHistoryWithRequest(request, httpResponse("http://h/doc", 200, "\"v1\""), QByteArray("b"));
    history.setShouldCacheETaggedData(false);
    EXPECT_TRUE(history.cachedETagForRequest(request).isNull());

    history.setShouldCacheETaggedData(true);
    history.updateFetchHistoryWithRequest(request, httpResponse("http://h/doc", 200, "\"v1\""), QByteArray("b"));
    history.setShouldRememberETags(false);
    EXPECT_TRUE(history.etaggedDataCache().responses().isEmpty());

    QNetworkCookie cookie("a", "1");
    cookie.setDomain(QStringLiteral("h"));
    cookie.setPath(QStringLiteral("/"));
    history.cookieJar()->setCookies({cookie});
    history.setShouldRememberETags(true);
    history.updateFetchHistoryWithRequest(request, httpResponse("http://h/doc", 200, "\"v1\""), QByteArray("b"));
    history.clearHistory();
    EXPECT_TRUE(history.cookieStorage()->cookiesForURL(QUrl("http://h/")).isEmpty());
    EXPECT_TRUE(history.etaggedDataCache().responses().isEmpty());
}

} // namespace
