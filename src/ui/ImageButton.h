#pragma once

#include <QAbstractButton>
#include <QSvgRenderer>

namespace kernwell {

// An asset image that acts as a button (the sign-in and browse images).
// `padding` is the space kept around the image inside the button.
class ImageButton : public QAbstractButton {
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
