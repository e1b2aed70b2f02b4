// The fonts window over a library of 2,000 synced fonts, as the running
// application has it (links in subfolders of 128 with fontconfig's caches
// current): the time from opening it to its first painted list and of each
// page down, and the process's memory before, while it is open, after
// scrolling through every family and after it is closed, three times.
#include "fonts/ReleaseFreedMemory.h"
#include "fonts/SyncedFontReader.h"
#include "ui/FontsWindow.h"
#include "ui/UiResources.h"

#include "BenchFonts.h"
#include "Sandbox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStringListModel>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include <malloc.h>

#include <unistd.h>

using namespace kernwell;

namespace {

constexpr int fontCount = 2000;
constexpr int linksPerFolder = 128;

// Anonymous memory of this process in MB: the heap and what the window
// allocates, without the pages of the libraries it runs (which count as
// private where no other process maps them).
double anonymousMb()
{
    QFile rollup(QStringLiteral("/proc/self/smaps_rollup"));
    rollup.open(QIODevice::ReadOnly);
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        if (line.startsWith("Anonymous:")) {
            return double(line.simplified().split(' ').value(1).toLongLong()) / 1024.0;
        }
    }
    return -1;
}

// What the program holds of the heap, in MB: memory the allocator keeps
// free for later use is not counted.
double heapInUseMb()
{
    return double(mallinfo2().uordblks) / 1048576.0;
}

// Notes that the list's viewport is about to paint; the paint itself runs
// once the filter lets the event through.
class FirstPaint : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

struct Cycle {
    qint64 firstPaintMs = 0;
    qint64 slowestScrollMs = 0; // one page down, painted
    double openMb = 0; // after the first paint
    double scrolledMb = 0; // after scrolling through
    double closedMb = 0;
    qsizetype rows = 0;
    qsizetype previews = 0;
};

// Opens the window, waits for its list's first paint, closes it.
Cycle openAndClose(const SyncedFontReader& reader)
{
    Cycle cycle;
    QElapsedTimer clock;
    clock.start();
    auto* window = new FontsWindow([&reader] { return reader.read(); },
        [](const QList<SyncedFont>&) { return FontsWindow::Usage(); }, std::chrono::hours(1));
    FirstPaint firstPaint;
    window->list()->viewport()->installEventFilter(&firstPaint);
    window->show();
    while (!firstPaint.painted) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    cycle.firstPaintMs = clock.elapsed();
    cycle.openMb = anonymousMb();
    cycle.rows = window->model().rowCount();
    cycle.previews = window->previewsLoaded();
    // Page by page through the list: each page reads the files of its rows.
    QScrollBar* scrollBar = window->list()->verticalScrollBar();
    while (scrollBar->value() < scrollBar->maximum()) {
        clock.restart();
        scrollBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        window->list()->viewport()->repaint();
        cycle.slowestScrollMs = std::max(cycle.slowestScrollMs, clock.elapsed());
    }
    cycle.scrolledMb = anonymousMb();
    window->close();
    delete window;
    releaseFreedMemory();
    cycle.closedMb = anonymousMb();
    return cycle;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::Sandbox sandbox;
    QApplication application(argc, argv);
    registerTypefaces();

    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString fonts = data + QStringLiteral("/bench/fonts");
    const QString links = data + QStringLiteral("/fonts/bench");
    const QStringList names = bench::makeDistinctFonts(fonts, fontCount);
    for (int i = 0; i < names.size(); ++i) {
        const QString folder = links + QLatin1Char('/') + QString::number(i / linksPerFolder + 1);
        QDir().mkpath(folder);
        ::link(QFile::encodeName(fonts + QLatin1Char('/') + names.at(i)).constData(),
            QFile::encodeName(folder + QLatin1Char('/') + names.at(i)).constData());
    }
    if (bench::fcCacheWithoutSleep(links) != 0) {
        std::fprintf(stderr, "fc-cache failed\n");
        return 1;
    }
    releaseFreedMemory();
    const double before = anonymousMb();

    // What the first window with a text field and a list costs once (the
    // font database, the style, the text engines), paid as the running
    // application has paid it, by a plain list of the same names.
    {
        QWidget plain;
        auto* field = new QLineEdit(&plain);
        field->setFont(typeface(Typeface::Regular, 14));
        field->setPlaceholderText(QStringLiteral("Search"));
        auto* bold = new QLabel(QStringLiteral("Families"), &plain);
        bold->setFont(typeface(Typeface::Bold, 14));
        auto* list = new QListView(&plain);
        list->setFont(typeface(Typeface::Regular, 12));
        QStringListModel model(names, list);
        list->setModel(&model);
        auto* column = new QVBoxLayout(&plain);
        column->addWidget(field);
        column->addWidget(bold);
        column->addWidget(list);
        FirstPaint painted;
        list->viewport()->installEventFilter(&painted);
        plain.show();
        while (!painted.painted) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    releaseFreedMemory();
    const double plainClosed = anonymousMb();
    const double plainInUse = heapInUseMb();
    const SyncedFontReader reader(fonts, links);
    const Cycle cold = openAndClose(reader);
    const double warm = cold.closedMb;
    const Cycle second = openAndClose(reader);
    const Cycle third = openAndClose(reader);
    const double thirdInUse = heapInUseMb();

    std::printf("Fonts window, %d synced fonts (%lld families listed, %lld files read for the first screen)\n", fontCount,
        static_cast<long long>(cold.rows), static_cast<long long>(cold.previews));
    std::printf("  open -> first paint, first time   %6lld ms   (goal 300 ms)\n", static_cast<long long>(cold.firstPaintMs));
    std::printf("  open -> first paint, again        %6lld ms\n", static_cast<long long>(second.firstPaintMs));
    std::printf("  slowest page down, painted        %6lld ms\n", static_cast<long long>(std::max(cold.slowestScrollMs, second.slowestScrollMs)));
    std::printf("  anonymous memory before           %6.1f MB\n", before);
    std::printf("  after a plain list of the names   %6.1f MB\n", plainClosed);
    std::printf("  first time: open / scrolled through / closed   %6.1f / %.1f / %.1f MB\n", cold.openMb, cold.scrolledMb,
        cold.closedMb);
    std::printf("  again: open / scrolled through / closed        %6.1f / %.1f / %.1f MB   (%+.1f MB after close)\n",
        second.openMb, second.scrolledMb, second.closedMb, second.closedMb - warm);
    std::printf("  a third time: closed                           %6.1f MB   (%+.1f MB)\n", third.closedMb, third.closedMb - warm);
    std::printf("  heap in use after the plain list / after the third close   %.1f / %.1f MB   (%+.1f MB kept)\n", plainInUse,
        thirdInUse, thirdInUse - plainInUse);
    return 0;
}
