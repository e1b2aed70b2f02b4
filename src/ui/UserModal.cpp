#include "ui/UserModal.h"

#include "ui/Accessibility.h"
#include "ui/Avatar.h"
#include "ui/ColorScheme.h"
#include "ui/Controls.h"
#include "ui/ShrinkingLabel.h"
#include "ui/TextButton.h"
#include "ui/UiResources.h"
#include "ui/toolkit/Toolkit.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace kernwell {

UserModal::UserModal(Action checkForUpdates, Action clickLogout, const std::optional<QString>& username,
    const QString& versionString, const QUrl& supportURL, const QUrl& libraryURL, Action showFontsOnComputer,
    Toolkit& toolkit, QWidget* parent)
    : QFrame(parent)
    , m_avatar(new Avatar(28, this))
    , m_username(new ShrinkingLabel(typeface(Typeface::Regular, 14), 11, ShrinkingLabel::Overflow::Elide, this))
{
    setObjectName(QStringLiteral("UserModal"));
    // One row more where the fonts on this computer can be shown.
    setFixedSize(200, showFontsOnComputer ? 236 : 213);
    paintBackground(this);
    setAccessibleName(tr("Account"));
    const QFont font = typeface(Typeface::Regular, 14);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 10, 12, 10);
    column->setSpacing(4);

    auto* userRow = new QHBoxLayout;
    userRow->setSpacing(8);
    m_avatar->setUsername(username);
    m_avatar->setFocusPolicy(Qt::NoFocus);
    m_avatar->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_avatar->setCursor(Qt::ArrowCursor);
    // Only a picture here: the name beside it says who it is.
    hideFromAccessibility(m_avatar);
    m_username->setText(Avatar::displayName(username));
    userRow->addWidget(m_avatar);
    userRow->addWidget(m_username, 1);
    column->addLayout(userRow);
    column->addWidget(makeDivider(this));
    column->addStretch(1);

    const auto add = [this, column](TextButton* control) {
        // Borderless, like a menu's items: the pointer and a press show on them.
        control->setShowsHover(true);
        column->addWidget(control);
        m_controls.append(control);
    };
    add(makeLink(tr("My library"), libraryURL, toolkit, font, this));
    if (showFontsOnComputer) {
        add(makeButton(tr("Fonts on this computer"), font, Tone::Primary, std::move(showFontsOnComputer), this));
    }
    add(makeLink(tr("Contact support"), supportURL, toolkit, font, this));
    add(makeButton(tr("Log out"), font, Tone::Primary, std::move(clickLogout), this));
    column->addSpacing(2);
    add(makeButton(tr("Check for updates"), font, Tone::Primary, std::move(checkForUpdates), this));
    column->addSpacing(2);
    add(makeButton(tr("Quit"), font, Tone::Primary, [&toolkit] { toolkit.terminate(); }, this));
    // Opening the panel puts the keyboard on its first control.
    setFocusProxy(m_controls.first());

    column->addStretch(1);
    column->addWidget(makeDivider(this));
    column->addWidget(makeText(versionString, font, this, Tone::Secondary));
}

bool UserModal::focusNextPrevChild(bool next)
{
    // Tab goes round the open panel's controls and never reaches what lies
    // behind it.
    const qsizetype count = m_controls.size();
    const qsizetype current = m_controls.indexOf(QApplication::focusWidget());
    const qsizetype target = current < 0 ? (next ? 0 : count - 1) : (current + (next ? 1 : count - 1)) % count;
    m_controls.at(target)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void UserModal::paintEvent(QPaintEvent*)
{
    // A one-point gray border drawn inside the edge.
    QPainter painter(this);
    painter.setPen(QPen(schemeColours(colorSchemeOf(this)).border, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

} // namespace kernwell
