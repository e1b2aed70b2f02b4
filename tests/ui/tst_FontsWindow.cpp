#include "fonts/SyncedFontReader.h"
#include "ui/FontUsageScanner.h"
#include "ui/FontsWindow.h"
#include "ui/UiResources.h"

#include "TestFonts.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kernwell;
using namespace kernwell::test;

namespace {

// In a forked child: drops the mappings of files under `folder` that it
// inherited (the window's previews), so that it maps only what it maps
// itself. System calls and plain C only, as after a fork.
void unmapInherited(const char* folder)
{
    static char maps[1 << 20];
    const int fd = ::open("/proc/self/maps", O_RDONLY);
    size_t length = 0;
    for (ssize_t got = 1; got > 0 && length < sizeof maps - 1; length += size_t(got)) {
        got = ::read(fd, maps + length, sizeof maps - 1 - length);
        if (got < 0) {
            got = 0;
        }
    }
    ::close(fd);
    maps[length] = '\0';
    for (char* line = maps; *line != '\0';) {
        char* end = std::strchr(line, '\n');
        if (end) {
            *end = '\0';
        }
        if (std::strstr(line, folder)) {
            char* next = nullptr;
            const unsigned long from = std::strtoul(line, &next, 16);
            const unsigned long to = std::strtoul(next + 1, nullptr, 16);
            ::munmap(reinterpret_cast<void*>(from), to - from);
        }
        if (!end) {
            break;
        }
        line = end + 1;
    }
}

// A program named `name` that maps `path`, as one that draws with the font
// does, until it is killed.
pid_t mapInChild(const QString& path, const char* name)
{
    const QByteArray file = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        unmapInherited(folder.constData());
        const int fd = ::open(file.constData(), O_RDONLY);
        struct stat status { };
        ::fstat(fd, &status);
        ::mmap(nullptr, size_t(status.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        ::prctl(PR_SET_NAME, name);
        const char done = 1;
        (void)!::write(ready[1], &done, 1);
        ::pause();
        ::_exit(0);
    }
    char done = 0;
    (void)!::read(ready[0], &done, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return child;
}

} // namespace

// The fonts window over a real font folder: families and styles named by
// the files, the search, the totals, and the programs that map a font.
class TestFontsWindow : public QObject {
    Q_OBJECT
public:
    explicit TestFontsWindow(const Sandbox&) { }

private slots:
    void initTestCase() { QVERIFY(registerTypefaces()); }

    void shows_data()
    {
        QTest::addColumn<QStringList>("files"); // "font id=Family/Style"; no "=": not a font
        QTest::addColumn<QString>("search");
        // The font id that a program named inkscape-bin maps, and this test's
        // program too (as Kernwell's own previews would).
        QTest::addColumn<QString>("mapped");
        QTest::addColumn<QString>("desktopName"); // the Name= of a desktop entry for the program
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("totals"); // "%size": the files' size on disk

        const QStringList library { QStringLiteral("z=Zeta Sans/Regular"), QStringLiteral("b=Alpha Serif/Bold"),
            QStringLiteral("a=Alpha Serif/Regular") };
        QTest::newRow("families sorted, styles under them") << library << QString() << QString() << QString()
            << QStringList { QStringLiteral("Alpha Serif: Bold, Regular"), QStringLiteral("Zeta Sans: Regular") }
            << QStringLiteral("Families: 2, styles: 3, on disk: %size");
        QTest::newRow("search by family") << library << QStringLiteral("alpha") << QString() << QString()
            << QStringList { QStringLiteral("Alpha Serif: Bold, Regular") } << QStringLiteral("Families: 2, styles: 3, on disk: %size");
        QTest::newRow("search by style") << library << QStringLiteral("BOLD") << QString() << QString()
            << QStringList { QStringLiteral("Alpha Serif: Bold") } << QStringLiteral("Families: 2, styles: 3, on disk: %size");
        QTest::newRow("search matching nothing") << library << QStringLiteral("Fraktur") << QString() << QString() << QStringList()
            << QStringLiteral("Families: 2, styles: 3, on disk: %size");
        QTest::newRow("in use by a program mapping one style") << library << QString() << QStringLiteral("b") << QString()
            << QStringList { QStringLiteral("Alpha Serif: Bold, Regular. In use by inkscape-bin"), QStringLiteral("Zeta Sans: Regular") }
            << QStringLiteral("Families: 2, styles: 3, on disk: %size");
        QTest::newRow("in use from a later look, while the window shows") << library << QString() << QStringLiteral("z") << QString()
            << QStringList { QStringLiteral("Alpha Serif: Bold, Regular"), QStringLiteral("Zeta Sans: Regular. In use by inkscape-bin") }
            << QStringLiteral("Families: 2, styles: 3, on disk: %size");
        QTest::newRow("in use, named by its desktop entry") << library << QStringLiteral("zeta") << QStringLiteral("z")
            << QStringLiteral("Inkscape") << QStringList { QStringLiteral("Zeta Sans: Regular. In use by Inkscape") }
            << QStringLiteral("Families: 2, styles: 3, on disk: %size");
        QTest::newRow("a file that holds no font") << QStringList { QStringLiteral("notes.txt") } << QString() << QString() << QString()
            << QStringList { QStringLiteral("notes.txt: ") } << QStringLiteral("Families: 1, styles: 1, on disk: %size");
        QTest::newRow("nothing synced") << QStringList() << QString() << QString() << QString() << QStringList()
                                        << QStringLiteral("Families: 0, styles: 0, on disk: %size");
    }
    void shows()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, search);
        QFETCH(QString, mapped);
        QFETCH(QString, desktopName);
        QFETCH(QStringList, rows);
        QFETCH(QString, totals);
        QTemporaryDir folder;
        qint64 bytes = 0;
        for (const QString& file : std::as_const(files)) {
            const QString path = folder.filePath(file.section(QLatin1Char('='), 0, 0));
            const QString names = file.section(QLatin1Char('='), 1);
            if (names.isEmpty()) {
                TestFonts::write(path, "not a font");
            } else {
                TestFonts::writeNamed(path, names.section(QLatin1Char('/'), 0, 0), names.section(QLatin1Char('/'), 1));
            }
            bytes += QFileInfo(path).size();
        }
        // The program starts using the font only after the window's first look.
        const bool later = QString::fromLatin1(QTest::currentDataTag()).endsWith(QLatin1String("while the window shows"));
        pid_t program = mapped.isEmpty() || later ? 0 : mapInChild(folder.filePath(mapped), "inkscape-bin");
        QVERIFY(program >= 0);
        QFile ownCopy(folder.filePath(mapped));
        if (!mapped.isEmpty()) {
            QVERIFY(ownCopy.open(QIODevice::ReadOnly) && ownCopy.map(0, ownCopy.size()));
        }
        QTemporaryDir applications;
        if (!desktopName.isEmpty()) {
            QVERIFY(QDir().mkpath(applications.filePath(QStringLiteral("applications"))));
            TestFonts::write(applications.filePath(QStringLiteral("applications/inkscape.desktop")),
                "[Desktop Entry]\nName=" + desktopName.toUtf8() + "\nExec=" + QFile::encodeName(QCoreApplication::applicationFilePath())
                    + " %F\n[Desktop Action new]\nName=New Drawing\n");
        }
        const QHash<QString, QString> desktopNames = FontUsageScanner::readDesktopNames({ applications.path() });
        const SyncedFontReader reader(folder.path(), folder.filePath(QStringLiteral("links")));
        FontsWindow window([&reader] { return reader.read(); },
            [&desktopNames](const QList<SyncedFont>& fonts) {
                return FontUsageScanner(QStringLiteral("/proc"), ::getpid(), ::getuid(), desktopNames).scan(fonts);
            },
            later ? std::chrono::milliseconds(20) : std::chrono::milliseconds(std::chrono::hours(1)));
        QSignalSpy usage(&window, &FontsWindow::usageUpdated);
        window.show();
        QVERIFY(usage.wait());
        if (later) {
            QVERIFY(!window.model().index(1).data().toString().contains(QLatin1String("In use")));
            program = mapInChild(folder.filePath(mapped), "inkscape-bin");
            QTRY_COMPARE(window.model().index(1).data().toString(), rows.at(1));
        }
        if (program > 0) {
            ::kill(program, SIGKILL);
            ::waitpid(program, nullptr, 0);
        }
        QTest::keyClicks(window.searchField(), search);

        QStringList shown;
        for (int row = 0; row < window.model().rowCount(); ++row) {
            shown.append(window.model().index(row).data().toString());
        }
        QCOMPARE(shown, rows);
        QCOMPARE(window.totals()->text(), QString(totals).replace(QStringLiteral("%size"),
            QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat)));
        QCOMPARE(window.list()->isVisibleTo(&window), !rows.isEmpty());
        QCOMPARE(window.emptyState()->isVisibleTo(&window), rows.isEmpty());
        if (files.isEmpty()) {
            QCOMPARE(window.emptyState()->text(), QStringLiteral("No fonts are synced to this computer."));
            QVERIFY(!window.totals()->isVisibleTo(&window));
        }
        // The search field has the keyboard; Escape closes the window.
        QCOMPARE(QApplication::focusWidget(), window.searchField());
        QTest::keyClick(window.searchField(), Qt::Key_Escape);
        QVERIFY(!window.isVisible());
    }
};

KERNWELL_GUI_TEST_MAIN(TestFontsWindow)
#include "tst_FontsWindow.moc"
