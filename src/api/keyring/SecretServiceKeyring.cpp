// GLib headers first: they name a struct member "signals", a keyword to Qt.
#include <libsecret/secret.h>

#include "api/keyring/SecretServiceKeyring.h"

#include "api/keyring/CancelTimer.h"
#include "api/keyring/ErrorStatus.h"
#include "api/keyring/KeyringStatus.h"
#include "api/keyring/UnlockPrompt.h"

#include <memory>

namespace kernwell {

namespace {

const SecretSchema schema = {
    .name = KERNWELL_BUNDLE_IDENTIFIER ".Token",
    // Match on the attributes alone, so that items stored by other tools
    // (secret-tool, which sets no schema) are found as well.
    .flags = SECRET_SCHEMA_DONT_MATCH_NAME,
    .attributes = { { "service", SECRET_SCHEMA_ATTRIBUTE_STRING }, { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING } },
    .reserved = 0,
    .reserved1 = nullptr,
    .reserved2 = nullptr,
    .reserved3 = nullptr,
    .reserved4 = nullptr,
    .reserved5 = nullptr,
    .reserved6 = nullptr,
    .reserved7 = nullptr,
};

template<typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* pointer) const { Free(pointer); }
};
void unrefObject(void* object) { g_object_unref(object); }
void freeItems(GList* items) { g_list_free_full(items, g_object_unref); }
using ErrorPtr = std::unique_ptr<GError, Deleter<GError, g_error_free>>;
using HashPtr = std::unique_ptr<GHashTable, Deleter<GHashTable, g_hash_table_unref>>;
using ItemsPtr = std::unique_ptr<GList, Deleter<GList, freeItems>>;
using ValuePtr = std::unique_ptr<SecretValue, Deleter<void, secret_value_unref>>;
using ServicePtr = std::unique_ptr<SecretService, Deleter<void, unrefObject>>;
using CancellablePtr = std::unique_ptr<GCancellable, Deleter<void, unrefObject>>;
using CollectionPtr = std::unique_ptr<SecretCollection, Deleter<void, unrefObject>>;

HashPtr attributes(const QString& service, const QString* account)
{
    HashPtr table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    g_hash_table_insert(table.get(), g_strdup("service"), g_strdup(service.toUtf8().constData()));
    if (account) {
        g_hash_table_insert(table.get(), g_strdup("account"), g_strdup(account->toUtf8().constData()));
    }
    return table;
}

ValuePtr secretValue(const QByteArray& data)
{
    return ValuePtr(secret_value_new(data.constData(), data.size(), "text/plain"));
}

// One operation: a connection to the Secret Service of its own, and a
// cancellable that the time limit cancels.
class Session {
public:
    explicit Session(std::chrono::milliseconds limit)
        : m_limit(limit)
    {
        restartLimit();
        GError* error = nullptr;
        m_service.reset(secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, cancellable(), &error));
        m_status = m_service ? KeyringStatus::success : keyringStatusOf(ErrorPtr(error).get());
    }

    int status() const { return m_status; }
    SecretService* service() const { return m_service.get(); }
    GCancellable* cancellable() const { return m_cancellable.get(); }

    // Items of (service[, account]), locked ones included; status itemNotFound
    // when there are none.
    std::pair<int, ItemsPtr> search(const QString& service, const QString* account, int flags) const
    {
        GError* error = nullptr;
        ItemsPtr items(secret_service_search_sync(m_service.get(), &schema, attributes(service, account).get(),
            static_cast<SecretSearchFlags>(flags), cancellable(), &error));
        if (error) {
            return { keyringStatusOf(ErrorPtr(error).get()), nullptr };
        }
        return { items ? KeyringStatus::success : KeyringStatus::itemNotFound, std::move(items) };
    }

    // Unlocks the locked ones of `items`; the desktop may prompt for the
    // keyring's password. The prompt gets `promptLimit` to be answered, and
    // the steps after it get a time limit of their own again. Status locked
    // when the keyring stays locked (the prompt was cancelled or is still unanswered).
    int unlock(GList* items, std::chrono::milliseconds promptLimit)
    {
        std::vector<QByteArray> locked;
        for (GList* node = items; node; node = node->next) {
            if (secret_item_get_locked(static_cast<SecretItem*>(node->data))) {
                locked.emplace_back(g_dbus_proxy_get_object_path(G_DBUS_PROXY(node->data)));
            }
        }
        return unlockPaths(locked, promptLimit);
    }

    // Unlocks the collection that new items go to, before a store: libsecret
    // would prompt inside the store, under the store's short limit.
    int unlockDefaultCollection(std::chrono::milliseconds promptLimit)
    {
        GError* error = nullptr;
        const CollectionPtr collection(secret_collection_for_alias_sync(
            m_service.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable(), &error));
        if (error) {
            return keyringStatusOf(ErrorPtr(error).get());
        }
        // No default collection: nothing to unlock first.
        if (!collection || !secret_collection_get_locked(collection.get())) {
            return KeyringStatus::success;
        }
        return unlockPaths({ QByteArray(g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection.get()))) }, promptLimit);
    }

private:
    int unlockPaths(const std::vector<QByteArray>& paths, std::chrono::milliseconds promptLimit)
    {
        if (paths.empty()) {
            return KeyringStatus::success;
        }
        auto* proxy = G_DBUS_PROXY(m_service.get());
        const std::unique_ptr<gchar, Deleter<void, g_free>> owner(g_dbus_proxy_get_name_owner(proxy));
        if (!owner) {
            return KeyringStatus::notAvailable;
        }
        const int status = UnlockPrompt(g_dbus_proxy_get_connection(proxy), owner.get(), m_limit, promptLimit).unlock(paths);
        restartLimit();
        return status;
    }

    void restartLimit()
    {
        m_timer.reset();
        m_cancellable.reset(g_cancellable_new());
        m_timer = std::make_unique<CancelTimer>(m_cancellable.get(), m_limit);
    }

    std::chrono::milliseconds m_limit;
    CancellablePtr m_cancellable;
    std::unique_ptr<CancelTimer> m_timer; // declared after the cancellable it cancels: destroyed first
    ServicePtr m_service;
    int m_status = KeyringStatus::unexpected;
};

SecretItem* itemAt(GList* node) { return static_cast<SecretItem*>(node->data); }

} // namespace

SecretServiceKeyring::SecretServiceKeyring(std::chrono::milliseconds limit, std::chrono::milliseconds promptLimit)
    : m_limit(limit)
    , m_promptLimit(promptLimit)
{
}

Keyring::Found SecretServiceKeyring::findOne(const QString& service)
{
    Session session(m_limit);
    if (session.status() != KeyringStatus::success) {
        return { session.status(), std::nullopt };
    }
    // Without SECRET_SEARCH_ALL the search yields one item at most.
    const auto [status, items] = session.search(service, nullptr, SECRET_SEARCH_NONE);
    if (status != KeyringStatus::success) {
        return { status, std::nullopt };
    }
    if (const int unlocked = session.unlock(items.get(), m_promptLimit); unlocked != KeyringStatus::success) {
        return { unlocked, std::nullopt };
    }
    SecretItem* item = itemAt(items.get());
    GError* error = nullptr;
    if (!secret_item_load_secret_sync(item, session.cancellable(), &error)) {
        return { error ? keyringStatusOf(ErrorPtr(error).get()) : KeyringStatus::locked, std::nullopt };
    }
    Item found;
    const HashPtr itemAttributes(secret_item_get_attributes(item));
    if (const auto* account = static_cast<const char*>(g_hash_table_lookup(itemAttributes.get(), "account"))) {
        found.account = QString::fromUtf8(account);
    }
    if (const ValuePtr value { secret_item_get_secret(item) }) {
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.get(), &length);
        found.data = QByteArray(bytes, static_cast<qsizetype>(length));
    }
    return { KeyringStatus::success, found };
}

int SecretServiceKeyring::add(const QString& service, const QString& account, const QByteArray& data)
{
    Session session(m_limit);
    if (session.status() != KeyringStatus::success) {
        return session.status();
    }
    // The Secret Service would silently replace an item with the same
    // attributes: look first, so that a duplicate is told apart.
    const auto [status, items] = session.search(service, &account, SECRET_SEARCH_NONE);
    if (status == KeyringStatus::success) {
        return KeyringStatus::duplicateItem;
    }
    if (status != KeyringStatus::itemNotFound) {
        return status;
    }
    if (const int unlocked = session.unlockDefaultCollection(m_promptLimit); unlocked != KeyringStatus::success) {
        return unlocked;
    }
    GError* error = nullptr;
    const QByteArray label = service.toUtf8();
    if (!secret_service_store_sync(session.service(), &schema, attributes(service, &account).get(), SECRET_COLLECTION_DEFAULT,
            label.constData(), secretValue(data).get(), session.cancellable(), &error)) {
        return keyringStatusOf(ErrorPtr(error).get());
    }
    return KeyringStatus::success;
}

int SecretServiceKeyring::update(const QString& service, const QString& account, const QByteArray& data)
{
    Session session(m_limit);
    if (session.status() != KeyringStatus::success) {
        return session.status();
    }
    const auto [status, items] = session.search(service, &account, SECRET_SEARCH_ALL);
    if (status != KeyringStatus::success) {
        return status;
    }
    if (const int unlocked = session.unlock(items.get(), m_promptLimit); unlocked != KeyringStatus::success) {
        return unlocked;
    }
    const ValuePtr value = secretValue(data);
    for (GList* node = items.get(); node; node = node->next) {
        GError* error = nullptr;
        if (!secret_item_set_secret_sync(itemAt(node), value.get(), session.cancellable(), &error)) {
            return keyringStatusOf(ErrorPtr(error).get());
        }
    }
    return KeyringStatus::success;
}

int SecretServiceKeyring::remove(const QString& service, const QString& account)
{
    Session session(m_limit);
    if (session.status() != KeyringStatus::success) {
        return session.status();
    }
    // The items of a locked keyring are found but cannot be deleted: unlock
    // them first, so that a locked keyring is told as such, not as "not found".
    const auto [status, items] = session.search(service, &account, SECRET_SEARCH_ALL);
    if (status != KeyringStatus::success) {
        return status;
    }
    if (const int unlocked = session.unlock(items.get(), m_promptLimit); unlocked != KeyringStatus::success) {
        return unlocked;
    }
    for (GList* node = items.get(); node; node = node->next) {
        GError* error = nullptr;
        if (!secret_item_delete_sync(itemAt(node), session.cancellable(), &error)) {
            return keyringStatusOf(ErrorPtr(error).get());
        }
    }
    return KeyringStatus::success;
}

} // namespace kernwell
