// GLib headers first: they name a struct member "signals", a keyword to Qt.
#include <gio/gio.h>

#include "api/keyring/UnlockPrompt.h"

#include "api/keyring/ErrorStatus.h"
#include "api/keyring/KeyringStatus.h"

#include <algorithm>
#include <limits>
#include <memory>

namespace kernwell {

namespace {

constexpr auto servicePath = "/org/freedesktop/secrets";
constexpr auto serviceInterface = "org.freedesktop.Secret.Service";
constexpr auto promptInterface = "org.freedesktop.Secret.Prompt";

struct VariantDeleter {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantDeleter>;

int milliseconds(std::chrono::milliseconds duration)
{
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(duration.count(), 1, std::numeric_limits<int>::max()));
}

// What became of the prompt, as this thread's main context saw it.
struct PromptState {
    bool completed = false;
    bool dismissed = false;
    VariantPtr result; // the unlocked objects
    bool serviceLeft = false;
    bool expired = false;
};

void onCompleted(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters, gpointer data)
{
    auto* state = static_cast<PromptState*>(data);
    gboolean dismissed = FALSE;
    GVariant* result = nullptr;
    g_variant_get(parameters, "(bv)", &dismissed, &result);
    state->completed = true;
    state->dismissed = dismissed;
    state->result.reset(result);
}

void onOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters, gpointer data)
{
    const gchar* newOwner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &newOwner);
    if (!newOwner || !*newOwner) {
        static_cast<PromptState*>(data)->serviceLeft = true;
    }
}

gboolean onExpired(gpointer data)
{
    static_cast<PromptState*>(data)->expired = true;
    return G_SOURCE_REMOVE;
}

std::size_t countOf(GVariant* paths)
{
    return paths && g_variant_is_of_type(paths, G_VARIANT_TYPE_OBJECT_PATH_ARRAY) ? g_variant_n_children(paths) : 0;
}

// Runs `context` until the prompt completes, the service leaves or `limit` passes.
void waitForPrompt(GMainContext* context, PromptState& state, std::chrono::milliseconds limit)
{
    state.expired = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>(milliseconds(limit)));
    g_source_set_callback(timer, onExpired, &state, nullptr);
    g_source_attach(timer, context);
    while (!state.completed && !state.serviceLeft && !state.expired) {
        g_main_context_iteration(context, TRUE);
    }
    g_source_destroy(timer);
    g_source_unref(timer);
}

// The signal subscriptions of one prompt, delivered to a main context of
// this thread's own while the object lives.
class PromptSignals {
public:
    PromptSignals(GDBusConnection* connection, const char* service, const char* promptPath, PromptState& state)
        : m_connection(connection)
        , m_context(g_main_context_new())
    {
        g_main_context_push_thread_default(m_context);
        m_completed = g_dbus_connection_signal_subscribe(connection, service, promptInterface, "Completed", promptPath,
            nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onCompleted, &state, nullptr);
        m_ownerChanged = g_dbus_connection_signal_subscribe(connection, "org.freedesktop.DBus", "org.freedesktop.DBus",
            "NameOwnerChanged", "/org/freedesktop/DBus", service, G_DBUS_SIGNAL_FLAGS_NONE, onOwnerChanged, &state, nullptr);
    }
    ~PromptSignals()
    {
        g_dbus_connection_signal_unsubscribe(m_connection, m_completed);
        g_dbus_connection_signal_unsubscribe(m_connection, m_ownerChanged);
        // Deliveries still queued see their subscription gone and do nothing.
        while (g_main_context_iteration(m_context, FALSE)) { }
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }
    PromptSignals(const PromptSignals&) = delete;
    PromptSignals& operator=(const PromptSignals&) = delete;

    GMainContext* context() const { return m_context; }

private:
    GDBusConnection* m_connection;
    GMainContext* m_context;
    guint m_completed = 0;
    guint m_ownerChanged = 0;
};

} // namespace

UnlockPrompt::UnlockPrompt(GDBusConnection* connection, QByteArray service, std::chrono::milliseconds limit,
    std::chrono::milliseconds promptLimit)
    : m_connection(connection)
    , m_service(std::move(service))
    , m_limit(limit)
    , m_promptLimit(promptLimit)
{
}

int UnlockPrompt::unlock(const std::vector<QByteArray>& objectPaths) const
{
    GVariantBuilder paths;
    g_variant_builder_init(&paths, G_VARIANT_TYPE_OBJECT_PATH_ARRAY);
    for (const QByteArray& path : objectPaths) {
        g_variant_builder_add(&paths, "o", path.constData());
    }
    GError* error = nullptr;
    const VariantPtr reply(g_dbus_connection_call_sync(m_connection, m_service.constData(), servicePath, serviceInterface,
        "Unlock", g_variant_new("(ao)", &paths), G_VARIANT_TYPE("(aoo)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        milliseconds(m_limit), nullptr, &error));
    if (!reply) {
        const int status = keyringStatusOf(error);
        g_error_free(error);
        return status;
    }
    const VariantPtr unlocked(g_variant_get_child_value(reply.get(), 0));
    const gchar* prompt = nullptr;
    g_variant_get_child(reply.get(), 1, "&o", &prompt);
    if (g_strcmp0(prompt, "/") != 0) {
        return runPrompt(prompt, objectPaths.size());
    }
    return countOf(unlocked.get()) >= objectPaths.size() ? KeyringStatus::success : KeyringStatus::locked;
}

int UnlockPrompt::runPrompt(const char* promptPath, std::size_t expected) const
{
    PromptState state;
    const PromptSignals subscriptions(m_connection, m_service.constData(), promptPath, state);
    const auto call = [&](const char* method, GVariant* arguments) {
        GError* error = nullptr;
        const VariantPtr reply(g_dbus_connection_call_sync(m_connection, m_service.constData(), promptPath, promptInterface,
            method, arguments, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, milliseconds(m_limit), nullptr, &error));
        const int status = reply ? KeyringStatus::success : keyringStatusOf(error);
        g_clear_error(&error);
        return status;
    };
    // No parent window to name: the prompt comes up on its own.
    if (const int shown = call("Prompt", g_variant_new("(s)", "")); shown != KeyringStatus::success) {
        return shown;
    }
    // Unanswered in time, the prompt stays up for the user: gnome-keyring 42
    // aborts when a pending unlock is dismissed. Its answer unlocks the
    // collection, which whoever waits for the unlock then sees.
    waitForPrompt(subscriptions.context(), state, m_promptLimit);
    if (state.serviceLeft) {
        return KeyringStatus::notAvailable;
    }
    if (!state.completed || state.dismissed) {
        return KeyringStatus::locked;
    }
    return countOf(state.result.get()) >= expected ? KeyringStatus::success : KeyringStatus::locked;
}

} // namespace kernwell
