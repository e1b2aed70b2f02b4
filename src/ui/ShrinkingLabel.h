#pragma once

#include <QFont>
#include <QWidget>

namespace kernwell {

// One line of plain text that keeps to its width: first the font shrinks, down
// to half its size at most, then the text is cut with an ellipsis. The whole
// text stays available as tooltip and accessible name.
class ShrinkingLabel : public QWidget {
    Q_OBJECT
public:
    explicit ShrinkingLabel(const QFont& font, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return m_text; }

    // What is drawn at the current width.
    int shownPixelSize() const { return m_shownPixelSize; }
    const QString& shownText() const { return m_shownText; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fit();

    QFont m_font;
    QString m_text;
    int m_shownPixelSize;
    QString m_shownText;
};

} // namespace kernwell
