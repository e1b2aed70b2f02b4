#include "ui/NotificationRow.h"

#include "ui/ImageView.h"
#include "ui/ShrinkingLabel.h"
#include "ui/UiResources.h"

#include <QHBoxLayout>

namespace kernwell {

NotificationRow::NotificationRow(const NotificationSummary& summary, QWidget* parent)
    : QWidget(parent)
    , m_summary(summary)
    , m_symbol(new ImageView(symbolFor(summary.kind.kindCase()), { 16, 16 }, kindName(summary.kind.kindCase()), this))
    , m_label(new ShrinkingLabel(typeface(Typeface::Regular, 14), this))
{
    m_label->setText(summary.text());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(m_symbol);
    row->addWidget(m_label, 1);
    setAccessibleName(summary.text());
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

} // namespace kernwell
