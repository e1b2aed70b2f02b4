#include "ui/NotificationRow.h"

#include "ui/ImageView.h"
#include "ui/ShrinkingLabel.h"
#include "ui/UiResources.h"

#include <QHBoxLayout>

namespace kernwell {

NotificationRow::NotificationRow(const NotificationSummary& summary, QWidget* parent)
    : QWidget(parent)
    , m_summary(summary)
    , m_symbol(new ImageView(symbolFor(summary.kind.kindCase()), { 16, 16 },
          summary.kind.isError() ? tr("Error") : tr("Update"), this))
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
    return kind == NotificationSummary::Kind::Case::Error ? QStringLiteral("exclamationmark.triangle.fill")
                                                          : QStringLiteral("arrow.triangle.2.circlepath.circle.fill");
}

} // namespace kernwell
