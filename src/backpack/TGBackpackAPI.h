#pragma once

#include "backpack/XmlDocument.h"
#include "foundation/Error.h"
#include "foundation/SyncHttp.h"
#include "foundation/TGFoundation.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class TGBackpackAPI;
class TGBackpackPage;

inline const QString kTGBackpackErrorDomain = QStringLiteral("TGBackpackErrorDomain");
enum TGBackpackErrorCode : long {
    TGBackpackLoginError = 1,
    TGBackpackFutureDateError = 3,
};

// Optional observer of a client; every method has an empty default.
class TGBackpackAPIDelegate
{
public:
    virtual ~TGBackpackAPIDelegate() = default;
    virtual void backpack(TGBackpackAPI *api, const SyncHttp::Request &willSendRequest);
    virtual void backpack(TGBackpackAPI *api, const QByteArray &didReceiveData);
    virtual void backpack(TGBackpackAPI *api, const Error &didReceiveError);
    virtual void backpack(TGBackpackAPI *api, const QString &message);
};

// Client of one Backpack account's XML web API. Every call is synchronous
// (retries and their waits included), so it is made from worker threads; one
// call at a time per client. A call clears `error()` when it starts and leaves
// the error of the step that failed; whenever a call returns nothing or NO,
// `error()` holds the reason (except the write calls' "record not found",
// which counts as success).
class TGBackpackAPI
{
public:
    TGBackpackAPI(const QString &sitename, const QString &token, const QString &username, const QString &password);

    QString sitename() const;
    void setSitename(const QString &value);
    QString token() const;
    void setToken(const QString &value);
    QString username() const;
    void setUsername(const QString &value);
    QString password() const;
    void setPassword(const QString &value);
    TGBackpackAPIDelegate *delegate() const { return m_delegate; }
    void setDelegate(TGBackpackAPIDelegate *delegate) { m_delegate = delegate; }

    const OptionalError &error() const { return m_error; }

    // Limits of the retries after a time-out or a 503 with Retry-After.
    struct RetryPolicy
    {
        int maxRetries = 3;
        int maxWaitSeconds = 60;
        int requestTimeoutSeconds = 60;
        // The speed floor's span (SyncHttp::Request::lowSpeedSeconds).
        int requestLowSpeedSeconds = 60;
        // Waits the given seconds; answers false when the wait was cut short
        // by cancel(). The default sleeps on a condition variable.
        std::function<bool(int seconds)> sleeper;
    };
    void setRetryPolicy(RetryPolicy policy) { m_policy = std::move(policy); }
    const RetryPolicy &retryPolicy() const { return m_policy; }

    // Ends the call in progress and every later call of this client (from
    // any thread): requests and waits stop, and calls fail with the
    // URL-loading "cancelled" error.
    void cancel();
    bool isCancelled() const { return m_cancel.load(); }

    // ---- transport ----
    std::optional<XmlDocument> request(const QString &path, const QString &extraBody = {}, const QString &method = {});
    SyncHttp::Request URLRequestForPath(const QString &path, const QString &extraBody, const QString &method) const;
    bool needsBodyForPath(const QString &path, const QString &method) const;
    void setupCookiesForRequest(SyncHttp::Request &request) const;
    static bool isLoginPage(const SyncHttp::Response &response);
    static bool wasUpdate(const SyncHttp::Request &request);
    static bool wasDelete(const SyncHttp::Request &request);
    static QString cleanupXML(const QString &text);
    // The text with every character XML 1.0 forbids, raw or as a character
    // reference, turned into U+FFFD; CDATA sections and comments keep their
    // references as text.
    static QString replaceForbiddenXMLCharacters(const QString &text);
    static int cleanupXMLAttrInString(QString &text, TextRange range);
    static QString escapeXMLCharacters(const QString &text);
    static TextRange rangeOfAttributeValueFromString(const QString &text, qsizetype start);

    // ---- error builders (the last three also store into error()) ----
    static Error createLoginError();
    static Error createFutureDateError();
    Error createError(xmlNodePtr errorElement);
    Error createErrorFromResponse(const SyncHttp::Response &response, const QByteArray &data);

    // ---- delegate forwarders and diagnostics ----
    void logRequest(const SyncHttp::Request &request);
    void logReceivedData(const QByteArray &data);
    void logError(const Error &error);
    void logMessage(const QString &message);
    static void logCookies(const QUrl &url);

    // ---- reads ----
    std::optional<QList<std::shared_ptr<TGBackpackPage>>> pages();
    std::optional<XmlDocument> page(const QString &pageID);
    std::optional<XmlDocument> listsForPage(const QString &pageID);
    std::optional<XmlDocument> itemsForPage(const QString &pageID, const QString &listID);
    std::optional<XmlDocument> reminders();
    // The item element (valid while the returned document lives).
    std::optional<std::pair<XmlDocument, xmlNodePtr>> itemWithID(const QString &itemID, const QString &listID,
                                                                 const QString &pageID);
    bool isAvailable();

    // ---- addresses (no request) ----
    QUrl accountURL() const;
    QUrl URLForPage(const QString &pageID) const;

    // ---- writes ----
    bool setCompleted(bool completed, const QString &itemID, const QString &listID, const QString &pageID);
    bool setText(const QString &text, const QString &itemID, const QString &listID, const QString &pageID);
    bool updateList(const QString &listID, const QString &name, const QString &pageID);
    bool addItemWithText(const QString &text, bool completed, const QString &pageID, const QString &listID,
                         QString *newItemID);
    bool deleteItem(const QString &itemID, const QString &pageID, const QString &listID);
    bool deleteList(const QString &listID, const QString &pageID);
    bool deleteNote(const QString &noteID, const QString &pageID);
    bool setTitle(const QString &title, const QString &noteID, const QString &pageID);
    bool setText(const QString &text, const QString &noteID, const QString &pageID); // note body
    bool setTitle(const QString &title, const QString &pageID);
    bool setTags(const QString &tags, const QString &pageID);
    bool deleteEmail(const QString &emailID, const QString &pageID);
    bool deletePage(const QString &pageID);
    bool deleteReminder(const QString &reminderID);
    // Named apart from the note's setText, which takes the same arguments.
    bool setTextForSeparator(const QString &text, const QString &separatorID, const QString &pageID);
    bool deleteSeparator(const QString &separatorID, const QString &pageID);
    bool login();

    bool recordNotFound();
    static QString bodyAdjustedForBackpack(const QString &text);

    // Request-body pieces: a CDATA section that survives "]]>" in the text,
    // and a text escaped for element content.
    static QString cdata(const QString &text);
    static QString xmlEscaped(const QString &text);
    // A value form-encoded for an application/x-www-form-urlencoded body.
    static QString formEncoded(const QString &value);
    // An identifier as one percent-encoded path segment.
    static QString pathSegment(const QString &id);

private:
    bool writeSucceeded(const std::optional<XmlDocument> &document);
    bool waitBeforeRetry(int seconds);
    std::optional<XmlDocument> documentFromResponse(const SyncHttp::Request &request,
                                                    const SyncHttp::Response &response);

    mutable std::mutex m_mutex; // the four string properties
    QString m_sitename, m_token, m_username, m_password;
    TGBackpackAPIDelegate *m_delegate = nullptr;
    OptionalError m_error;
    RetryPolicy m_policy;

    std::mutex m_cancelMutex;
    std::condition_variable m_cancelled;
    std::atomic<bool> m_cancel{false};
};
