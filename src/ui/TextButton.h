#pragma once

#include "ui/KeyboardButton.h"

#include <QFont>

namespace kernwell {

enum class Tone;

// A button drawn as its text alone: the plain, borderless and link buttons of
// the windows. A link opens a page; screen readers are told which it is.
class TextButton : public KeyboardButton {
    Q_OBJECT
public:
    enum class Kind { Button, Link };

    TextButton(const QString& text, const QFont& font, Tone tone, Kind kind = Kind::Button, QWidget* parent = nullptr);

    bool isLink() const { return m_kind == Kind::Link; }
    // The colour of the text, from the window's scheme.
    QColor textColour() const;
    // The colour behind the text: the scheme's hover or pressed fill where
    // the button shows those states, the window's background otherwise.
    QColor fillColour() const;
    // Menu-like buttons mark the one under the pointer and the pressed one
    // with a fill behind the text.
    void setShowsHover(bool shows);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone m_tone;
    Kind m_kind;
    bool m_showsHover = false;
};

} // namespace kernwell
