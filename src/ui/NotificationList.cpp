#include "ui/NotificationList.h"

#include "ui/Controls.h"
#include "ui/NotificationRow.h"

#include <QApplication>
#include <QHash>
#include <QKeyEvent>
#include <QScrollBar>
#include <QVBoxLayout>

namespace kernwell {

NotificationList::NotificationList(QWidget* parent)
    : QScrollArea(parent)
    , m_content(new QWidget)
    , m_rows(new QVBoxLayout(m_content))
{
    setObjectName(QStringLiteral("NotificationList"));
    setAccessibleName(tr("Notifications"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The rows take the focus, not the scrolling area around them.
    setFocusPolicy(Qt::NoFocus);
    paintBackground(viewport());
    paintBackground(m_content);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(4);
    m_rows->addStretch(1);
    setWidget(m_content);
    // A longer list grows the range before the value is clamped; a user's
    // scroll moves the value alone.
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (m_followsEnd) {
            verticalScrollBar()->setValue(maximum);
        }
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
        [this](int value) { m_followsEnd = value >= verticalScrollBar()->maximum(); });
}

void NotificationList::showEvent(QShowEvent* event)
{
    QScrollArea::showEvent(event);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void NotificationList::setSummaries(const QList<NotificationSummary>& summaries)
{
    QHash<QUuid, NotificationRow*> previous;
    for (auto* row : std::as_const(m_shownRows)) {
        previous.insert(row->summary().id, row);
    }
    const bool hadFocus = m_content->isAncestorOf(QApplication::focusWidget());
    QList<NotificationRow*> wanted;
    wanted.reserve(summaries.size());
    for (const auto& summary : summaries) {
        NotificationRow* row = previous.take(summary.id);
        if (row && !(row->summary() == summary)) {
            removeRow(row);
            row = nullptr;
        }
        if (!row) {
            row = new NotificationRow(summary, m_content);
            row->installEventFilter(this);
        }
        wanted.append(row);
    }
    for (auto* row : std::as_const(previous)) {
        removeRow(row);
    }
    // One row per summary, in the list's order; the trailing stretch stays last.
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        NotificationRow* row = wanted.at(i);
        if (m_rows->itemAt(static_cast<int>(i))->widget() != row) {
            m_rows->removeWidget(row);
            m_rows->insertWidget(static_cast<int>(i), row);
            row->show();
        }
    }
    m_shownRows = std::move(wanted);
    NotificationRow* stop = tabStop();
    makeTabStop(stop ? stop : (m_shownRows.isEmpty() ? nullptr : m_shownRows.first()));
    // The keyboard stays in the list when the row it was on goes.
    if (hadFocus && !m_content->isAncestorOf(QApplication::focusWidget()) && tabStop()) {
        tabStop()->setFocus(Qt::OtherFocusReason);
    }
}

void NotificationList::removeRow(NotificationRow* row)
{
    m_rows->removeWidget(row); // frees the row's layout item
    delete row;
}

NotificationRow* NotificationList::tabStop() const
{
    for (auto* row : m_shownRows) {
        if (row->focusPolicy() & Qt::TabFocus) {
            return row;
        }
    }
    return nullptr;
}

void NotificationList::makeTabStop(NotificationRow* stop)
{
    for (auto* row : std::as_const(m_shownRows)) {
        row->setFocusPolicy(row == stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

bool NotificationList::moveFocus(NotificationRow* from, int key)
{
    const qsizetype index = m_shownRows.indexOf(from);
    qsizetype target = index;
    switch (key) {
    case Qt::Key_Up:
        target = index - 1;
        break;
    case Qt::Key_Down:
        target = index + 1;
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = m_shownRows.size() - 1;
        break;
    default:
        return false;
    }
    if (index >= 0 && target >= 0 && target < m_shownRows.size()) {
        m_shownRows.at(target)->setFocus(Qt::OtherFocusReason);
    }
    return true;
}

bool NotificationList::eventFilter(QObject* watched, QEvent* event)
{
    auto* row = qobject_cast<NotificationRow*>(watched);
    if (!row) {
        return false;
    }
    if (event->type() == QEvent::FocusIn) {
        makeTabStop(row);
        ensureWidgetVisible(row, 0, 0);
    } else if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            return moveFocus(row, key->key());
        }
    }
    return false;
}

} // namespace kernwell
