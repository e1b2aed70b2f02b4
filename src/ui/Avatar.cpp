#include "ui/Avatar.h"

#include "ui/ColorScheme.h"
#include "ui/Controls.h"
#include "ui/UiResources.h"

#include <QPainter>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace kernwell {

Avatar::Avatar(int diameter, QWidget* parent)
    : KeyboardButton(parent)
    , m_diameter(diameter)
{
    setFixedSize(diameter + 4, diameter + 4);
    setUsername(std::nullopt);
}

QString Avatar::displayName(const std::optional<QString>& username)
{
    if (!username || username->trimmed().isEmpty()) {
        return tr("Kernwell User");
    }
    return *username;
}

QString Avatar::letterFor(const std::optional<QString>& username)
{
    const QString name = displayName(username).trimmed();
    // One user-perceived character, so that an accented letter or an emoji
    // built of several code units stays whole.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, name);
    const qsizetype end = graphemes.toNextBoundary();
    return name.left(end < 0 ? 1 : end).toUpper();
}

void Avatar::setUsername(const std::optional<QString>& username)
{
    m_letter = letterFor(username);
    setText(m_letter);
    setAccessibleName(displayName(username));
    update();
}

QSize Avatar::sizeHint() const
{
    return { m_diameter + 4, m_diameter + 4 };
}

void Avatar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF circle(0, 0, m_diameter, m_diameter);
    circle.moveCenter(QRectF(rect()).center());
    painter.setPen(Qt::NoPen);
    // The text colour's circle with the background's letter: black on white,
    // light on dark.
    painter.setBrush(isDown() ? schemeColours(colorSchemeOf(this)).pressed : palette().color(QPalette::WindowText));
    painter.drawEllipse(circle);
    // The headline font, kept inside the circle.
    painter.setFont(typeface(Typeface::Bold, std::min(17.0, m_diameter * 0.6)));
    painter.setPen(palette().color(QPalette::Window));
    painter.drawText(circle, Qt::AlignCenter, m_letter);
    if (hasFocus()) {
        paintFocusRing(painter, rect());
    }
}

} // namespace kernwell
