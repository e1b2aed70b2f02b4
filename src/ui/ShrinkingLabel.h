#pragma once

#include <QFont>
#include <QWidget>

namespace kernwell {

// Plain text that keeps to its width: first the font shrinks, down to
// `smallestPixelSize` at most; a text still too long then either loses its
// middle to an ellipsis (one line) or wraps onto more lines at that size. The
// whole text stays available as tooltip and accessible name.
class ShrinkingLabel : public QWidget {
    Q_OBJECT
public:
    enum class Overflow { Elide, Wrap };

    ShrinkingLabel(const QFont& font, int smallestPixelSize, Overflow overflow, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return m_text; }

    // What is drawn at the current width.
    int shownPixelSize() const { return m_shownPixelSize; }
    const QString& shownText() const { return m_shownText; }
    int shownLineCount() const { return m_shownLineCount; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The largest size from the full one down to the smallest at which the
    // text fits on one line of `width`; 0 when none does.
    int fittingPixelSize(int width) const;
    QFont fontOfSize(int pixelSize) const;
    void fit();

    QFont m_font;
    int m_smallestPixelSize;
    Overflow m_overflow;
    QString m_text;
    int m_shownPixelSize;
    QString m_shownText;
    int m_shownLineCount = 1;
};

} // namespace kernwell
