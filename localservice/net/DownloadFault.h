#pragma once

#include <QString>

#include <chrono>
#include <optional>

namespace kernwell::localservice {

// What goes wrong with one font download.
struct DownloadFault {
    enum class Kind {
        None,
        Drop, // headers and half the body, then the connection is closed
        Delay, // nothing for `delay`, then the whole answer
        Stall, // headers and half the body, nothing for `delay`, then the rest
        Html, // status 200 with an HTML page instead of the font
        Truncate, // status 200 with the first half of the file, consistently framed
    };
    Kind kind = Kind::None;
    std::chrono::milliseconds delay { 0 };

    static std::optional<Kind> kindFromName(const QString& name);
};

} // namespace kernwell::localservice
