#pragma once

#include "sync/NotificationSummary.h"

#include <QWidget>

namespace kernwell {

class ImageView;
class ShrinkingLabel;

// One line of the notification list: the kind's symbol and the summary's text.
class NotificationRow : public QWidget {
    Q_OBJECT
public:
    explicit NotificationRow(const NotificationSummary& summary, QWidget* parent = nullptr);

    // The symbol image drawn for each kind.
    static QString symbolFor(NotificationSummary::Kind::Case kind);
    // What a screen reader says for the symbol.
    static QString kindName(NotificationSummary::Kind::Case kind);

    // The summary the row shows; a row is kept while its summary stays in the list.
    const NotificationSummary& summary() const { return m_summary; }
    ImageView* symbol() const { return m_symbol; }
    ShrinkingLabel* label() const { return m_label; }

private:
    NotificationSummary m_summary;
    ImageView* m_symbol;
    ShrinkingLabel* m_label;
};

} // namespace kernwell
