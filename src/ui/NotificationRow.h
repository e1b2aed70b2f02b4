#pragma once

#include "sync/NotificationSummary.h"

#include <QWidget>

namespace kernwell {

class ImageView;
class ShrinkingLabel;

// One item of the notification list: the kind's symbol and the summary's
// text, wrapped onto more lines when it is long. It takes the keyboard focus
// (NotificationList moves it), and a screen reader reads its kind and text.
class NotificationRow : public QWidget {
    Q_OBJECT
public:
    explicit NotificationRow(const NotificationSummary& summary, QWidget* parent = nullptr);

    // The symbol image drawn for each kind.
    static QString symbolFor(NotificationSummary::Kind::Case kind);
    // What a screen reader says for the kind.
    static QString kindName(NotificationSummary::Kind::Case kind);
    // The smallest text size a long line is shrunk to before it wraps.
    static constexpr int readablePixelSize = 12;

    // The summary the row shows; a row is kept while its summary stays in the list.
    const NotificationSummary& summary() const { return m_summary; }
    ImageView* symbol() const { return m_symbol; }
    ShrinkingLabel* label() const { return m_label; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    NotificationSummary m_summary;
    ImageView* m_symbol;
    ShrinkingLabel* m_label;
};

} // namespace kernwell
