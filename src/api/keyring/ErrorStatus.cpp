// GLib headers first: they name a struct member "signals", a keyword to Qt.
#include <libsecret/secret.h>

#include "api/keyring/ErrorStatus.h"

#include "api/keyring/KeyringStatus.h"

namespace kernwell {

int keyringStatusOf(const GError* error)
{
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)
        || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT)
        || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY)) {
        return KeyringStatus::timedOut;
    }
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN)
        || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER)) {
        return KeyringStatus::notAvailable;
    }
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
        return KeyringStatus::locked;
    }
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_NO_SUCH_OBJECT)) {
        return KeyringStatus::itemNotFound;
    }
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR) {
        return KeyringStatus::busFailure;
    }
    return KeyringStatus::unexpected;
}

} // namespace kernwell
