#pragma once

#include <QString>

#include <optional>

namespace kernwell {

// printf-style formatting with text arguments only, as property-list format
// strings write it: "%@" takes the next argument, "%1$@" and "%2$@" name one,
// "%%" is a percent sign.
class VersionFormat {
public:
    struct Result {
        QString text; // the filled format; empty when `problem` is set
        QString problem; // why the format was refused, as a sentence fragment
    };

    // A format is accepted only when it uses exactly the two text arguments
    // (each at least once) and nothing else: no other conversions, no mixing
    // of "%@" with positional forms, no lone "%".
    static Result format(const QString& format, const QString& first, const QString& second);
};

} // namespace kernwell
