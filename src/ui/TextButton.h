#pragma once

#include "ui/KeyboardButton.h"

#include <QColor>
#include <QFont>

namespace kernwell {

// A button drawn as its text alone: the plain, borderless and link buttons of
// the windows. A link opens a page; screen readers are told which it is.
class TextButton : public KeyboardButton {
    Q_OBJECT
public:
    enum class Kind { Button, Link };

    TextButton(const QString& text, const QFont& font, const QColor& colour, Kind kind = Kind::Button,
        QWidget* parent = nullptr);

    bool isLink() const { return m_kind == Kind::Link; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_colour;
    Kind m_kind;
};

} // namespace kernwell
