#pragma once

#include "api/UrlSession.h"
#include "diagnostics/Error.h"

#include <optional>

namespace kernwell {

// Why a request or a websocket handshake cannot go on the wire as given (a
// method or field name that is no token, a line break inside a value, a field
// that only the transport may set), or nothing when it can.
std::optional<Error> unsendable(const QByteArray& method, const HeaderFields& headerFields);

} // namespace kernwell
