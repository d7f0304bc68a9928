#pragma once

#include "foundation/Error.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// The one synchronous HTTP layer of the program (libcurl underneath). A call
// blocks its thread for the whole exchange, so it is made from worker threads
// only; any number of threads may call it at once.
//
// TLS is always verified: against the system trust store, plus the one extra
// CA file set with setExtraCaFile() (tests trust their throwaway CA this way).
// Redirects are followed, at most kMaxRedirects (http and https only; from
// https only to https). All requests that use cookies share one process-wide
// cookie store.
//
// Connections stay open between requests: a request to a host that was talked
// to before goes out on the same connection, and a new one resumes the
// earlier TLS session. A kept connection that the server closes while a
// request goes out on it, before any answer, gets the request sent again on
// a new one; a request marked sendAtMostOnce is never sent again, it fails
// with URLErrorNetworkConnectionLost instead (and to keep that rare it takes
// no connection that has been idle longer than kAtMostOnceIdleSeconds; one
// without a body takes a new connection).
//
// No exchange lasts without bound: besides the idle time-out, one that moves
// less than kLowSpeedBytesPerSecond for lowSpeedSeconds ends with
// URLErrorTimedOut, however steadily its bytes trickle in.
//
// An HTTP status is never an error here: any answer that arrived is returned,
// whatever its status. Only transport failures (no answer) give an Error in
// the URL-loading domain with the codes below, the request's URL under
// kFailingURLStringKey.

namespace SyncHttp {

inline constexpr int kMaxRedirects = 16;
inline constexpr int kAtMostOnceIdleSeconds = 2;
inline constexpr long kLowSpeedBytesPerSecond = 1024;
// The reply limit of a request that sets none.
inline constexpr qint64 kDefaultMaxReplyBytes = 8 * 1024 * 1024;

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// A piece of a request body: bytes in memory, or a range of an open file that
// is read (pread) only as it goes out. A file that no longer holds its range
// then, or cannot be read, ends the exchange with
// URLErrorRequestBodyStreamExhausted, its description naming the file.
struct BodyPiece
{
    BodyPiece(std::string_view inMemory = {}) : bytes(inMemory) {}
    BodyPiece(int descriptor, qint64 from, qint64 byteCount, QString name)
        : fd(descriptor), offset(from), length(byteCount), fileName(std::move(name))
    {
    }

    qint64 size() const { return fd >= 0 ? length : qint64(bytes.size()); }

    std::string_view bytes;
    int fd = -1;
    qint64 offset = 0;
    qint64 length = 0;
    QString fileName;
};

struct Request
{
    QByteArray method = "GET";
    QUrl url;
    HeaderList headers;
    QByteArray body; // sent when non-empty or when the method is POST/PUT
    // When non-empty, the body instead: these pieces one after the other, sent
    // without a copy; they must stay valid until send() returns.
    std::vector<BodyPiece> bodyPieces;
    // The request changes data on the server: it is sent at most once.
    bool sendAtMostOnce = false;
    // The answer's body may be this long; a longer one (announced or
    // arriving) ends the exchange with URLErrorBadServerResponse.
    qint64 maxReplyBytes = kDefaultMaxReplyBytes;
    // Idle time-out: the connection attempt, and any stretch without data,
    // may last this long (the whole exchange may last longer).
    int timeoutSeconds = 60;
    // Speed floor: the exchange may stay below kLowSpeedBytesPerSecond for
    // this long (averaged over a few seconds).
    int lowSpeedSeconds = 60;
    bool followRedirects = true;
    bool useCookies = true;
    // When set, the answer's body goes to this file (0600) instead of into
    // memory; the file, or a symbolic link in its place, is replaced only
    // once the whole body has arrived. The body lands in a partial file
    // beside it (".<name>.partial-XXXXXX"), which is removed when the
    // exchange fails or is cancelled, and at the exit of the process; one
    // left over with that name (a crash, a kill, setAsideForDownload) is
    // written over instead of a new one, the others are removed. The file is
    // not synced to disk: a download can be fetched again.
    QString downloadPath;
    // Computes Response::md5 of the body while it arrives.
    bool hashBody = false;
    // Asked before the exchange and polled during it (at least once a
    // second); answering true ends it with URLErrorCancelled.
    std::function<bool()> isCancelled;
};

struct Response
{
    long status = 0;
    HeaderList headers; // of the final answer, in arrival order
    QByteArray body; // empty when streamed to Request::downloadPath
    QUrl url; // the final URL, after redirects
    qint64 bodySize = 0; // bytes received, also when streamed to a file
    QByteArray md5; // of the body, when Request::hashBody asked for it

    // Value of the last header of that name (case-insensitive), or a null array.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
    // The Content-Disposition file name, else the last path segment of the
    // final URL (percent-decoded); empty when neither gives one.
    QString suggestedFilename() const;
};

// Sends the request; the answer, or nothing with the transport failure in
// *error (when given; also cleared on success).
std::optional<Response> send(const Request &request, OptionalError *error = nullptr);

// A PEM file of extra trusted CAs, added to the system trust store for every
// later request of the process; an empty path removes it. Returns false when
// the file cannot be read (the setting is then unchanged).
bool setExtraCaFile(const QString &path);
QString extraCaFile();

// The shared cookie store.
struct Cookie
{
    QString name;
    QString value;
    QString domain; // without a leading dot
    bool includeSubdomains = false;
    QString path;
    bool secure = false;
    qint64 expires = 0; // Unix time; 0 for a session cookie

    QVariantMap properties() const;
};
QList<Cookie> allCookies();
// The cookies the store would send with a request to the URL.
QList<Cookie> cookiesForUrl(const QUrl &url);
// Removes the cookie with the same name, domain and path.
void deleteCookie(const Cookie &cookie);
void clearCookies();

// The URL-loading error domain and the codes the transport maps failures to.
inline const QString kURLErrorDomain = QStringLiteral("NSURLErrorDomain");
inline const QString kFailingURLStringKey = QStringLiteral("NSErrorFailingURLStringKey");
// Set (to the limit) on the error of an answer longer than its request allows.
inline const QString kMaxReplyBytesKey = QStringLiteral("maxReplyBytes");
enum URLError : long {
    URLErrorUnknown = -1,
    URLErrorCancelled = -999,
    URLErrorBadURL = -1000,
    URLErrorTimedOut = -1001,
    URLErrorUnsupportedURL = -1002,
    URLErrorCannotFindHost = -1003,
    URLErrorCannotConnectToHost = -1004,
    URLErrorNetworkConnectionLost = -1005,
    URLErrorHTTPTooManyRedirects = -1007,
    URLErrorNotConnectedToInternet = -1009,
    URLErrorBadServerResponse = -1011,
    URLErrorUserAuthenticationRequired = -1013,
    URLErrorCannotDecodeRawData = -1015,
    URLErrorCannotDecodeContentData = -1016,
    URLErrorCannotParseResponse = -1017,
    URLErrorRequestBodyStreamExhausted = -1021,
    URLErrorSecureConnectionFailed = -1200,
    URLErrorServerCertificateUntrusted = -1202,
    URLErrorClientCertificateRequired = -1206,
    URLErrorCannotCreateFile = -3000,
    URLErrorCannotWriteToFile = -3003,
};

// Removes the partial files of the downloads under way, and the copies set
// aside (also done at exit).
void removePartialDownloads();

// Takes the file at `path` off its name before a download to it: a plain
// file of the user's becomes the partial file the download writes over (its
// blocks reused), anything else but a folder is removed. True when nothing
// is left at the path.
bool setAsideForDownload(const QString &path);

// Creates a download folder and its missing parents, each new one 0700 from
// the start; true when the folder exists afterwards. With `root` (a folder
// above `path`), every level below the root must be a folder of its own: a
// symbolic link there is replaced by a new folder, never followed, and
// anything else that is not a folder fails.
bool makePrivateFolder(const QString &path, const QString &root = {});

// The Error for a libcurl result code (and the errno of the failed connect,
// 0 when none). Exposed so the mapping can be checked without a network.
Error transportError(int curlCode, long osErrno, const QUrl &url, const QString &detail = {});

} // namespace SyncHttp
