#pragma once

#include <QSvgRenderer>
#include <QWidget>

namespace kernwell {

// An asset image drawn at `size`, keeping its aspect ratio.
class ImageView : public QWidget {
    Q_OBJECT
public:
    ImageView(const QString& imageName, QSize size, const QString& accessibleName, QWidget* parent = nullptr);

    const QString& imageName() const { return m_imageName; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_imageName;
    QSvgRenderer m_renderer;
};

} // namespace kernwell
