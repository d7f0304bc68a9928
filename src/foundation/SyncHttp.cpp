#include "foundation/SyncHttp.h"

#include "foundation/CurlShare.h"
#include "foundation/FileRead.h"
#include "foundation/PartialFile.h"

#include <QFile>
#include <QFileInfo>

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

namespace SyncHttp {

namespace {

// OpenSSL's clean-up at exit would free what threads still ending, or still
// inside a request, use. Its first set-up decides that for the process
// (libcurl's and Qt Network's included), so this runs before main in every
// program that uses this layer.
[[maybe_unused]] const bool tlsStateKeptAtExit = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);

// One share handle for the process: cookies, DNS answers and TLS sessions.
struct Global
{
    CURLSH *share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];

    std::mutex caMutex;
    QString extraCaPath;
    // The trust store every request verifies against: parsed once, not per
    // request (loading the system bundle costs more than a loopback exchange).
    X509_STORE *trustStore = nullptr;

    // Idle easy handles. Each keeps its own connections (libcurl does not
    // support a connection cache shared by threads at once), so a request
    // takes the one that last talked to its host. Handles that never had the
    // cookie engine on serve the requests without cookies.
    struct Idle
    {
        CURL *curl;
        QByteArray origin;
        bool cookies;
    };
    std::mutex poolMutex;
    std::vector<Idle> idle;

    Global()
    {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        share = curl_share_init();
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Global::lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Global::unlock);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }

    static void lock(CURL *, curl_lock_data data, curl_lock_access, void *user)
    {
        static_cast<Global *>(user)->locks[data].lock();
    }
    static void unlock(CURL *, curl_lock_data data, void *user) { static_cast<Global *>(user)->locks[data].unlock(); }
};

Global &global()
{
    // Never destroyed: a worker thread may still be inside a request while
    // the process exits.
    static Global *g = new Global;
    return *g;
}

} // namespace

CURLSH *curlShare()
{
    return global().share;
}

namespace {

constexpr std::size_t kMaxIdleHandles = 8;

// A handle of the pool for one request; back to the pool afterwards.
class PooledHandle
{
public:
    PooledHandle(const QByteArray &origin, bool cookies) : m_origin(origin), m_cookies(cookies)
    {
        Global &g = global();
        {
            std::lock_guard lock(g.poolMutex);
            // The most recently used first: its connection is the likeliest
            // to be still open.
            auto best = g.idle.rend();
            for (auto it = g.idle.rbegin(); it != g.idle.rend(); ++it) {
                if (it->cookies && !cookies)
                    continue;
                if (best == g.idle.rend() || (it->origin == origin && best->origin != origin))
                    best = it;
                if (it->origin == origin && it->cookies == cookies)
                    break;
            }
            if (best != g.idle.rend()) {
                curl = best->curl;
                m_cookies = m_cookies || best->cookies;
                g.idle.erase(std::next(best).base());
            }
        }
        if (!curl)
            curl = curl_easy_init();
    }
    ~PooledHandle()
    {
        // Its options point into the finished request (error buffer, header
        // list, callbacks' data); the connections stay. The reset forgets,
        // without freeing, the cookie file list libcurl keeps: clear it first
        // (the cookies themselves live in the share).
        if (m_cookies)
            curl_easy_setopt(curl, CURLOPT_COOKIEFILE, nullptr);
        curl_easy_reset(curl);
        curl_slist_free_all(headers);
        Global &g = global();
        std::unique_lock lock(g.poolMutex);
        if (g.idle.size() < kMaxIdleHandles) {
            g.idle.push_back({curl, m_origin, m_cookies});
            return;
        }
        lock.unlock();
        curl_easy_cleanup(curl);
    }
    PooledHandle(const PooledHandle &) = delete;
    PooledHandle &operator=(const PooledHandle &) = delete;

    CURL *curl = nullptr;
    curl_slist *headers = nullptr;

private:
    QByteArray m_origin;
    bool m_cookies;
};

QByteArray originOf(const QUrl &url)
{
    return url.scheme().toLower().toUtf8() + "://" + url.host().toLower().toUtf8() + ':'
           + QByteArray::number(
               url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80));
}

QString systemBundlePath()
{
    EasyHandle h;
    char *path = nullptr;
    if (curl_easy_getinfo(h.curl, CURLINFO_CAINFO, &path) == CURLE_OK && path)
        return QString::fromLocal8Bit(path);
    return QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
}

// The system bundle plus `extraCaPath`; nullptr when the extra file does not load.
X509_STORE *newTrustStore(const QString &extraCaPath)
{
    X509_STORE *store = X509_STORE_new();
    if (!store)
        return nullptr;
    const QByteArray system = QFile::encodeName(systemBundlePath());
    X509_STORE_load_file(store, system.constData());
    if (!extraCaPath.isEmpty() && X509_STORE_load_file(store, QFile::encodeName(extraCaPath).constData()) != 1) {
        X509_STORE_free(store);
        return nullptr;
    }
    return store;
}

CURLcode useTrustStore(CURL *, void *sslContext, void *store)
{
    X509_STORE_up_ref(static_cast<X509_STORE *>(store));
    SSL_CTX_set_cert_store(static_cast<SSL_CTX *>(sslContext), static_cast<X509_STORE *>(store));
    return CURLE_OK;
}

// A counted reference to the current trust store, with the extra CA file it
// was built with.
struct TrustStoreRef
{
    X509_STORE *store = nullptr;
    QByteArray extraCaPath;

    TrustStoreRef()
    {
        Global &g = global();
        std::lock_guard lock(g.caMutex);
        if (!g.trustStore)
            g.trustStore = newTrustStore(g.extraCaPath);
        if (g.trustStore)
            X509_STORE_up_ref(g.trustStore);
        store = g.trustStore;
        extraCaPath = QFile::encodeName(g.extraCaPath);
    }
    ~TrustStoreRef()
    {
        if (store)
            X509_STORE_free(store);
    }
    TrustStoreRef(const TrustStoreRef &) = delete;
    TrustStoreRef &operator=(const TrustStoreRef &) = delete;
};

// The request body as libcurl reads it: the pieces in order, a file's range
// read from the file as it goes out. A request sent at most once refuses the
// rewind that a re-send needs. A file piece that ends early or fails to read
// ends the exchange: `failedPiece` is its index, `readErrno` the read's error
// (0 when the file just held fewer bytes).
struct BodyReader
{
    std::vector<BodyPiece> pieces;
    std::size_t piece = 0;
    qint64 offset = 0;
    bool rewindable = true;
    bool rewindRefused = false;
    std::optional<std::size_t> failedPiece;
    int readErrno = 0;
};

size_t readBody(char *buffer, size_t size, size_t count, void *user)
{
    auto *r = static_cast<BodyReader *>(user);
    size_t room = size * count;
    size_t done = 0;
    while (room && r->piece < r->pieces.size()) {
        const BodyPiece &p = r->pieces[r->piece];
        const size_t n = size_t(std::min(qint64(room), p.size() - r->offset));
        if (p.fd < 0) {
            std::memcpy(buffer + done, p.bytes.data() + r->offset, n);
        } else if (!FileRead::readFully(p.fd, off_t(p.offset + r->offset), buffer + done, n, &r->readErrno)) {
            r->failedPiece = r->piece;
            return CURL_READFUNC_ABORT;
        }
        done += n;
        room -= n;
        r->offset += qint64(n);
        if (r->offset == p.size()) {
            ++r->piece;
            r->offset = 0;
        }
    }
    return done;
}

int seekBody(void *user, curl_off_t offset, int origin)
{
    auto *r = static_cast<BodyReader *>(user);
    if (!r->rewindable || origin != SEEK_SET || offset < 0) {
        r->rewindRefused = true;
        return CURL_SEEKFUNC_FAIL;
    }
    r->piece = 0;
    r->offset = 0;
    for (curl_off_t left = offset; left > 0;) {
        if (r->piece == r->pieces.size())
            return CURL_SEEKFUNC_FAIL;
        const curl_off_t size = curl_off_t(r->pieces[r->piece].size());
        if (left < size) {
            r->offset = qint64(left);
            break;
        }
        left -= size;
        ++r->piece;
    }
    return CURL_SEEKFUNC_OK;
}

// The MD5 of a body, taken on the receiving thread from the bytes where
// they landed: no copy, and no slower than a thread of its own.
class BodyHasher
{
public:
    BodyHasher() : m_context(EVP_MD_CTX_new()) { EVP_DigestInit_ex(m_context, EVP_md5(), nullptr); }
    ~BodyHasher() { EVP_MD_CTX_free(m_context); }
    BodyHasher(const BodyHasher &) = delete;
    BodyHasher &operator=(const BodyHasher &) = delete;

    void add(const char *data, size_t size) { EVP_DigestUpdate(m_context, data, size); }
    QByteArray finish()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_context, digest, &length);
        return QByteArray(reinterpret_cast<const char *>(digest), int(length));
    }

private:
    EVP_MD_CTX *m_context;
};

struct Transfer
{
    Response response;
    PartialFile *file = nullptr;
    CURL *curl = nullptr;
    QUrl url; // of the request
    // Whether the answer's body goes to the file, asked of
    // Request::acceptDownload before the first byte (or at the end).
    const std::function<bool(const Response &)> *acceptDownload = nullptr;
    bool decided = false;
    bool refused = false;
    bool writeFailed = false;
    qint64 maxReplyBytes = 0;
    bool tooLarge = false;
    bool firstBody = true;
    std::unique_ptr<BodyHasher> md5;
    const std::function<bool()> *isCancelled = nullptr;
    // Idle time-out: libcurl's own speed limit averages over seconds, so a
    // request body sent just before a silent stretch would hide it.
    std::chrono::steady_clock::duration idleLimit{};
    std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
    curl_off_t lastDown = 0, lastUp = 0;
    bool timedOut = false;
    // Some of an answer arrived: the server saw the request.
    bool answered = false;
    // A download's answer whose body only the connection's close ends
    // (HTTP/1, neither Content-Length nor chunks): a cut looks the same,
    // unless TLS closes with close_notify.
    bool head = false;
    bool http1 = true;
    long status = 0;
    bool endsWithClose = false;
    bool closeNotified = false;
};

// The TLS connection of the exchange under way, if any.
SSL *tlsOf(CURL *curl)
{
    curl_tlssessioninfo *tls = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &tls) != CURLE_OK || !tls
        || tls->backend != CURLSSLBACKEND_OPENSSL)
        return nullptr;
    return static_cast<SSL *>(tls->internals);
}

// At the end of a download answer's headers. libcurl 7.88 reads a TLS
// connection closed without close_notify as a clean end; OpenSSL, told not
// to ignore that, fails the read where it can see it, and the progress
// callback notes whether close_notify came.
void watchForCut(Transfer *t)
{
    const bool noBody = t->head || t->status < 200 || t->status == 204 || t->status == 304;
    t->endsWithClose = t->http1 && !noBody && !t->response.hasHeader("Content-Length")
                       && !t->response.header("Transfer-Encoding").toLower().contains("chunked");
    t->closeNotified = false;
    if (SSL *ssl = t->endsWithClose ? tlsOf(t->curl) : nullptr)
        SSL_clear_options(ssl, SSL_OP_IGNORE_UNEXPECTED_EOF);
}

size_t onHeader(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    t->lastActivity = std::chrono::steady_clock::now();
    t->answered = true;
    const QByteArray line = QByteArray(data, qsizetype(n)).trimmed();
    if (line.startsWith("HTTP/")) {
        // A new answer (redirect or interim): only the last one's headers count.
        t->response.headers.clear();
        t->firstBody = true;
        t->decided = false;
        t->refused = false;
        t->http1 = line.startsWith("HTTP/1.");
        t->status = line.split(' ').value(1).toLong();
    } else if (line.isEmpty()) {
        if (t->file)
            watchForCut(t);
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        t->response.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return n;
}

// The status and final URL of the answer under way.
void describeAnswer(CURL *curl, const QUrl &requestUrl, Response &response)
{
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    char *effective = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        response.url = QUrl::fromEncoded(QByteArray(effective));
    else
        response.url = requestUrl;
}

// Asks once per answer whether its body may go to the download file.
void decideKeeping(Transfer *t)
{
    if (t->decided)
        return;
    t->decided = true;
    if (!t->acceptDownload || !*t->acceptDownload)
        return;
    Response answer;
    describeAnswer(t->curl, t->url, answer);
    answer.headers = t->response.headers;
    t->refused = !(*t->acceptDownload)(answer);
}

size_t onBody(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    if (t->response.bodySize + qint64(n) > t->maxReplyBytes) {
        t->tooLarge = true;
        return 0;
    }
    if (t->firstBody) {
        // One allocation for an announced size (bounded by the limit above).
        t->firstBody = false;
        curl_off_t announced = -1;
        if (!t->file && curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK
            && announced > 0 && announced <= t->maxReplyBytes)
            t->response.body.reserve(qsizetype(announced));
    }
    if (t->file)
        decideKeeping(t);
    if (t->file && !t->refused) {
        curl_off_t announced = -1;
        if (t->response.bodySize == 0
            && curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK && announced > 0
            && announced <= t->maxReplyBytes)
            t->file->reserve(off_t(announced));
        if (!t->file->write(data, n)) {
            t->writeFailed = true;
            return 0;
        }
    } else if (t->file) {
        // An answer turned down never touches the disk; its head is enough
        // to tell what it was.
        const qint64 room = kRefusedBodyBytes - t->response.body.size();
        if (room > 0)
            t->response.body.append(data, qsizetype(std::min<qint64>(room, qint64(n))));
    } else {
        t->response.body.append(data, qsizetype(n));
    }
    if (t->md5)
        t->md5->add(data, n);
    t->response.bodySize += qint64(n);
    return n;
}

int onProgress(void *user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up)
{
    auto *t = static_cast<Transfer *>(user);
    if (t->isCancelled && *t->isCancelled && (*t->isCancelled)())
        return 1;
    // Called after each read, so also after the one that met the close.
    if (t->endsWithClose)
        if (SSL *ssl = tlsOf(t->curl))
            t->closeNotified = SSL_get_shutdown(ssl) & SSL_RECEIVED_SHUTDOWN;
    const auto now = std::chrono::steady_clock::now();
    if (down != t->lastDown || up != t->lastUp) {
        t->lastDown = down;
        t->lastUp = up;
        t->lastActivity = now;
    } else if (now - t->lastActivity > t->idleLimit) {
        t->timedOut = true;
        return 1;
    }
    return 0;
}

QString describe(long code)
{
    switch (code) {
    case URLErrorCancelled: return localizedString("The request was cancelled.");
    case URLErrorBadURL: return localizedString("The URL is not valid.");
    case URLErrorTimedOut: return localizedString("The request timed out.");
    case URLErrorUnsupportedURL: return localizedString("The URL's scheme is not supported.");
    case URLErrorCannotFindHost: return localizedString("A server with the specified host name could not be found.");
    case URLErrorCannotConnectToHost: return localizedString("Could not connect to the server.");
    case URLErrorNetworkConnectionLost: return localizedString("The network connection was lost.");
    case URLErrorHTTPTooManyRedirects: return localizedString("Too many HTTP redirects.");
    case URLErrorNotConnectedToInternet: return localizedString("The Internet connection appears to be offline.");
    case URLErrorBadServerResponse: return localizedString("The server returned a bad response.");
    case URLErrorCannotDecodeRawData:
    case URLErrorCannotDecodeContentData: return localizedString("The server's data could not be decoded.");
    case URLErrorCannotParseResponse: return localizedString("The server's response could not be parsed.");
    case URLErrorRequestBodyStreamExhausted: return localizedString("The request's body could not be read.");
    case URLErrorSecureConnectionFailed: return localizedString("A secure connection to the server cannot be made.");
    case URLErrorServerCertificateUntrusted: return localizedString("The certificate of this server is not trusted.");
    case URLErrorClientCertificateRequired: return localizedString("The server requires a client certificate.");
    case URLErrorCannotCreateFile: return localizedString("The file could not be created.");
    case URLErrorCannotWriteToFile: return localizedString("The file could not be written.");
    default: return localizedString("An unknown error occurred.");
    }
}

long urlErrorCode(int curlCode, long osErrno)
{
    switch (CURLcode(curlCode)) {
    case CURLE_UNSUPPORTED_PROTOCOL: return URLErrorUnsupportedURL;
    case CURLE_URL_MALFORMAT: return URLErrorBadURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return URLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return (osErrno == ENETUNREACH || osErrno == ENETDOWN) ? URLErrorNotConnectedToInternet
                                                               : URLErrorCannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return URLErrorTimedOut;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_FAIL_REWIND:
    case CURLE_PARTIAL_FILE: return URLErrorNetworkConnectionLost;
    case CURLE_FILESIZE_EXCEEDED: return URLErrorBadServerResponse;
    case CURLE_TOO_MANY_REDIRECTS: return URLErrorHTTPTooManyRedirects;
    case CURLE_WEIRD_SERVER_REPLY: return URLErrorCannotParseResponse;
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return URLErrorBadServerResponse;
    case CURLE_BAD_CONTENT_ENCODING: return URLErrorCannotDecodeContentData;
    case CURLE_PEER_FAILED_VERIFICATION: return URLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS: return URLErrorSecureConnectionFailed;
    case CURLE_SSL_CERTPROBLEM: return URLErrorClientCertificateRequired;
    case CURLE_ABORTED_BY_CALLBACK: return URLErrorCancelled;
    case CURLE_WRITE_ERROR: return URLErrorCannotWriteToFile;
    case CURLE_READ_ERROR: return URLErrorRequestBodyStreamExhausted;
    default: return URLErrorUnknown;
    }
}

QByteArray unquote(QByteArray value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2).replace("\\\"", "\"").replace("\\\\", "\\");
    return value;
}

} // namespace

Error transportError(int curlCode, long osErrno, const QUrl &url, const QString &detail)
{
    const long code = urlErrorCode(curlCode, osErrno);
    QVariantMap info{{kFailingURLStringKey, url.toString(QUrl::FullyEncoded)}};
    if (!detail.isEmpty())
        info.insert(QStringLiteral("detail"), detail);
    return Error(kURLErrorDomain, code, describe(code), {}, {}, info);
}

QByteArray Response::header(const QByteArray &name) const
{
    for (auto it = headers.crbegin(); it != headers.crend(); ++it)
        if (it->first.compare(name, Qt::CaseInsensitive) == 0)
            return it->second;
    return {};
}

bool Response::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString Response::suggestedFilename() const
{
    const QByteArray disposition = header("Content-Disposition");
    QString fromPlain;
    for (const QByteArray &rawPart : disposition.split(';')) {
        const QByteArray part = rawPart.trimmed();
        const qsizetype eq = part.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = part.left(eq).trimmed().toLower();
        const QByteArray value = unquote(part.mid(eq + 1));
        if (key == "filename*") {
            // RFC 5987: charset'language'percent-encoded
            const QList<QByteArray> pieces = value.split('\'');
            if (pieces.size() == 3 && pieces[0].compare("UTF-8", Qt::CaseInsensitive) == 0) {
                const QString name = QString::fromUtf8(QByteArray::fromPercentEncoding(pieces[2]));
                if (!name.isEmpty())
                    return name;
            }
        } else if (key == "filename" && fromPlain.isEmpty()) {
            fromPlain = QString::fromUtf8(value);
        }
    }
    if (!fromPlain.isEmpty())
        return fromPlain;
    return url.fileName(QUrl::FullyDecoded);
}

namespace {

// A URL no request goes out to.
std::optional<Error> urlRefusal(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty())
        return transportError(CURLE_URL_MALFORMAT, 0, url);
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return transportError(CURLE_UNSUPPORTED_PROTOCOL, 0, url);
    return std::nullopt;
}

// A file piece of the body that no longer holds its range, or fails to read.
Error unreadBody(const QUrl &url, const BodyPiece &piece, int errnum)
{
    Error e = transportError(CURLE_READ_ERROR, 0, url,
                             errnum ? QString::fromLocal8Bit(std::strerror(errnum)) : QString());
    e.localizedDescription =
        errnum ? localizedString("The file %1 could not be read while it was being sent.").arg(piece.fileName)
               : localizedString("The file %1 changed while it was being sent.").arg(piece.fileName);
    return e;
}

// A file that could not be made or written: a full disk or a
// folder the user cannot write is the user's to mend, so the description
// names the file, its folder (hidden under the data folder) and the
// system's reason.
Error fileFailure(URLError code, const Request &request, const PartialFile &file)
{
    Error e = transportError(CURLE_WRITE_ERROR, 0, request.url, file.errorString());
    e.code = code;
    const QFileInfo destination(request.downloadPath);
    // The folder on a line of its own: a long path breaks only where it
    // must, never right after its opening quote.
    const QString description = code == URLErrorCannotCreateFile
                                    ? localizedString("The file “%1” in the folder\n“%2”\ncould not be created.")
                                    : localizedString("The file “%1” in the folder\n“%2”\ncould not be written.");
    e.localizedDescription = withSystemReason(description.arg(destination.fileName(), destination.absolutePath()),
                                              file.errorString());
    e.localizedRecoverySuggestion = fileRecoverySuggestion(file.errorNumber());
    return e;
}

// One exchange on a handle of the pool. The handle's options and callbacks
// point into it, so it stays in place until the handle goes back.
class Exchange
{
public:
    Exchange(const Request &request, PartialFile *file)
        : m_request(request), m_handle(originOf(request.url), request.useCookies), m_curl(m_handle.curl)
    {
        m_transfer.isCancelled = &request.isCancelled;
        m_transfer.curl = m_curl;
        m_transfer.url = request.url;
        m_transfer.file = file;
        m_transfer.acceptDownload = &request.acceptDownload;
        m_transfer.head = request.method.toUpper() == "HEAD";
        m_transfer.maxReplyBytes = std::max<qint64>(0, request.maxReplyBytes);
        if (request.hashBody)
            m_transfer.md5 = std::make_unique<BodyHasher>();
        setTarget();
        setTrust();
        setLimits();
        setCookies();
        attachBody();
        attachHeaders();
        attachCallbacks();
    }
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    // Sends the request, a second time when needsResend() says so. The
    // result names the ends the callbacks forced: silence, a reply too long.
    CURLcode run()
    {
        CURLcode result = perform();
        if (needsResend(result)) {
            m_body.piece = 0;
            m_body.offset = 0;
            m_errorText[0] = 0;
            curl_easy_setopt(m_curl, CURLOPT_FRESH_CONNECT, 1L);
            result = perform();
        }
        if (result == CURLE_ABORTED_BY_CALLBACK && m_transfer.timedOut)
            result = CURLE_OPERATION_TIMEDOUT;
        if (result == CURLE_WRITE_ERROR && m_transfer.tooLarge)
            result = CURLE_FILESIZE_EXCEEDED;
        if (result == CURLE_ABORTED_BY_CALLBACK && m_body.failedPiece)
            result = CURLE_READ_ERROR;
        return result;
    }

    // The Error of a run that failed, with the likeliest reason as detail.
    Error failure(CURLcode result) const
    {
        long osErrno = 0;
        curl_easy_getinfo(m_curl, CURLINFO_OS_ERRNO, &osErrno);
        QString detail = QString::fromUtf8(m_errorText);
        if (detail.isEmpty())
            detail = QString::fromUtf8(curl_easy_strerror(result));
        if (m_transfer.writeFailed && m_transfer.file)
            return fileFailure(URLErrorCannotWriteToFile, m_request, *m_transfer.file);
        if (result == CURLE_FILESIZE_EXCEEDED)
            detail = QStringLiteral("The answer is longer than the %1 bytes allowed.").arg(m_transfer.maxReplyBytes);
        if (m_body.rewindRefused)
            detail = QStringLiteral("The connection closed before the answer; the request was not sent again.");
        if (result == CURLE_READ_ERROR && m_body.failedPiece)
            return unreadBody(m_request.url, m_body.pieces[*m_body.failedPiece], m_body.readErrno);
        Error e = transportError(result, osErrno, m_request.url, detail);
        if (result == CURLE_FILESIZE_EXCEEDED)
            e.userInfo.insert(kMaxReplyBytesKey, m_transfer.maxReplyBytes);
        return e;
    }

    // Whether the answer of a run that succeeded goes to the download file
    // (one without a body is asked about now).
    bool keepsAnswer()
    {
        decideKeeping(&m_transfer);
        return !m_transfer.refused;
    }

    // Whether the body of a run that succeeded may have been cut: it ended
    // with a close that no TLS close_notify vouched for.
    bool mayBeCut() const { return m_transfer.endsWithClose && !m_transfer.closeNotified; }

    // The answer of a run that succeeded.
    Response takeResponse()
    {
        Response &response = m_transfer.response;
        describeAnswer(m_curl, m_request.url, response);
        if (m_transfer.md5)
            response.md5 = m_transfer.md5->finish();
        return std::move(response);
    }

private:
    void setTarget()
    {
        const QByteArray url = m_request.url.toEncoded();
        const bool https = m_request.url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
        curl_easy_setopt(m_curl, CURLOPT_URL, url.constData());
        // A path segment "." or ".." is a name (an asset's), not a step up:
        // QUrl has already decoded "%2E%2E" to it.
        curl_easy_setopt(m_curl, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "http,https");
        // A TLS request never continues in the clear: a 307 would resend its body there.
        curl_easy_setopt(m_curl, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
        curl_easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, m_request.followRedirects ? 1L : 0L);
        curl_easy_setopt(m_curl, CURLOPT_MAXREDIRS, long(kMaxRedirects));
        curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, m_errorText);
        curl_easy_setopt(m_curl, CURLOPT_USERAGENT, "Leafhaul/1.0");
        curl_easy_setopt(m_curl, CURLOPT_ACCEPT_ENCODING, "");
    }

    void setTrust()
    {
        curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!m_trust.store)
            return;
        // The context gets the shared store. curl loads at most the small
        // extra file itself: naming it keeps TLS sessions resumed, and
        // connections reused, only under the trust they were verified with.
        curl_easy_setopt(m_curl, CURLOPT_CAINFO,
                         m_trust.extraCaPath.isEmpty() ? nullptr : m_trust.extraCaPath.constData());
        curl_easy_setopt(m_curl, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(m_curl, CURLOPT_SSL_CTX_FUNCTION, &useTrustStore);
        curl_easy_setopt(m_curl, CURLOPT_SSL_CTX_DATA, m_trust.store);
    }

    // Buffers, reply size, time-outs and speed floor.
    void setLimits()
    {
        // Fewer, larger pieces for assets; both are buffers of the handle, not of the body.
        curl_easy_setopt(m_curl, CURLOPT_BUFFERSIZE, 256L * 1024);
        curl_easy_setopt(m_curl, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
        curl_easy_setopt(m_curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_transfer.maxReplyBytes));
        const long timeout = std::max(1, m_request.timeoutSeconds);
        curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, timeout);
        m_transfer.idleLimit = std::chrono::seconds(timeout);
        curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
        curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_TIME, long(std::max(1, m_request.lowSpeedSeconds)));
        // libcurl compares whole seconds with ">": a limit of n keeps a
        // connection idle for up to n + 1 seconds.
        if (m_request.sendAtMostOnce)
            curl_easy_setopt(m_curl, CURLOPT_MAXAGE_CONN, long(kAtMostOnceIdleSeconds - 1));
    }

    void setCookies()
    {
        curl_easy_setopt(m_curl, CURLOPT_SHARE, global().share);
        if (m_request.useCookies)
            curl_easy_setopt(m_curl, CURLOPT_COOKIEFILE, "");
    }

    // Method and body. POST keeps curl's own redirect rules (303 turns it into
    // a GET); other methods are sent as they are named.
    void attachBody()
    {
        const QByteArray method = m_request.method.toUpper();
        m_body.rewindable = !m_request.sendAtMostOnce;
        if (!m_request.bodyPieces.empty())
            m_body.pieces = m_request.bodyPieces;
        else if (!m_request.body.isEmpty())
            m_body.pieces.emplace_back(
                std::string_view(m_request.body.constData(), std::size_t(m_request.body.size())));
        const bool sendsBody = !m_body.pieces.empty() || method == "POST" || method == "PUT";
        if (method == "GET") {
            curl_easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            curl_easy_setopt(m_curl, CURLOPT_NOBODY, 1L);
        } else if (method != "POST") {
            curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, method.constData());
        }
        if (sendsBody && method != "GET" && method != "HEAD") {
            curl_off_t size = 0;
            for (const BodyPiece &piece : m_body.pieces)
                size += curl_off_t(piece.size());
            curl_easy_setopt(m_curl, CURLOPT_POST, 1L);
            curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, size);
            curl_easy_setopt(m_curl, CURLOPT_READFUNCTION, &readBody);
            curl_easy_setopt(m_curl, CURLOPT_READDATA, &m_body);
            curl_easy_setopt(m_curl, CURLOPT_SEEKFUNCTION, &seekBody);
            curl_easy_setopt(m_curl, CURLOPT_SEEKDATA, &m_body);
        }
        // libcurl re-sends without a rewind when no body byte went out: such a
        // request sent at most once takes no kept connection.
        if (m_request.sendAtMostOnce
            && std::all_of(m_body.pieces.begin(), m_body.pieces.end(), [](const BodyPiece &p) { return !p.size(); }))
            curl_easy_setopt(m_curl, CURLOPT_FRESH_CONNECT, 1L);
    }

    void attachHeaders()
    {
        for (const auto &[name, value] : m_request.headers)
            m_handle.headers = curl_slist_append(m_handle.headers, (name + ": " + value).constData());
        m_handle.headers = curl_slist_append(m_handle.headers, "Expect:");
        curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, m_handle.headers);
    }

    void attachCallbacks()
    {
        curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, &onHeader);
        curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, &m_transfer);
        curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, &onBody);
        curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &m_transfer);
        curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, &onProgress);
        curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, &m_transfer);
    }

    CURLcode perform()
    {
        m_transfer.lastActivity = std::chrono::steady_clock::now();
        return curl_easy_perform(m_curl);
    }

    // libcurl sends a request again when its kept connection closed before
    // the answer, but not when the close shows first while the body goes
    // out ("Send failure"). A request that may go out twice does, once, on a
    // new connection.
    bool needsResend(CURLcode result) const
    {
        long newConnections = 0;
        return result == CURLE_SEND_ERROR && !m_request.sendAtMostOnce && !m_transfer.answered
               && curl_easy_getinfo(m_curl, CURLINFO_NUM_CONNECTS, &newConnections) == CURLE_OK && newConnections == 0;
    }

    const Request &m_request;
    const TrustStoreRef m_trust;
    PooledHandle m_handle;
    CURL *const m_curl;
    Transfer m_transfer;
    BodyReader m_body;
    char m_errorText[CURL_ERROR_SIZE] = {};
};

} // namespace

std::optional<Response> send(const Request &request, OptionalError *error)
{
    if (error)
        error->reset();
    auto fail = [&](Error e) -> std::optional<Response> {
        setErrorSlot(error, std::move(e));
        return std::nullopt;
    };

    if (std::optional<Error> refused = urlRefusal(request.url))
        return fail(std::move(*refused));
    std::unique_ptr<PartialFile> file;
    if (!request.downloadPath.isEmpty()) {
        file = std::make_unique<PartialFile>(request.downloadPath);
        if (!file->isOpen())
            return fail(fileFailure(URLErrorCannotCreateFile, request, *file));
    }
    // Nothing goes out after a cancel, not even the first bytes; the partial
    // file goes too.
    if (request.isCancelled && request.isCancelled())
        return fail(transportError(CURLE_ABORTED_BY_CALLBACK, 0, request.url));

    Exchange exchange(request, file.get());
    if (const CURLcode result = exchange.run(); result != CURLE_OK)
        return fail(exchange.failure(result));
    // The file takes its name only once the whole body is there, and only
    // for an answer the caller keeps.
    if (file && !exchange.keepsAnswer())
        file->discard();
    else if (file && exchange.mayBeCut())
        return fail(transportError(CURLE_PARTIAL_FILE, 0, request.url,
                                   QStringLiteral("The answer gave no length and its connection closed without a "
                                                  "TLS close_notify: it may be cut short.")));
    else if (file && !file->commit())
        return fail(fileFailure(URLErrorCannotWriteToFile, request, *file));
    Response response = exchange.takeResponse();
    if (file) {
        response.fileDevice = file->device();
        response.fileInode = file->inode();
    }
    return response;
}

bool setExtraCaFile(const QString &path)
{
    Global &g = global();
    X509_STORE *store = newTrustStore(path);
    if (!store)
        return false;
    std::lock_guard lock(g.caMutex);
    g.extraCaPath = path;
    if (g.trustStore)
        X509_STORE_free(g.trustStore); // requests under way keep their own reference
    g.trustStore = store;
    return true;
}

QString extraCaFile()
{
    Global &g = global();
    std::lock_guard lock(g.caMutex);
    return g.extraCaPath;
}

} // namespace SyncHttp
