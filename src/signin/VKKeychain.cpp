// libsecret before Qt: GLib's headers use names that Qt defines as macros.
#include <libsecret/secret.h>

#include "signin/VKKeychain.h"

#include <QDateTime>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// A missing or stuck service (a bus that never answers, a prompt that cannot
// be shown) must not hold the caller for long.
constexpr std::chrono::seconds kCallDeadline{15};

const SecretSchema *itemSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s;
        std::memset(&s, 0, sizeof s);
        s.name = "com.tallgrove.leafhaul.GenericPassword";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

// A cancellable that fires by itself once the deadline has passed.
class Deadline
{
public:
    Deadline() : m_cancellable(g_cancellable_new())
    {
        m_watch = std::thread([this] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, kCallDeadline, [this] { return m_finished; }))
                g_cancellable_cancel(m_cancellable);
        });
    }
    ~Deadline()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_watch.join();
        g_object_unref(m_cancellable);
    }
    Deadline(const Deadline &) = delete;
    Deadline &operator=(const Deadline &) = delete;

    GCancellable *cancellable() const { return m_cancellable; }

private:
    GCancellable *m_cancellable;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_watch;
};

// Attribute table for libsecret; keeps the UTF-8 copies alive with it.
class Attributes
{
public:
    Attributes(const QString &service, const QString &account)
        : m_service(service.toUtf8()), m_account(account.toUtf8()), m_table(g_hash_table_new(g_str_hash, g_str_equal))
    {
        if (!service.isNull())
            g_hash_table_insert(m_table, const_cast<char *>("service"), m_service.data());
        if (!account.isNull())
            g_hash_table_insert(m_table, const_cast<char *>("account"), m_account.data());
    }
    ~Attributes() { g_hash_table_unref(m_table); }
    Attributes(const Attributes &) = delete;
    Attributes &operator=(const Attributes &) = delete;

    GHashTable *table() const { return m_table; }

private:
    QByteArray m_service;
    QByteArray m_account;
    GHashTable *m_table;
};

struct GErrorFree
{
    void operator()(GError *error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

long statusForError(const GError *error)
{
    if (error->domain == SECRET_ERROR) {
        if (error->code == SECRET_ERROR_IS_LOCKED)
            return kVKKeychainStatusLocked;
        if (error->code == SECRET_ERROR_NO_SUCH_OBJECT)
            return kVKKeychainStatusNotAvailable; // no keyring to store into
        return kVKKeychainStatusFailed;
    }
    if (error->domain == G_IO_ERROR || error->domain == G_DBUS_ERROR)
        return kVKKeychainStatusNotAvailable;
    return kVKKeychainStatusFailed;
}

void report(OptionalError *slot, long code, const QString &reason = {})
{
    if (!slot)
        return;
    OptionalError error = VKKeychainQuery::errorWithCode(code);
    if (error && !reason.isEmpty())
        error->localizedFailureReason = reason;
    *slot = error;
}

// Reports a libsecret failure; a cancelled call means the deadline passed.
void reportGError(OptionalError *slot, const GError *error, const Deadline &deadline)
{
    if (g_cancellable_is_cancelled(deadline.cancellable())) {
        report(slot, kVKKeychainStatusNotAvailable, localizedString("The keyring service did not answer in time."));
        return;
    }
    report(slot, statusForError(error), QString::fromUtf8(error->message));
}

// Whether items match that the service keeps locked: libsecret answers
// "nothing found" for those, which would hide why the call failed. The
// service does not match a locked item by schema name, so only service and
// account are asked for here.
bool hasLockedMatch(const Attributes &attributes)
{
    Deadline deadline;
    GError *failure = nullptr;
    SecretService *service = secret_service_get_sync(SECRET_SERVICE_NONE, deadline.cancellable(), &failure);
    GErrorPtr owned(failure);
    if (!service)
        return false;
    GVariantBuilder terms;
    g_variant_builder_init(&terms, G_VARIANT_TYPE("a{ss}"));
    GHashTableIter iter;
    gpointer name, value;
    g_hash_table_iter_init(&iter, attributes.table());
    while (g_hash_table_iter_next(&iter, &name, &value))
        g_variant_builder_add(&terms, "{ss}", static_cast<const char *>(name), static_cast<const char *>(value));
    GError *searchFailure = nullptr;
    GVariant *reply = g_dbus_proxy_call_sync(G_DBUS_PROXY(service), "SearchItems", g_variant_new("(a{ss})", &terms),
                                             G_DBUS_CALL_FLAGS_NONE, -1, deadline.cancellable(), &searchFailure);
    GErrorPtr ownedSearch(searchFailure);
    bool any = false;
    if (reply) {
        GVariant *locked = g_variant_get_child_value(reply, 1);
        any = g_variant_n_children(locked) > 0;
        g_variant_unref(locked);
        g_variant_unref(reply);
    }
    g_object_unref(service);
    return any;
}

// Not found, or locked when that is what hid the item.
long missingStatus(const Attributes &attributes)
{
    return hasLockedMatch(attributes) ? kVKKeychainStatusLocked : kVKKeychainStatusItemNotFound;
}

} // namespace

QString VKKeychainQuery::password() const
{
    if (m_passwordData.isNull())
        return {};
    return m_passwordData.isEmpty() ? QString::fromLatin1("", 0) : QString::fromUtf8(m_passwordData);
}

void VKKeychainQuery::setPassword(const QString &password)
{
    if (password.isNull())
        m_passwordData = QByteArray();
    else
        m_passwordData = password.isEmpty() ? QByteArray("", 0) : password.toUtf8();
}

QVariantMap VKKeychainQuery::query() const
{
    QVariantMap query{{QStringLiteral("class"), QStringLiteral("genp")}};
    if (!m_service.isNull())
        query.insert(QString::fromLatin1(kVKKeychainWhereKey), m_service);
    if (!m_account.isNull())
        query.insert(QString::fromLatin1(kVKKeychainAccountKey), m_account);
    return query;
}

bool VKKeychainQuery::save(OptionalError *error)
{
    if (m_service.isNull() || m_account.isNull() || m_passwordData.isNull()) {
        report(error, kVKKeychainErrorInvalidArguments);
        return false;
    }
    Attributes attributes(m_service, m_account);
    const QByteArray label = (m_label.isNull() ? m_service : m_label).toUtf8();
    SecretValue *value = secret_value_new(m_passwordData.constData(), m_passwordData.size(),
                                          "application/octet-stream");
    Deadline deadline;
    GError *failure = nullptr;
    // Storing replaces an item with equal attributes in the same call.
    const gboolean stored = secret_password_storev_binary_sync(itemSchema(), attributes.table(),
                                                               SECRET_COLLECTION_DEFAULT, label.constData(), value,
                                                               deadline.cancellable(), &failure);
    secret_value_unref(value);
    GErrorPtr owned(failure);
    if (!stored) {
        if (owned)
            reportGError(error, owned.get(), deadline);
        else
            report(error, kVKKeychainStatusFailed);
        return false;
    }
    return true;
}

bool VKKeychainQuery::deleteItem(OptionalError *error)
{
    if (m_service.isNull() || m_account.isNull()) {
        report(error, kVKKeychainErrorInvalidArguments);
        return false;
    }
    Attributes attributes(m_service, m_account);
    Deadline deadline;
    GError *failure = nullptr;
    const gboolean removed = secret_password_clearv_sync(itemSchema(), attributes.table(), deadline.cancellable(),
                                                         &failure);
    GErrorPtr owned(failure);
    if (owned) {
        reportGError(error, owned.get(), deadline);
        return false;
    }
    if (!removed) {
        report(error, missingStatus(attributes));
        return false;
    }
    return true;
}

bool VKKeychainQuery::fetch(OptionalError *error)
{
    if (m_service.isNull() || m_account.isNull()) {
        report(error, kVKKeychainErrorInvalidArguments);
        return false;
    }
    Attributes attributes(m_service, m_account);
    Deadline deadline;
    GError *failure = nullptr;
    SecretValue *value = secret_password_lookupv_binary_sync(itemSchema(), attributes.table(), deadline.cancellable(),
                                                             &failure);
    GErrorPtr owned(failure);
    if (owned) {
        if (value)
            secret_value_unref(value);
        reportGError(error, owned.get(), deadline);
        return false;
    }
    if (!value) {
        report(error, missingStatus(attributes));
        return false;
    }
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    m_passwordData = QByteArray(bytes ? bytes : "", qsizetype(length));
    secret_value_unref(value);
    return true;
}

std::optional<QList<QVariantMap>> VKKeychainQuery::fetchAll(OptionalError *error)
{
    Attributes attributes(m_service, m_account);
    Deadline deadline;
    GError *failure = nullptr;
    GList *found = secret_password_searchv_sync(itemSchema(), attributes.table(), SECRET_SEARCH_ALL,
                                                deadline.cancellable(), &failure);
    GErrorPtr owned(failure);
    if (owned) {
        g_list_free_full(found, g_object_unref);
        reportGError(error, owned.get(), deadline);
        return std::nullopt;
    }
    QList<QVariantMap> items;
    for (GList *node = found; node; node = node->next) {
        auto *item = static_cast<SecretRetrievable *>(node->data);
        GHashTable *itemAttributes = secret_retrievable_get_attributes(item);
        gchar *label = secret_retrievable_get_label(item);
        QVariantMap entry;
        entry.insert(QString::fromLatin1(kVKKeychainWhereKey),
                     QString::fromUtf8(static_cast<const char *>(g_hash_table_lookup(itemAttributes, "service"))));
        entry.insert(QString::fromLatin1(kVKKeychainAccountKey),
                     QString::fromUtf8(static_cast<const char *>(g_hash_table_lookup(itemAttributes, "account"))));
        entry.insert(QString::fromLatin1(kVKKeychainLabelKey), QString::fromUtf8(label));
        entry.insert(QString::fromLatin1(kVKKeychainCreatedAtKey),
                     QDateTime::fromSecsSinceEpoch(qint64(secret_retrievable_get_created(item)), Qt::UTC));
        entry.insert(QString::fromLatin1(kVKKeychainLastModifiedKey),
                     QDateTime::fromSecsSinceEpoch(qint64(secret_retrievable_get_modified(item)), Qt::UTC));
        items.append(entry);
        g_free(label);
        g_hash_table_unref(itemAttributes);
    }
    g_list_free_full(found, g_object_unref);
    if (items.isEmpty()) {
        report(error, missingStatus(attributes));
        return std::nullopt;
    }
    return items;
}

OptionalError VKKeychainQuery::errorWithCode(long code)
{
    if (code == 0)
        return std::nullopt;
    QString description;
    switch (code) {
    case kVKKeychainErrorInvalidArguments: description = localizedString("Some of the arguments were invalid"); break;
    case kVKKeychainStatusItemNotFound:
        description = localizedString("The item could not be found in the keyring.");
        break;
    case kVKKeychainStatusNotAvailable: description = localizedString("The keyring service is not available."); break;
    case kVKKeychainStatusLocked: description = localizedString("The keyring is locked."); break;
    case kVKKeychainStatusFailed:
        description = localizedString("The keyring service could not complete the request.");
        break;
    default: break;
    }
    return Error(QString::fromLatin1(kVKKeychainErrorDomain), code, description);
}

// ---------------------------------------------------------------- VKKeychain

QString VKKeychain::passwordForService(const QString &service, const QString &account, OptionalError *error)
{
    VKKeychainQuery query;
    query.setService(service);
    query.setAccount(account);
    query.fetch(error);
    return query.password();
}

bool VKKeychain::setPassword(const QString &password, const QString &service, const QString &account,
                             OptionalError *error)
{
    VKKeychainQuery query;
    query.setService(service);
    query.setAccount(account);
    query.setPassword(password);
    return query.save(error);
}

bool VKKeychain::deletePasswordForService(const QString &service, const QString &account, OptionalError *error)
{
    VKKeychainQuery query;
    query.setService(service);
    query.setAccount(account);
    return query.deleteItem(error);
}

std::optional<QList<QVariantMap>> VKKeychain::allAccounts()
{
    return accountsForService(QString());
}

std::optional<QList<QVariantMap>> VKKeychain::accountsForService(const QString &service)
{
    VKKeychainQuery query;
    query.setService(service);
    return query.fetchAll();
}
