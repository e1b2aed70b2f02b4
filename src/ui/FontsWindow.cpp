#include "ui/FontsWindow.h"

#include "ui/Controls.h"
#include "ui/FontsDelegate.h"
#include "ui/UiResources.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPromise>
#include <QThreadPool>
#include <QVBoxLayout>

#include <memory>
#include <utility>

namespace kernwell {

FontsWindow::FontsWindow(ReadFonts readFonts, FindUsers findUsers, std::chrono::milliseconds usageInterval, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_readFonts(std::move(readFonts))
    , m_findUsers(std::move(findUsers))
    , m_search(new QLineEdit(this))
    , m_sample(new QLineEdit(this))
    , m_totals(nullptr)
    , m_empty(nullptr)
    , m_list(new QListView(this))
    , m_delegate(new FontsDelegate(m_model, this))
{
    setObjectName(QStringLiteral("FontsWindow"));
    setWindowRole(objectName());
    setWindowTitle(tr("Fonts on this computer"));
    paintBackground(this);
    resize(560, 640);
    const QFont font = typeface(Typeface::Regular, 14);

    m_search->setFont(font);
    m_search->setPlaceholderText(tr("Search families and styles"));
    m_search->setAccessibleName(tr("Search fonts"));
    m_search->setClearButtonEnabled(true);
    m_sample->setFont(font);
    m_sample->setPlaceholderText(tr("Type a sample text"));
    m_sample->setAccessibleName(tr("Sample text"));
    m_totals = makeText(QString(), font, this, Tone::Secondary);
    m_empty = makeText(QString(), font, this);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setWordWrap(true);

    m_list->setModel(&m_model);
    m_list->setItemDelegate(m_delegate);
    m_list->setAccessibleName(tr("Fonts"));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Rows take the list's width; a long sample is cut, not scrolled.
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(8);
    auto* fields = new QHBoxLayout;
    fields->addWidget(m_search, 3);
    fields->addWidget(m_sample, 2);
    column->addLayout(fields);
    column->addWidget(m_totals);
    column->addWidget(makeDivider(this));
    column->addWidget(m_list, 1);
    column->addWidget(m_empty, 1);

    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_model.setSearch(text);
        updateEmptyState();
    });
    connect(m_sample, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_delegate->setSample(text);
        m_list->viewport()->update();
    });
    m_usageTimer.setInterval(usageInterval);
    connect(&m_usageTimer, &QTimer::timeout, this, &FontsWindow::findUsers);
    connect(&m_usage, &QFutureWatcher<Usage>::finished, this, [this] {
        if (m_usage.future().resultCount() > 0) {
            m_model.setUsage(m_usage.result());
        }
        emit usageUpdated();
    });
}

qsizetype FontsWindow::previewsLoaded() const { return m_delegate->previews().loaded(); }

void FontsWindow::showEvent(QShowEvent*)
{
    reload();
    m_search->setFocus(Qt::ActiveWindowFocusReason);
    m_usageTimer.start();
}

void FontsWindow::hideEvent(QHideEvent*)
{
    m_usageTimer.stop();
}

void FontsWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FontsWindow::reload()
{
    m_model.setFonts(m_readFonts());
    m_totals->setText(m_model.totalsText());
    updateEmptyState();
    findUsers();
}

void FontsWindow::findUsers()
{
    if (m_usage.isRunning()) {
        return; // the next tick asks again
    }
    auto promise = std::make_shared<QPromise<Usage>>();
    m_usage.setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, find = m_findUsers, fonts = m_model.fonts()] {
        promise->addResult(find(fonts));
        promise->finish();
    });
}

void FontsWindow::updateEmptyState()
{
    const bool none = m_model.fonts().isEmpty();
    const bool noMatch = !none && m_model.rowCount() == 0;
    m_empty->setText(none ? tr("No fonts are synced to this computer.")
                          : tr("No family or style matches “%1”.").arg(m_search->text().trimmed()));
    m_empty->setVisible(none || noMatch);
    m_list->setVisible(!none && !noMatch);
    m_totals->setVisible(!none);
}

} // namespace kernwell
