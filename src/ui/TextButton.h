#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>

namespace kernwell {

// A button drawn as its text alone: the plain, borderless and link buttons of
// the windows. Reachable with Tab, pressed with Space; a focus ring shows
// where the keyboard is.
class TextButton : public QAbstractButton {
    Q_OBJECT
public:
    TextButton(const QString& text, const QFont& font, const QColor& colour, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_colour;
};

} // namespace kernwell
