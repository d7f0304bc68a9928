#pragma once

#include "foundation/Error.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

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
// cookie store (Cookies.h).
//
// Connections stay open between requests: a request to a host that was talked
// to before goes out on the same connection, and a new one resumes the
// earlier TLS session. A kept connection that the server closes while a
// request goes out on it, before any answer, gets the request sent again on
// a new one; a request marked sendAtMostOnce is not sent again once any of
// it has left, it fails with URLErrorNetworkConnectionLost instead (libcurl
// itself sends it again on a new connection only when the kept one was reset
// before any of it left: the server cannot have acted on it). To keep that
// failure rare it takes no connection that has been idle longer than
// kAtMostOnceIdleSeconds; one without a body takes a new connection.
//
// No exchange lasts without bound: besides the idle time-out, one that moves
// less than kLowSpeedBytesPerSecond for lowSpeedSeconds ends with
// URLErrorTimedOut, however steadily its bytes trickle in.
//
// An HTTP status is never an error here: any answer that arrived is returned,
// whatever its status. Only transport failures (no answer) give an Error in
// the URL-loading domain with the codes below, the request's URL under
// kFailingURLStringKey. Which answer a download keeps is the caller's
// choice too (Request::acceptDownload).

namespace SyncHttp {

inline constexpr int kMaxRedirects = 16;
inline constexpr int kAtMostOnceIdleSeconds = 2;
inline constexpr long kLowSpeedBytesPerSecond = 1024;
// The reply limit of a request that sets none.
inline constexpr qint64 kDefaultMaxReplyBytes = 8 * 1024 * 1024;
// How much of an answer a download turned down is kept, in memory.
inline constexpr qint64 kRefusedBodyBytes = 64 * 1024;

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

struct Response;

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
    // once the whole body has arrived, and left as it was by any failure or
    // cancel. The body lands in a partial file beside it first
    // (DownloadFiles.h). The file is not synced to disk: a download can be
    // fetched again. A body whose end cannot be told from a cut connection
    // (HTTP/1 with neither Content-Length nor chunks, over TLS closed
    // without close_notify or in the clear) is not kept: the exchange ends
    // with URLErrorNetworkConnectionLost. A file that cannot be created or
    // written ends the exchange with an error whose description names the
    // file, its folder and the system's reason (alerts show no "detail"),
    // and whose recovery suggestion says what to do about a full disk, a
    // quota, a read-only disk or a refused permission.
    QString downloadPath;
    // Asked about the final answer (status, headers and URL; its body not
    // yet) before any of the body goes to downloadPath. False keeps the
    // answer off the disk: the partial file is removed unwritten, nothing
    // takes the name, and Response::body holds the body's first
    // kRefusedBodyBytes. Unset: every answer is kept.
    std::function<bool(const Response &)> acceptDownload;
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
    // The file at Request::downloadPath as the body was committed to it (its
    // rename into place keeps both); 0 when no file was committed.
    quint64 fileDevice = 0;
    quint64 fileInode = 0;

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

// The Error for a libcurl result code (and the errno of the failed connect,
// 0 when none). Exposed so the mapping can be checked without a network.
Error transportError(int curlCode, long osErrno, const QUrl &url, const QString &detail = {});

} // namespace SyncHttp
