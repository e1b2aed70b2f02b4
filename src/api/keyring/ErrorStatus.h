#pragma once

struct _GError;

namespace kernwell {

// The KeyringStatus number of a failure that GLib, D-Bus or libsecret reported.
int keyringStatusOf(const _GError* error);

} // namespace kernwell
