#pragma once

#include "sync/NotificationSummary.h"

#include <QList>
#include <QScrollArea>

class QVBoxLayout;

namespace kernwell {

class NotificationRow;

// The notification list of the signed-in window: one row per summary, in the
// list's order, without separators or a background of its own. It is one
// stop in the Tab order (its current row); the arrow keys, Home and End move
// between the rows. Screen readers see a list of its rows. It opens at its
// end, where the newest row is, and follows the end as rows are added unless
// the user has scrolled away from it.
class NotificationList : public QScrollArea {
    Q_OBJECT
public:
    explicit NotificationList(QWidget* parent = nullptr);

    // Rows are kept by summary id: an update that appends a line adds one
    // row, and a line that drops off takes only its own row along.
    void setSummaries(const QList<NotificationSummary>& summaries);
    // In the list's order.
    const QList<NotificationRow*>& rows() const { return m_shownRows; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void removeRow(NotificationRow* row);
    // `row` becomes the list's stop in the Tab order.
    void makeTabStop(NotificationRow* row);
    NotificationRow* tabStop() const;
    bool moveFocus(NotificationRow* from, int key);

    QWidget* m_content;
    QVBoxLayout* m_rows;
    QList<NotificationRow*> m_shownRows;
    bool m_followsEnd = true;
};

} // namespace kernwell
