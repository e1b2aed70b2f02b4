#pragma once

#include "ui/KeyboardButton.h"

#include <QSvgRenderer>

namespace kernwell {

// An asset image that acts as a link (the sign-in and browse images).
// `padding` is the space kept around the image inside the button; it is at
// least the room the focus ring needs around the image.
class ImageButton : public KeyboardButton {
    Q_OBJECT
public:
    ImageButton(const QString& imageName, QSize imageSize, int padding, const QString& accessibleName,
        QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSvgRenderer m_renderer;
    int m_padding;
};

} // namespace kernwell
