#include "diagnostics/sentry/Outbox.h"

#include "TestMain.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using kernwell::Outbox;

namespace {

// Makes `file` of the outbox in `folder` unreadable (if asked) and the
// folder's files unremovable. Permissions do not stop root: there, in a
// mount namespace of this process's own, the folder becomes a read-only
// bind mount, and an unreadable file is covered by a file whose reads fail.
class Jammed {
public:
    Jammed(const QString& folder, const QString& file, bool unreadable)
        : m_folder(folder)
        , m_file(file)
    {
        if (::geteuid() != 0) {
            m_ok = (!unreadable || QFile::setPermissions(file, {}))
                && QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            return;
        }
        static const bool ownNamespace
            = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        const QByteArray path = QFile::encodeName(folder);
        m_ok = ownNamespace && (!unreadable || ::mount("/proc/self/mem", QFile::encodeName(file).constData(), nullptr, MS_BIND, nullptr) == 0)
            && ::mount(path.constData(), path.constData(), nullptr, MS_BIND | MS_REC, nullptr) == 0
            && ::mount(nullptr, path.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    ~Jammed()
    {
        if (::geteuid() != 0) {
            QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            return;
        }
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
        ::umount2(QFile::encodeName(m_file).constData(), MNT_DETACH);
    }
    Jammed(const Jammed&) = delete;
    Jammed& operator=(const Jammed&) = delete;

    bool ok() const { return m_ok; }

private:
    QString m_folder;
    QString m_file;
    bool m_ok = false;
};

} // namespace

class TestOutbox : public QObject {
    Q_OBJECT
public:
    explicit TestOutbox(const kernwell::test::Sandbox&) { }

private slots:
    void keepsTheNewest_data()
    {
        QTest::addColumn<int>("maxFiles");
        QTest::addColumn<int>("stored");

        QTest::newRow("below the bound") << 5 << 3;
        QTest::newRow("at the bound") << 5 << 5;
        QTest::newRow("beyond the bound") << 5 << 12;
        QTest::newRow("bound of one") << 1 << 4;
    }
    void keepsTheNewest()
    {
        QFETCH(int, maxFiles);
        QFETCH(int, stored);
        QTemporaryDir dir;
        Outbox outbox(dir.path() + QStringLiteral("/nested/outbox"), maxFiles, 1 << 20);
        for (int i = 0; i < stored; ++i) {
            outbox.store(QByteArray::number(i));
        }
        // A second instance on the same folder (the next start) sees the same files.
        const QStringList files = Outbox(outbox.path(), maxFiles, 1 << 20).files();
        QCOMPARE(files.size(), qMin(maxFiles, stored));
        for (qsizetype i = 0; i < files.size(); ++i) {
            QCOMPARE(outbox.read(files.at(i)), std::optional(QByteArray::number(stored - files.size() + i)));
        }
    }

    // Bounded by bytes too: a few large envelopes push the older ones out
    // long before the count is reached.
    void keepsTheNewestWithinBytes_data()
    {
        QTest::addColumn<QList<int>>("sizes"); // stored in this order
        QTest::addColumn<int>("kept"); // the newest this many

        QTest::newRow("all fit") << QList<int> { 100, 100, 100 } << 3;
        QTest::newRow("exactly the bound") << QList<int> { 400, 300, 300 } << 3;
        QTest::newRow("one byte over") << QList<int> { 401, 300, 300 } << 2;
        QTest::newRow("a large one pushes out the rest") << QList<int> { 100, 100, 100, 950 } << 1;
        QTest::newRow("larger than the bound is not kept") << QList<int> { 100, 1001 } << 1;
    }
    void keepsTheNewestWithinBytes()
    {
        QFETCH(QList<int>, sizes);
        QFETCH(int, kept);
        QTemporaryDir dir;
        Outbox outbox(dir.path() + QStringLiteral("/outbox"), 100, 1000);
        for (qsizetype i = 0; i < sizes.size(); ++i) {
            outbox.store(QByteArray(sizes.at(i), static_cast<char>('a' + i)));
        }
        const QStringList files = outbox.files();
        QCOMPARE(files.size(), kept);
        qint64 total = 0;
        for (const QString& file : files) {
            total += QFileInfo(file).size();
        }
        QVERIFY(total <= 1000);
        // The newest that fit, in order.
        const qsizetype newest = sizes.last() > 1000 ? sizes.size() - 2 : sizes.size() - 1;
        QCOMPARE(outbox.read(files.last())->at(0), static_cast<char>('a' + newest));
    }

    // A delivered envelope that cannot be removed, or one that can be
    // neither read nor removed, is never listed again in this run (the
    // sender would send it for ever, or spin on it), and is reported once.
    void stuckFileIsSkipped_data()
    {
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("readable, not removable") << false;
        QTest::newRow("neither readable nor removable") << true;
    }
    void stuckFileIsSkipped()
    {
        QFETCH(bool, unreadable);
        QTemporaryDir dir;
        Outbox outbox(dir.path() + QStringLiteral("/outbox"), 10, 1 << 20);
        outbox.store("first");
        outbox.store("second");
        const QStringList stored = outbox.files();
        QCOMPARE(stored.size(), 2);
        const Jammed jammed(outbox.path(), stored.first(), unreadable);
        QVERIFY(jammed.ok());

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(stored.first())));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        if (unreadable) {
            QCOMPARE(outbox.read(stored.first()), std::nullopt);
        } else {
            QCOMPARE(outbox.read(stored.first()), std::optional(QByteArray("first")));
            outbox.remove(stored.first());
        }
        QCOMPARE(outbox.files(), QStringList { stored.last() });
        outbox.remove(stored.first());
        QCOMPARE(outbox.read(stored.last()), std::optional(QByteArray("second")));
        QVERIFY(QFileInfo::exists(stored.first()));
    }

    void folderIsPrivate()
    {
        QTemporaryDir dir;
        Outbox outbox(dir.path() + QStringLiteral("/outbox"), 3, 1 << 20);
        outbox.store("x");
        QCOMPARE(QFile::permissions(outbox.path()) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
            QFileDevice::Permissions());
    }
};

KERNWELL_TEST_MAIN(TestOutbox)
#include "tst_Outbox.moc"
