#pragma once

#include "ui/FontPreviews.h"

#include <QFont>
#include <QStyledItemDelegate>

namespace kernwell {

class FontsModel;

// Paints a family of FontsModel: its name, then one line per style, the
// sample in the style's own face and the style's name beside it, then the
// programs that use it. Only rows on screen are painted, so only their
// files are read.
class FontsDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    FontsDelegate(const FontsModel& model, QObject* parent);

    // Empty: each style shows its family's name.
    void setSample(const QString& sample) { m_sample = sample; }
    const FontPreviews& previews() const { return m_previews; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const FontsModel& m_model;
    QString m_sample;
    QFont m_heading;
    QFont m_label;
    // Filled while painting, which Qt declares const.
    mutable FontPreviews m_previews;
};

} // namespace kernwell
