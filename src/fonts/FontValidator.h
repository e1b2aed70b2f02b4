#pragma once

#include <QString>

namespace kernwell {

// Checks that a file is a complete font before anyone is told about it.
class FontValidator {
public:
    // Throws kernwell::Error in the font manager's domain: fileNotFound,
    // unrecognizedFormat (not a font), invalidFontData (truncated or damaged);
    // the system's error when the file cannot be read. Thread-safe.
    static void validate(const QString& absolutePath);
};

} // namespace kernwell
