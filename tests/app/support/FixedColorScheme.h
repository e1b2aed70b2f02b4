#pragma once

#include "app/ColorSchemeSource.h"

namespace kernwell::test {

// A desktop whose colour scheme is the one given and never changes.
class FixedColorScheme : public ColorSchemeSource {
public:
    explicit FixedColorScheme(ColorScheme scheme)
        : m_scheme(scheme)
    {
    }
    ColorScheme colorScheme() const override { return m_scheme; }

private:
    ColorScheme m_scheme;
};

} // namespace kernwell::test
