#include "backpack/TGBackpackAPI.h"

#include "backpack/BackpackSettings.h"
#include "backpack/TGBackpackPage.h"
#include "foundation/Cookies.h"
#include "foundation/SystemLog.h"
#include "foundation/TGQuietLog.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <curl/curl.h>

#include <limits>

using SyncHttp::Request;
using SyncHttp::Response;

void TGBackpackAPIDelegate::backpack(TGBackpackAPI *, const SyncHttp::Request &) {}
void TGBackpackAPIDelegate::backpack(TGBackpackAPI *, const QByteArray &) {}
void TGBackpackAPIDelegate::backpack(TGBackpackAPI *, const Error &) {}
void TGBackpackAPIDelegate::backpack(TGBackpackAPI *, const QString &) {}

namespace {

const QString kSessionCreate = QStringLiteral("session/create");
// Backpack's answers are small XML documents; a longer one is not Backpack's.
constexpr qint64 kMaxAnswerBytes = 8 * 1024 * 1024;

// The calls that only read (and the sign-in) may go out again when a kept
// connection turns out closed; every other call writes, and is sent once.
bool onlyReads(const QString &path, const QByteArray &method)
{
    static const QRegularExpression reads(
        QStringLiteral("^(session/create|ws/pages/all|ws/page/[^/]+|ws/page/[^/]+/lists(/[^/]+/items)?/list)$"));
    return method == "GET" || (method == "POST" && reads.match(path).hasMatch());
}
// What the service said of its failure, for the user: the text of its error
// element, or a short plain-text body; never the markup of an error page.
QString serviceWords(const QByteArray &body)
{
    constexpr qsizetype kMaxWords = 500;
    QString text;
    if (const std::optional<XmlDocument> document = XmlDocument::parse(body)) {
        const QList<xmlNodePtr> errors = document->nodes(QStringLiteral("//error")).value_or(QList<xmlNodePtr>());
        if (!errors.isEmpty())
            text = xml::textContent(errors.first());
    } else if (!body.trimmed().startsWith('<')) {
        text = QString::fromUtf8(body);
    }
    text = text.simplified();
    if (text.size() <= kMaxWords)
        return text;
    return text.left(text.at(kMaxWords - 1).isHighSurrogate() ? kMaxWords - 1 : kMaxWords) + QChar(u'…');
}

const QByteArray kSuccessDocument = "<response success=\"true\"></response>";

Error cancelledError(const QUrl &url)
{
    return SyncHttp::transportError(CURLE_ABORTED_BY_CALLBACK, 0, url);
}

Error badSitenameError(const QString &sitename)
{
    Error e(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorBadURL,
            localizedString("The Backpack site name is not valid."), {},
            localizedString("A site name holds only letters, digits and hyphens."));
    e.userInfo.insert(QStringLiteral("sitename"), sitename);
    return e;
}

Error unreadableAnswerError(const QUrl &url, const QString &reason)
{
    return Error(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorCannotDecodeRawData,
                 localizedString("Backpack sent an answer that could not be read."), reason, {},
                 {{SyncHttp::kFailingURLStringKey, url.toString(QUrl::FullyEncoded)}});
}

// The leading decimal integer of a header value; nothing when it begins with
// no digit. Large values saturate.
std::optional<qint64> leadingInteger(const QString &text)
{
    qint64 value = 0;
    qsizetype i = 0;
    const QString t = text.trimmed();
    for (; i < t.size() && t[i].isDigit() && t[i].unicode() < 128; ++i)
        value = std::min<qint64>(value * 10 + (t[i].unicode() - '0'), std::numeric_limits<int>::max());
    return i == 0 ? std::nullopt : std::optional<qint64>(value);
}

// The platform's intValue: optional white space and sign, then digits; 0 otherwise.
long intValue(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+')))
        negative = t[i++] == QLatin1Char('-');
    long long value = 0;
    for (; i < t.size() && t[i].unicode() >= '0' && t[i].unicode() <= '9'; ++i)
        value = std::min<long long>(value * 10 + (t[i].unicode() - '0'), std::numeric_limits<int>::max());
    return long(negative ? -value : value);
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    if (text.isNull())
        text = QLatin1String("");
    return text;
}

std::optional<QString> decodeAscii(const QByteArray &bytes)
{
    for (char c : bytes)
        if (uchar(c) > 127)
            return std::nullopt;
    return QString::fromLatin1(bytes);
}

bool isXMLCharacter(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
           || (c >= 0x10000 && c <= 0x10FFFF);
}

// The character a reference ("&#65;", "&#x41;") at `at` stands for, with its
// length; nothing when there is no well-formed reference there. Values past
// Unicode saturate, so they stay forbidden.
std::optional<std::pair<char32_t, qsizetype>> characterReference(QStringView s, qsizetype at)
{
    if (!s.mid(at).startsWith(QLatin1String("&#")))
        return std::nullopt;
    qsizetype i = at + 2;
    const bool hex = i < s.size() && s[i] == QLatin1Char('x');
    if (hex)
        ++i;
    const qsizetype digits = i;
    char32_t value = 0;
    for (; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        int digit = -1;
        if (u >= '0' && u <= '9')
            digit = u - '0';
        else if (hex && u >= 'a' && u <= 'f')
            digit = u - 'a' + 10;
        else if (hex && u >= 'A' && u <= 'F')
            digit = u - 'A' + 10;
        if (digit < 0)
            break;
        value = std::min<char32_t>(value * (hex ? 16 : 10) + char32_t(digit), 0x110000);
    }
    if (i == digits || i >= s.size() || s[i] != QLatin1Char(';'))
        return std::nullopt;
    return std::make_pair(value, i + 1 - at);
}

const QChar kReplacementCharacter(0xFFFD);

// Copies s[from, to) into `out`, forbidden characters (a lone surrogate
// among them) replaced.
void appendRaw(QString &out, QStringView s, qsizetype from, qsizetype to)
{
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = s[i];
        if (c.isHighSurrogate() && i + 1 < to && s[i + 1].isLowSurrogate()) {
            out += c;
            out += s[++i];
        } else if (c.isSurrogate() || !isXMLCharacter(c.unicode())) {
            out += kReplacementCharacter;
        } else {
            out += c;
        }
    }
}

} // namespace

TGBackpackAPI::TGBackpackAPI(const QString &sitename, const QString &token, const QString &username,
                             const QString &password)
    : m_sitename(sitename), m_token(token), m_username(username), m_password(password)
{
}

#define TG_PROPERTY(getter, setter, member)          \
    QString TGBackpackAPI::getter() const            \
    {                                                \
        std::lock_guard lock(m_mutex);               \
        return member;                               \
    }                                                \
    void TGBackpackAPI::setter(const QString &value) \
    {                                                \
        std::lock_guard lock(m_mutex);               \
        member = value;                              \
    }
TG_PROPERTY(sitename, setSitename, m_sitename)
TG_PROPERTY(token, setToken, m_token)
TG_PROPERTY(username, setUsername, m_username)
TG_PROPERTY(password, setPassword, m_password)
#undef TG_PROPERTY

void TGBackpackAPI::cancel()
{
    {
        std::lock_guard lock(m_cancelMutex);
        m_cancel = true;
    }
    m_cancelled.notify_all();
}

bool TGBackpackAPI::waitBeforeRetry(int seconds)
{
    seconds = std::clamp(seconds, 0, std::max(0, m_policy.maxWaitSeconds));
    if (m_policy.sleeper)
        return m_policy.sleeper(seconds) && !m_cancel;
    std::unique_lock lock(m_cancelMutex);
    return !m_cancelled.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_cancel.load(); });
}

// ---------------------------------------------------------------------------
// Building requests

QString TGBackpackAPI::pathSegment(const QString &id)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(id));
}

QString TGBackpackAPI::formEncoded(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString TGBackpackAPI::xmlEscaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&apos;"); break;
        default: out += c;
        }
    }
    return out;
}

QString TGBackpackAPI::cdata(const QString &text)
{
    QString inner = text;
    // "]]>" would end the section: close it between "]]" and ">" and reopen.
    inner.replace(QLatin1String("]]>"), QLatin1String("]]]]><![CDATA[>"));
    return QLatin1String("<![CDATA[") + inner + QLatin1String("]]>");
}

bool TGBackpackAPI::needsBodyForPath(const QString &path, const QString &method) const
{
    const QString tokenSegment = pathSegment(token());
    if (path == tokenSegment + QLatin1String("/reminders.xml") && method == QLatin1String("GET"))
        return false;
    if (path.startsWith(tokenSegment + QLatin1String("/reminders/")) && method == QLatin1String("DELETE"))
        return false;
    return true;
}

Request TGBackpackAPI::URLRequestForPath(const QString &path, const QString &extraBody, const QString &method) const
{
    Request r;
    const QString site = sitename();
    if (BackpackSettings::isValidSitename(site)) {
        const QString text = QLatin1String("https://") + site + QLatin1Char('.') + BackpackSettings::serviceDomain()
                             + QLatin1Char('/') + path;
        const QUrl url(text, QUrl::StrictMode);
        if (url.isValid()
            && url.host()
                   == (site + QLatin1Char('.') + BackpackSettings::serviceDomain().section(QLatin1Char(':'), 0, 0))
                          .toLower())
            r.url = url;
    }
    r.timeoutSeconds = m_policy.requestTimeoutSeconds;
    r.lowSpeedSeconds = m_policy.requestLowSpeedSeconds;
    r.headers.append(
        qMakePair(QByteArray("Content-Type"),
                  QByteArray(path == kSessionCreate ? "application/x-www-form-urlencoded" : "application/xml")));
    r.method = method.isEmpty() ? QByteArray("POST") : method.toUtf8();
    if (needsBodyForPath(path, QString::fromUtf8(r.method))) {
        if (path == kSessionCreate) {
            r.body = extraBody.toUtf8();
        } else {
            r.body = (QLatin1String("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><token>") + xmlEscaped(token())
                      + QLatin1String("</token>") + extraBody + QLatin1String("</request>"))
                         .toUtf8();
        }
    }
    r.maxReplyBytes = kMaxAnswerBytes;
    r.sendAtMostOnce = !onlyReads(path, r.method);
    r.isCancelled = [this] { return m_cancel.load(); };
    if (!r.url.isEmpty())
        setupCookiesForRequest(r);
    return r;
}

void TGBackpackAPI::setupCookiesForRequest(Request &request) const
{
    request.useCookies = true;
    for (const SyncHttp::Cookie &cookie : SyncHttp::cookiesForUrl(request.url)) {
        if (cookie.name == QLatin1String("write_token")) {
            SyncHttp::deleteCookie(cookie);
            systemLog(QStringLiteral("removing write_token cookie for request %1").arg(request.url.toString()));
            break;
        }
    }
}

bool TGBackpackAPI::isLoginPage(const Response &response)
{
    return response.suggestedFilename() == QLatin1String("login.html");
}

bool TGBackpackAPI::wasUpdate(const Request &request)
{
    return request.method == "PUT";
}

bool TGBackpackAPI::wasDelete(const Request &request)
{
    return request.method == "DELETE";
}

// ---------------------------------------------------------------------------
// Text clean-up and escaping

int TGBackpackAPI::cleanupXMLAttrInString(QString &text, TextRange range)
{
    const qsizetype start = range.location + 2;
    const qsizetype end = range.end() - 1; // the closing quote
    if (range.location < 0 || start > end || end > text.size())
        return 0;
    QString value = text.mid(start, end - start);
    const int count = int(value.count(QLatin1Char('<')) + value.count(QLatin1Char('>')));
    if (count) {
        value.replace(QLatin1Char('<'), QLatin1String("&lt;")).replace(QLatin1Char('>'), QLatin1String("&gt;"));
        text.replace(start, end - start, value);
    }
    return count;
}

QString TGBackpackAPI::cleanupXML(const QString &text)
{
    QString s = text;
    const QString opener = QStringLiteral("=\"");
    qsizetype p = s.indexOf(opener);
    while (p >= 0) {
        const qsizetype q = s.indexOf(QLatin1Char('"'), p + 2);
        if (q >= 0 && s.at(q - 1) != QLatin1Char('=')) {
            const int replaced = cleanupXMLAttrInString(s, TextRange{p, q - p + 1});
            // Each replacement grew the text by three characters.
            p = s.indexOf(opener, q + 3 * replaced + 1);
        } else {
            p = s.indexOf(opener, p + 1);
        }
    }
    return s;
}

QString TGBackpackAPI::replaceForbiddenXMLCharacters(const QString &text)
{
    // Sections whose "&#" is text, not a reference.
    static const std::pair<QLatin1String, QLatin1String> verbatim[] = {
        {QLatin1String("<![CDATA["), QLatin1String("]]>")}, {QLatin1String("<!--"), QLatin1String("-->")}};
    const QStringView s(text);
    QString out;
    out.reserve(text.size());
    qsizetype done = 0;
    qsizetype i = 0;
    while (i < s.size()) {
        const QChar c = s[i];
        if (c == QLatin1Char('<')) {
            bool skipped = false;
            for (const auto &[open, close] : verbatim) {
                if (s.mid(i).startsWith(open)) {
                    const qsizetype end = s.indexOf(close, i + open.size());
                    i = end < 0 ? s.size() : end + close.size();
                    skipped = true;
                    break;
                }
            }
            if (!skipped)
                ++i;
        } else if (c == QLatin1Char('&')) {
            const auto reference = characterReference(s, i);
            if (reference && !isXMLCharacter(reference->first)) {
                appendRaw(out, s, done, i);
                out += kReplacementCharacter;
                done = i + reference->second;
            }
            i += reference ? reference->second : 1;
        } else {
            ++i;
        }
    }
    appendRaw(out, s, done, s.size());
    return out;
}

TextRange TGBackpackAPI::rangeOfAttributeValueFromString(const QString &text, qsizetype start)
{
    if (start < 0 || !QStringView(text).mid(start).startsWith(QLatin1String("=\"")))
        return TextRange{};
    const qsizetype begin = start + 2;
    qsizetype limit = text.indexOf(QLatin1String("=\""), begin);
    if (limit < 0)
        limit = text.size();
    const qsizetype lastQuote = limit > begin ? text.lastIndexOf(QLatin1Char('"'), limit - 1) : -1;
    if (lastQuote < begin)
        return TextRange{};
    return TextRange{begin, lastQuote - begin};
}

QString TGBackpackAPI::escapeXMLCharacters(const QString &text)
{
    static const QLatin1String entities[] = {QLatin1String("&amp;"), QLatin1String("&lt;"), QLatin1String("&gt;"),
                                             QLatin1String("&apos;"), QLatin1String("&quot;")};
    QString s;
    s.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            bool isEntity = false;
            for (const QLatin1String &e : entities)
                isEntity = isEntity || QStringView(text).mid(i).startsWith(e);
            s += isEntity ? QStringLiteral("&") : QStringLiteral("&amp;");
        } else {
            s += text[i];
        }
    }
    s.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    s.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    s.replace(QLatin1Char('\''), QLatin1String("&apos;"));
    s.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    return s;
}

// ---------------------------------------------------------------------------
// Errors

Error TGBackpackAPI::createLoginError()
{
    return Error(kTGBackpackErrorDomain, TGBackpackLoginError, localizedString("Leafhaul cannot login to Backpack."),
                 {},
                 localizedString("Make sure your Backpack site name and API key are correct in Leafhaul's "
                                 "account editor (Edit Accounts). Also make sure you can access Backpack "
                                 "normally via a web browser."));
}

Error TGBackpackAPI::createFutureDateError()
{
    return Error(kTGBackpackErrorDomain, TGBackpackFutureDateError,
                 localizedString("Stowbird cannot upload a reminder to Backpack."), {},
                 localizedString("This is because the reminder's date is in the past and Backpack won't "
                                 "accept it."));
}

Error TGBackpackAPI::createError(xmlNodePtr errorElement)
{
    Error e;
    if (!errorElement) {
        // A failed answer without its error element.
        e = Error(kTGBackpackErrorDomain, 0, localizedString("Backpack could not carry out the request."));
    } else {
        const long code = intValue(xml::attribute(errorElement, "code").value_or(QString()));
        if (code == 403)
            e = createLoginError();
        else
            e = Error(kTGBackpackErrorDomain, code, xml::textContent(errorElement));
    }
    m_error = e;
    return e;
}

Error TGBackpackAPI::createErrorFromResponse(const Response &response, const QByteArray &data)
{
    const long status = response.status;
    Q_ASSERT_X(status != 200, "createErrorFromResponse", "createErrorFromResponse called with OK status code");
    QString description = localizedString("Backpack returned error code %d.");
    description.replace(QLatin1String("%d"), QString::number(status));
    QString reason;
    Error e;
    if (status == 500 && data == "Please specify a date in the future.") {
        e = createFutureDateError();
    } else {
        if (status == 500) {
            reason = localizedString("Internal Server Error");
            description = localizedString("Backpack returned the following error:\n");
        } else if (status == 405) {
            reason = localizedString("Resource Not Allowed.");
        } else if (status == 404) {
            reason = QStringLiteral("%1 %2").arg(response.url.toString(), localizedString("was not found"));
        } else {
            reason = QString::fromUtf8(response.header("Status"));
        }
        e = Error(kTGBackpackErrorDomain, status, description, reason);
        if (!data.isEmpty())
            e.userInfo.insert(QStringLiteral("data"), data);
        if (const QString words = serviceWords(data); status == 500 && !words.isEmpty())
            e.userInfo.insert(kErrorServiceTextKey, words);
    }
    m_error = e;
    return e;
}

// ---------------------------------------------------------------------------
// Delegate forwarders

void TGBackpackAPI::logRequest(const Request &request)
{
    if (m_delegate)
        m_delegate->backpack(this, request);
}

void TGBackpackAPI::logReceivedData(const QByteArray &data)
{
    if (m_delegate)
        m_delegate->backpack(this, data);
}

void TGBackpackAPI::logError(const Error &error)
{
    if (m_delegate)
        m_delegate->backpack(this, error);
}

void TGBackpackAPI::logMessage(const QString &message)
{
    if (m_delegate)
        m_delegate->backpack(this, message);
}

void TGBackpackAPI::logCookies(const QUrl &url)
{
    for (const SyncHttp::Cookie &cookie : SyncHttp::cookiesForUrl(url)) {
        QStringList properties;
        const QVariantMap map = cookie.properties();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            properties << it.key() + QLatin1String(" = ") + it.value().toString();
        systemLog(QStringLiteral("cookie: %1, {%2}").arg(cookie.name, properties.join(QLatin1String("; "))));
    }
}

// ---------------------------------------------------------------------------
// Transport

std::optional<XmlDocument> TGBackpackAPI::request(const QString &path, const QString &extraBody, const QString &method)
{
    int retries = 0;
    for (;;) {
        m_error.reset();
        const Request req = URLRequestForPath(path, extraBody, method);
        if (req.url.isEmpty()) {
            m_error = badSitenameError(sitename());
            return std::nullopt;
        }
        if (m_cancel) {
            m_error = cancelledError(req.url);
            return std::nullopt;
        }
        logRequest(req);
        OptionalError transportFailure;
        const std::optional<Response> response = SyncHttp::send(req, &transportFailure);
        if (!response) {
            m_error = transportFailure;
            if (m_error->is(SyncHttp::kURLErrorDomain, SyncHttp::URLErrorTimedOut) && retries < m_policy.maxRetries) {
                TGQuietLog("Received timeout for %@. Waiting and retrying", req.url);
                ++retries;
                if (!waitBeforeRetry(1)) {
                    m_error = cancelledError(req.url);
                    return std::nullopt;
                }
                continue;
            }
            return std::nullopt;
        }

        const long status = response->status;
        if (status != 200 && status != 201 && status != 204) {
            if (status == 503 && response->hasHeader("Retry-After") && retries < m_policy.maxRetries) {
                const QString text = QString::fromUtf8(response->header("Retry-After"));
                TGQuietLog("Received Retry-After. Waiting %@ seconds and then retrying", text);
                ++retries;
                // A value that is no number (an HTTP date, say) still waits a
                // second rather than hammering the service.
                const int seconds = int(leadingInteger(text).value_or(1));
                if (!waitBeforeRetry(seconds)) {
                    m_error = cancelledError(req.url);
                    return std::nullopt;
                }
                continue;
            }
            createErrorFromResponse(*response, response->body);
            return std::nullopt;
        }
        return documentFromResponse(req, *response);
    }
}

std::optional<XmlDocument> TGBackpackAPI::documentFromResponse(const Request &req, const Response &response)
{
    if (isLoginPage(response)) {
        m_error = createLoginError();
        return std::nullopt;
    }
    const QByteArray &body = response.body;
    if (!body.isEmpty())
        logReceivedData(body);
    std::optional<QString> text = decodeUtf8(body);

    if (wasUpdate(req) && response.status == 200) {
        if (text && text->size() == 1)
            return XmlDocument::parse(kSuccessDocument, &m_error);
        text = QString(QLatin1String(""));
    }
    if (wasDelete(req)) {
        if (response.status == 204 && (!text || text->isEmpty()))
            return XmlDocument::parse(kSuccessDocument, &m_error);
        if (response.status == 204 || response.status == 200)
            text = QString(QLatin1String(""));
    }
    if (!text) {
        logMessage(QStringLiteral("Unable to decode Backpack response with UTF-8. Trying Ascii..."));
        text = decodeAscii(body);
        if (!text) {
            const QString message = QStringLiteral(
                "Unable to decode Backpack API response with UTF-8 or ASCII encoding");
            logMessage(message);
            m_error = unreadableAnswerError(req.url, message);
            return std::nullopt;
        }
    }

    std::optional<XmlDocument> document = XmlDocument::parse(replaceForbiddenXMLCharacters(cleanupXML(*text)).toUtf8(),
                                                             &m_error);
    if (!document) {
        if (m_error && m_error->is(kXMLParserErrorDomain, XmlDocument::kDocumentTypeRefused))
            m_error = unreadableAnswerError(req.url, m_error->localizedDescription);
        return std::nullopt;
    }
    xmlNodePtr root = document->root();
    if (xml::name(root) == QLatin1String("response")
        && xml::attribute(root, "success").value_or(QString()) != QLatin1String("true")) {
        createError(xml::firstElementChild(root));
        return std::nullopt;
    }
    return document;
}

// ---------------------------------------------------------------------------
// Reads

std::optional<QList<std::shared_ptr<TGBackpackPage>>> TGBackpackAPI::pages()
{
    const std::optional<XmlDocument> document = request(QStringLiteral("ws/pages/all"));
    if (!document)
        return std::nullopt;
    const auto nodes = document->nodes(QStringLiteral(".//pages/page"), nullptr, &m_error);
    if (!nodes)
        return std::nullopt;
    QList<std::shared_ptr<TGBackpackPage>> result;
    for (xmlNodePtr node : *nodes)
        result.append(std::make_shared<TGBackpackPage>(xml::attribute(node, "id").value_or(QString()),
                                                       xml::attribute(node, "title").value_or(QString()),
                                                       xml::attribute(node, "scope").value_or(QString())));
    return result;
}

std::optional<XmlDocument> TGBackpackAPI::page(const QString &pageID)
{
    return request(QStringLiteral("ws/page/") + pathSegment(pageID));
}

std::optional<XmlDocument> TGBackpackAPI::listsForPage(const QString &pageID)
{
    return request(QStringLiteral("ws/page/%1/lists/list").arg(pathSegment(pageID)));
}

std::optional<XmlDocument> TGBackpackAPI::itemsForPage(const QString &pageID, const QString &listID)
{
    return request(QStringLiteral("ws/page/%1/lists/%2/items/list").arg(pathSegment(pageID), pathSegment(listID)));
}

std::optional<XmlDocument> TGBackpackAPI::reminders()
{
    return request(pathSegment(token()) + QStringLiteral("/reminders.xml"), {}, QStringLiteral("GET"));
}

std::optional<std::pair<XmlDocument, xmlNodePtr>>
TGBackpackAPI::itemWithID(const QString &itemID, const QString &listID, const QString &pageID)
{
    std::optional<XmlDocument> document = itemsForPage(pageID, listID);
    if (!document)
        return std::nullopt;
    // Compared in code: an id is never pasted into the query.
    const auto nodes = document->nodes(QStringLiteral(".//items/item"), nullptr, &m_error);
    if (!nodes)
        return std::nullopt;
    for (xmlNodePtr node : *nodes)
        if (xml::attribute(node, "id") == itemID)
            return std::make_pair(*document, node);
    return std::nullopt;
}

bool TGBackpackAPI::isAvailable()
{
    pages();
    return !(m_error && m_error->code == SyncHttp::URLErrorNotConnectedToInternet);
}

// ---------------------------------------------------------------------------
// Addresses

QUrl TGBackpackAPI::accountURL() const
{
    const QString site = sitename();
    if (!BackpackSettings::isValidSitename(site))
        return {};
    return QUrl(QLatin1String("https://") + site + QLatin1Char('.') + BackpackSettings::serviceDomain(),
                QUrl::StrictMode);
}

QUrl TGBackpackAPI::URLForPage(const QString &pageID) const
{
    const QUrl account = accountURL();
    if (account.isEmpty())
        return {};
    return QUrl(account.toString(QUrl::FullyEncoded) + QLatin1String("/pages/") + pathSegment(pageID),
                QUrl::StrictMode);
}

// ---------------------------------------------------------------------------
// Writes

bool TGBackpackAPI::recordNotFound()
{
    if (m_error && m_error->code == 404) {
        m_error.reset();
        return true;
    }
    return false;
}

QString TGBackpackAPI::bodyAdjustedForBackpack(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("&nbsp;") : text;
}

bool TGBackpackAPI::writeSucceeded(const std::optional<XmlDocument> &document)
{
    if (document && !m_error)
        return true;
    return recordNotFound();
}

bool TGBackpackAPI::setCompleted(bool completed, const QString &itemID, const QString &listID, const QString &pageID)
{
    const auto item = itemWithID(itemID, listID, pageID);
    if (!item) {
        if (m_error)
            return recordNotFound(); // the list could not be read
        return true; // the list was read and the item is gone
    }
    const bool isCompleted = xml::attribute(item->second, "completed") == QStringLiteral("true");
    if (isCompleted == completed)
        return true;
    return writeSucceeded(request(QStringLiteral("ws/page/%1/lists/%2/items/toggle/%3")
                                      .arg(pathSegment(pageID), pathSegment(listID), pathSegment(itemID))));
}

bool TGBackpackAPI::setText(const QString &text, const QString &itemID, const QString &listID, const QString &pageID)
{
    return writeSucceeded(request(QStringLiteral("ws/page/%1/lists/%2/items/update/%3")
                                      .arg(pathSegment(pageID), pathSegment(listID), pathSegment(itemID)),
                                  QLatin1String("<item><content>") + cdata(text) + QLatin1String("</content></item>")));
}

bool TGBackpackAPI::updateList(const QString &listID, const QString &name, const QString &pageID)
{
    return writeSucceeded(
        request(QStringLiteral("ws/page/%1/lists/update/%2").arg(pathSegment(pageID), pathSegment(listID)),
                QLatin1String("<list><name>") + escapeXMLCharacters(name) + QLatin1String("</name></list>")));
}

bool TGBackpackAPI::addItemWithText(const QString &text, bool completed, const QString &pageID, const QString &listID,
                                    QString *newItemID)
{
    if (newItemID)
        *newItemID = QString();
    const QString body = QLatin1String("<item><completed>") + QLatin1String(completed ? "true" : "false")
                         + QLatin1String("</completed><content>")
                         + (text.isEmpty() ? QStringLiteral("&nbsp;") : cdata(text))
                         + QLatin1String("</content></item>");
    const std::optional<XmlDocument> document = request(
        QStringLiteral("ws/page/%1/lists/%2/items/add").arg(pathSegment(pageID), pathSegment(listID)), body);
    if (document && !m_error) {
        const std::optional<QString> id = xml::attribute(xml::firstElementChild(document->root()), "id");
        if (!id) {
            m_error = unreadableAnswerError(accountURL(), localizedString("The answer names no new item."));
            return false;
        }
        if (newItemID)
            *newItemID = *id;
        return true;
    }
    return recordNotFound();
}

bool TGBackpackAPI::deleteItem(const QString &itemID, const QString &pageID, const QString &listID)
{
    return writeSucceeded(request(QStringLiteral("ws/page/%1/lists/%2/items/destroy/%3")
                                      .arg(pathSegment(pageID), pathSegment(listID), pathSegment(itemID))));
}

bool TGBackpackAPI::deleteList(const QString &listID, const QString &pageID)
{
    return writeSucceeded(
        request(QStringLiteral("ws/page/%1/lists/destroy/%2").arg(pathSegment(pageID), pathSegment(listID))));
}

bool TGBackpackAPI::deleteNote(const QString &noteID, const QString &pageID)
{
    return writeSucceeded(
        request(QStringLiteral("ws/page/%1/notes/destroy/%2").arg(pathSegment(pageID), pathSegment(noteID))));
}

bool TGBackpackAPI::setTitle(const QString &title, const QString &noteID, const QString &pageID)
{
    return writeSucceeded(
        request(QStringLiteral("ws/page/%1/notes/update/%2").arg(pathSegment(pageID), pathSegment(noteID)),
                QLatin1String("<note><title>") + escapeXMLCharacters(title) + QLatin1String("</title></note>")));
}

bool TGBackpackAPI::setText(const QString &text, const QString &noteID, const QString &pageID)
{
    return writeSucceeded(request(
        QStringLiteral("ws/page/%1/notes/update/%2").arg(pathSegment(pageID), pathSegment(noteID)),
        QLatin1String("<note><body>") + cdata(bodyAdjustedForBackpack(text)) + QLatin1String("</body></note>")));
}

bool TGBackpackAPI::setTitle(const QString &title, const QString &pageID)
{
    return writeSucceeded(
        request(QStringLiteral("ws/page/%1/update_title").arg(pathSegment(pageID)),
                QLatin1String("<page><title>") + escapeXMLCharacters(title) + QLatin1String("</title></page>")));
}

bool TGBackpackAPI::setTags(const QString &tags, const QString &pageID)
{
    return writeSucceeded(request(QStringLiteral("ws/page/%1/tags/tag").arg(pathSegment(pageID)),
                                  QLatin1String("<tags>") + escapeXMLCharacters(tags) + QLatin1String("</tags>")));
}

bool TGBackpackAPI::deleteEmail(const QString &emailID, const QString &pageID)
{
    return writeSucceeded(
        request(QStringLiteral("ws/page/%1/emails/destroy/%2").arg(pathSegment(pageID), pathSegment(emailID))));
}

bool TGBackpackAPI::deletePage(const QString &pageID)
{
    return writeSucceeded(request(QStringLiteral("ws/page/%1/destroy").arg(pathSegment(pageID))));
}

bool TGBackpackAPI::deleteReminder(const QString &reminderID)
{
    const bool ok = writeSucceeded(
        request(QStringLiteral("%1/reminders/%2.xml").arg(pathSegment(token()), pathSegment(reminderID)), {},
                QStringLiteral("DELETE")));
    return ok || (m_error && m_error->code == 500);
}

bool TGBackpackAPI::setTextForSeparator(const QString &text, const QString &separatorID, const QString &pageID)
{
    return writeSucceeded(
        request(QStringLiteral("pages/%1/separators/%2.xml").arg(pathSegment(pageID), pathSegment(separatorID)),
                QLatin1String("<separator><name>") + escapeXMLCharacters(text) + QLatin1String("</name></separator>"),
                QStringLiteral("PUT")));
}

bool TGBackpackAPI::deleteSeparator(const QString &separatorID, const QString &pageID)
{
    return writeSucceeded(
        request(QStringLiteral("pages/%1/separators/%2.xml").arg(pathSegment(pageID), pathSegment(separatorID)), {},
                QStringLiteral("DELETE")));
}

bool TGBackpackAPI::login()
{
    request(kSessionCreate, QLatin1String("username=") + formEncoded(username()) + QLatin1String("&password=")
                                + formEncoded(password()));
    return !m_error;
}
