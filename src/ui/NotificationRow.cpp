#include "ui/NotificationRow.h"

#include "ui/Accessibility.h"
#include "ui/Controls.h"
#include "ui/ImageView.h"
#include "ui/ShrinkingLabel.h"
#include "ui/UiResources.h"

#include <QHBoxLayout>
#include <QPainter>

namespace kernwell {

NotificationRow::NotificationRow(const NotificationSummary& summary, QWidget* parent)
    : QWidget(parent)
    , m_summary(summary)
    , m_symbol(new ImageView(symbolFor(summary.kind.kindCase()), { 16, 16 }, kindName(summary.kind.kindCase()), this))
    , m_label(new ShrinkingLabel(
          typeface(Typeface::Regular, 14), readablePixelSize, ShrinkingLabel::Overflow::Wrap, this))
{
    m_label->setText(summary.text());
    // The row reads the kind along with the text.
    hideFromAccessibility(m_symbol);
    auto* row = new QHBoxLayout(this);
    // Room for the focus ring around the symbol and the text.
    row->setContentsMargins(4, 3, 4, 3);
    row->setSpacing(8);
    row->addWidget(m_symbol, 0, Qt::AlignTop);
    row->addWidget(m_label, 1);
    setFocusPolicy(Qt::ClickFocus);
    setAccessibleName(tr("%1: %2", "a notification's kind, then its text").arg(kindName(summary.kind.kindCase()), summary.text()));
}

QString NotificationRow::symbolFor(NotificationSummary::Kind::Case kind)
{
    switch (kind) {
    case NotificationSummary::Kind::Case::Error:
        return QStringLiteral("exclamationmark.triangle.fill");
    case NotificationSummary::Kind::Case::Warning:
        return QStringLiteral("exclamationmark.triangle");
    case NotificationSummary::Kind::Case::Update:
        break;
    }
    return QStringLiteral("arrow.triangle.2.circlepath.circle.fill");
}

QString NotificationRow::kindName(NotificationSummary::Kind::Case kind)
{
    switch (kind) {
    case NotificationSummary::Kind::Case::Error:
        return tr("Error");
    case NotificationSummary::Kind::Case::Warning:
        return tr("Warning");
    case NotificationSummary::Kind::Case::Update:
        break;
    }
    return tr("Update");
}

void NotificationRow::paintEvent(QPaintEvent*)
{
    if (hasFocus()) {
        QPainter painter(this);
        paintFocusRing(painter, rect());
    }
}

} // namespace kernwell
