#pragma once

#include <QLabel>

namespace kernwell {

// A plain-text label placed by the window's direction and ordered by the
// text's own: in a right-to-left window an English line sits at the right
// and keeps its period at its end. (QLabel does the reverse: it aligns by the
// text and orders by the window.)
class TextLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kernwell
