#include "ui/FontsDelegate.h"

#include "ui/Controls.h"
#include "ui/FontsModel.h"
#include "ui/UiResources.h"

#include <QFontMetrics>
#include <QPainter>

namespace kernwell {

namespace {

    constexpr int padding = 8;
    constexpr int headingHeight = 22;
    constexpr int styleHeight = 34;
    constexpr int usageHeight = 20;
    constexpr int labelWidth = 140;
    constexpr int previewPixels = 24;
    // A few screens of rows.
    constexpr qsizetype previewFiles = 120;

} // namespace

FontsDelegate::FontsDelegate(const FontsModel& model, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_model(model)
    , m_heading(typeface(Typeface::Bold, 14))
    , m_label(typeface(Typeface::Regular, 12))
    , m_previews(previewPixels, previewFiles)
{
}

QSize FontsDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const FontsModel::Family& family = m_model.family(index.row());
    const int height = padding * 2 + headingHeight + int(family.styles.size()) * styleHeight
        + (family.usedBy.isEmpty() ? 0 : usageHeight);
    return { 0, height }; // as wide as the list
}

void FontsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const FontsModel::Family& family = m_model.family(index.row());
    painter->save();
    const QColor text = option.palette.color(QPalette::Text);
    if (option.state & QStyle::State_HasFocus) {
        paintFocusRing(*painter, option.rect.adjusted(1, 1, -1, -1));
    }
    const QRect area = option.rect.adjusted(padding, padding, -padding, -padding);
    const bool rightToLeft = option.direction == Qt::RightToLeft;
    const auto alignLeading = Qt::AlignVCenter | (rightToLeft ? Qt::AlignRight : Qt::AlignLeft);
    int y = area.top();
    painter->setFont(m_heading);
    painter->setPen(text);
    const QRect heading(area.left(), y, area.width(), headingHeight);
    painter->drawText(heading, alignLeading, QFontMetrics(m_heading).elidedText(family.name, Qt::ElideRight, heading.width()));
    y += headingHeight;
    for (const SyncedFont& font : family.styles) {
        const QRect line(area.left(), y, area.width(), styleHeight);
        const QRect label = rightToLeft ? QRect(line.right() - labelWidth, y, labelWidth, styleHeight)
                                        : QRect(line.left(), y, labelWidth, styleHeight);
        painter->setFont(m_label);
        painter->setPen(option.palette.color(toneRole(Tone::Secondary)));
        painter->drawText(label, alignLeading, QFontMetrics(m_label).elidedText(font.style, Qt::ElideRight, labelWidth - 8));
        painter->setPen(text);
        const int previewLeft = rightToLeft ? line.left() : line.left() + labelWidth;
        const int previewWidth = line.width() - labelWidth;
        const QPointF baseline(previewLeft, y + styleHeight * 0.7);
        if (!m_previews.draw(*painter, font.path, m_sample.isEmpty() ? family.name : m_sample, baseline, previewWidth)) {
            painter->setFont(m_label);
            painter->drawText(QRectF(previewLeft, y, previewWidth, styleHeight), alignLeading, tr("No preview"));
        }
        y += styleHeight;
    }
    if (!family.usedBy.isEmpty()) {
        painter->setFont(m_label);
        painter->setPen(option.palette.color(toneRole(Tone::Secondary)));
        const QRect usage(area.left(), y, area.width(), usageHeight);
        painter->drawText(usage, alignLeading,
            QFontMetrics(m_label).elidedText(FontsModel::usageText(family.usedBy), Qt::ElideRight, usage.width()));
    }
    painter->restore();
}

} // namespace kernwell
