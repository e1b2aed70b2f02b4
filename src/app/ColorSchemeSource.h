#pragma once

#include "ui/ColorScheme.h"

#include <QObject>

namespace kernwell {

// Where the windows learn the desktop's light or dark preference: the
// desktop's settings in the application, a fixed value in tests.
class ColorSchemeSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ColorSchemeSource() override = default;

    virtual ColorScheme colorScheme() const = 0;

signals:
    void colorSchemeChanged(ColorScheme scheme);
};

} // namespace kernwell
