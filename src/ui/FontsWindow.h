#pragma once

#include "fonts/SyncedFont.h"
#include "ui/FontsModel.h"

#include <QFutureWatcher>
#include <QHash>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

class QLabel;
class QLineEdit;
class QListView;

namespace kernwell {

class FontsDelegate;

// "Fonts on this computer": every synced family with its styles, each drawn
// in its own face, a search, the totals and the programs using each family.
// Reads the fonts each time it is shown and asks who uses them then and
// every `usageInterval` while shown; the asking runs on a pool thread.
class FontsWindow : public QWidget {
    Q_OBJECT
public:
    using ReadFonts = std::function<QList<SyncedFont>()>;
    using Usage = QHash<QString, QStringList>;
    // Called on a pool thread, with its own copy of the fonts.
    using FindUsers = std::function<Usage(const QList<SyncedFont>&)>;

    FontsWindow(ReadFonts readFonts, FindUsers findUsers, std::chrono::milliseconds usageInterval,
        QWidget* parent = nullptr);

    FontsModel& model() { return m_model; }
    QLineEdit* searchField() const { return m_search; }
    QLineEdit* sampleField() const { return m_sample; }
    QListView* list() const { return m_list; }
    QLabel* totals() const { return m_totals; }
    // The text shown in place of the list when it is empty; hidden otherwise.
    QLabel* emptyState() const { return m_empty; }
    // Files held for drawing the visible rows.
    qsizetype previewsLoaded() const;

signals:
    // A round of finding the users ended and its answer is in the model.
    void usageUpdated();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void reload();
    void findUsers();
    void updateEmptyState();

    ReadFonts m_readFonts;
    FindUsers m_findUsers;
    FontsModel m_model;
    QLineEdit* m_search;
    QLineEdit* m_sample;
    QLabel* m_totals;
    QLabel* m_empty;
    QListView* m_list;
    FontsDelegate* m_delegate;
    QTimer m_usageTimer;
    QFutureWatcher<Usage> m_usage;
};

} // namespace kernwell
