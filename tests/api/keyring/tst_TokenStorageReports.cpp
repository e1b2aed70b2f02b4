#include "api/MacOSTokenStorage.h"

#include "RecordingLogger.h"
#include "TestMain.h"
#include "support/FakeKeyring.h"

using kernwell::Keyring;
using kernwell::MacOSTokenStorage;
using kernwell::test::FakeKeyring;
using kernwell::test::RecordingLogger;

// Every keyring status, including numbers that have no text of their own,
// becomes exactly one report with the right lead text, and nothing is retried.
class TestTokenStorageReports : public QObject {
    Q_OBJECT
public:
    explicit TestTokenStorageReports(const kernwell::test::Sandbox&) { }

private slots:
    void load_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<std::optional<Keyring::Item>>("item");
        QTest::addColumn<QStringList>("reports");

        const std::optional<Keyring::Item> none;
        const QStringList unusable { QStringLiteral("Keychain returned unexpected token data.") };
        QTest::newRow("status with a text") << -25308 << none << QStringList { QStringLiteral("The keyring is locked.") };
        QTest::newRow("status without a text")
            << -67 << none << QStringList { QStringLiteral("Keychain access returned an unexpected status -67") };
        QTest::newRow("positive status without a text")
            << 5 << none << QStringList { QStringLiteral("Keychain access returned an unexpected status 5") };
        QTest::newRow("success without an item") << 0 << none << unusable;
        QTest::newRow("no data") << 0 << std::optional(Keyring::Item { QStringLiteral("a"), std::nullopt }) << unusable;
        QTest::newRow("no account") << 0 << std::optional(Keyring::Item { std::nullopt, QByteArray("t") }) << unusable;
    }
    void load()
    {
        QFETCH(int, status);
        QFETCH(std::optional<Keyring::Item>, item);
        QFETCH(QStringList, reports);
        auto logger = std::make_shared<RecordingLogger>();
        auto keyring = std::make_shared<FakeKeyring>();
        keyring->found = { status, item };
        MacOSTokenStorage storage(logger, keyring);

        QCOMPARE(storage.loadCredentials(QStringLiteral("S")), std::nullopt);
        QCOMPARE(logger->messages(), reports);
        QCOMPARE(keyring->calls, QStringList { QStringLiteral("find S") });
    }

    void save_data()
    {
        QTest::addColumn<int>("addStatus");
        QTest::addColumn<int>("updateStatus");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("reports");

        const QString add = QStringLiteral("add S a@b 746f6b");
        const QString update = QStringLiteral("update S a@b 746f6b");
        QTest::newRow("duplicate, updated") << -25299 << 0 << QStringList { add, update } << QStringList();
        QTest::newRow("duplicate, update with a text") << -25299 << -25291 << QStringList { add, update }
                                                       << QStringList { QStringLiteral("No keyring is available: no Secret Service is running on the session bus.") };
        QTest::newRow("duplicate, update without a text") << -25299 << -9 << QStringList { add, update }
                                                          << QStringList { QStringLiteral("Keychain update returned an unexpected status -9") };
        QTest::newRow("add with a text") << -26001 << 0 << QStringList { add }
                                         << QStringList { QStringLiteral("The keyring could not be reached over D-Bus.") };
        QTest::newRow("add without a text") << -1 << 0 << QStringList { add }
                                            << QStringList { QStringLiteral("Keychain add returned an unexpected status -1") };
    }
    void save()
    {
        QFETCH(int, addStatus);
        QFETCH(int, updateStatus);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, reports);
        auto logger = std::make_shared<RecordingLogger>();
        auto keyring = std::make_shared<FakeKeyring>();
        keyring->addStatus = addStatus;
        keyring->updateStatus = updateStatus;
        MacOSTokenStorage storage(logger, keyring);

        storage.saveCredentials(QStringLiteral("tok"), QStringLiteral("a@b"), QStringLiteral("S"));
        QCOMPARE(keyring->calls, calls);
        QCOMPARE(logger->messages(), reports);
    }

    void remove_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("reports");

        QTest::newRow("not found is reported")
            << -25300 << QStringList { QStringLiteral("The item could not be found in the keyring.") };
        QTest::newRow("status without a text")
            << -34018 << QStringList { QStringLiteral("Keychain delete returned an unexpected status -34018") };
    }
    void remove()
    {
        QFETCH(int, status);
        QFETCH(QStringList, reports);
        auto logger = std::make_shared<RecordingLogger>();
        auto keyring = std::make_shared<FakeKeyring>();
        keyring->removeStatus = status;
        MacOSTokenStorage storage(logger, keyring);

        storage.saveCredentials(std::nullopt, QStringLiteral("a@b"), QStringLiteral("S"));
        QCOMPARE(keyring->calls, QStringList { QStringLiteral("remove S a@b") });
        QCOMPARE(logger->messages(), reports);
    }
};

KERNWELL_TEST_MAIN(TestTokenStorageReports)
#include "tst_TokenStorageReports.moc"
