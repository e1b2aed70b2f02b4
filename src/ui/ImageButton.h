#pragma once

#include "ui/KeyboardButton.h"

#include <QFont>
#include <QRectF>
#include <QSvgRenderer>

#include <vector>

namespace kernwell {

enum class ColorScheme;

// An asset image that acts as a link (the sign-in and browse buttons), with
// its label drawn as text over the image, so that it is translated like every
// other text. `padding` is the space kept around the image inside the button;
// it is at least the room the focus ring needs around the image.
class ImageButton : public KeyboardButton {
    Q_OBJECT
public:
    // Where the label goes on the image (in the image's own units) and its
    // font at full size; a longer label shrinks, then wraps, to fit there.
    struct LabelPlace {
        QRectF area;
        QFont font;
    };

    ImageButton(const QString& imageName, QSize imageSize, int padding, const QString& label, const LabelPlace& place,
        QWidget* parent = nullptr);

    // "Sign in with your browser" and "Browse fonts".
    static ImageButton* signIn(int padding, QWidget* parent);
    static ImageButton* browseFonts(int padding, QWidget* parent);

    const QString& imageName() const { return m_imageName; }
    // The label as drawn: its font and lines, the rectangle they take, and
    // the part of the image they have to stay in.
    const QFont& labelFont() const { return m_labelFont; }
    qsizetype labelLineCount() const { return m_lines.size(); }
    QRectF labelRect() const;
    QRectF labelArea() const;
    QRectF imageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Line {
        QString text;
        qreal width = 0;
    };
    void loadImage();
    void fitLabel();

    QString m_imageName;
    QSvgRenderer m_renderer;
    ColorScheme m_scheme;
    int m_padding;
    LabelPlace m_place;
    QFont m_labelFont;
    std::vector<Line> m_lines;
};

} // namespace kernwell
