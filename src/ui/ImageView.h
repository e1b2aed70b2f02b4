#pragma once

#include <QSvgRenderer>
#include <QWidget>

namespace kernwell {

enum class ColorScheme;

// An asset image drawn at `size`, keeping its aspect ratio, in the variant of
// its window's colour scheme.
class ImageView : public QWidget {
    Q_OBJECT
public:
    ImageView(const QString& imageName, QSize size, const QString& accessibleName, QWidget* parent = nullptr);

    const QString& imageName() const { return m_imageName; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_imageName;
    ColorScheme m_scheme;
    QSvgRenderer m_renderer;
};

} // namespace kernwell
