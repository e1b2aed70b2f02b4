#pragma once

#include "diagnostics/Error.h"

#include <QString>

namespace kernwell {

// Registers the fonts of one file for this process or for every application
// of the user. true = a real change; false = already registered / not
// registered; any other refusal throws kernwell::Error.
class MacOSFontManager {
public:
    enum class RegistrationScope { processWide, systemWide };

    // The error domain of the two silent outcomes (codes below).
    static constexpr auto errorDomain = "MacOSFontManagerErrorDomain";
    static constexpr int alreadyRegistered = 105;
    static constexpr int notRegistered = 201;

    // FontManagerError::unexpected(text) as an error value.
    struct FontManagerError {
        static Error unexpected(const QString& text);
    };

    explicit MacOSFontManager(RegistrationScope registrationScope);

    RegistrationScope registrationScope() const { return m_registrationScope; }

    bool registerFont(const QString& filePath);
    bool unregisterFont(const QString& filePath);

    // Makes the changes since the last flush visible to other applications
    // (one font-cache refresh per batch). No-op for processWide.
    void flush();

private:
    RegistrationScope m_registrationScope;
};

} // namespace kernwell
