#include "app/VersionFormat.h"

#include "TestMain.h"

using kernwell::VersionFormat;

class TestVersionFormat : public QObject {
    Q_OBJECT
public:
    explicit TestVersionFormat(const kernwell::test::Sandbox&) { }

private slots:
    void format_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected"); // empty: refused
        QTest::newRow("sequential") << "Version %@ (%@)" << "Version 1.2 (34)";
        QTest::newRow("positional") << "Version %1$@ (%2$@)" << "Version 1.2 (34)";
        QTest::newRow("positional reversed") << "Build %2$@ of %1$@" << "Build 34 of 1.2";
        QTest::newRow("positional repeated") << "%1$@/%2$@/%1$@" << "1.2/34/1.2";
        QTest::newRow("percent sign") << "%@ (%@) 100%%" << "1.2 (34) 100%";
        QTest::newRow("adjacent") << "%@%@" << "1.234";
        QTest::newRow("one argument only") << "Version %@" << "";
        QTest::newRow("second argument never used") << "%1$@ %1$@" << "";
        QTest::newRow("three arguments") << "%@ %@ %@" << "";
        QTest::newRow("argument 3") << "%1$@ %3$@" << "";
        QTest::newRow("argument 0") << "%0$@ %1$@ %2$@" << "";
        QTest::newRow("mixed forms") << "%@ %2$@" << "";
        QTest::newRow("integer conversion") << "%@ %d" << "";
        QTest::newRow("C string conversion") << "%s %s" << "";
        QTest::newRow("lone percent at end") << "%@ %@ %" << "";
        QTest::newRow("no conversions") << "Kernwell" << "";
        QTest::newRow("empty") << "" << "";
    }
    void format()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        const auto result = VersionFormat::format(format, QStringLiteral("1.2"), QStringLiteral("34"));
        QCOMPARE(result.text, expected);
        QCOMPARE(result.problem.isEmpty(), !expected.isEmpty());
    }

    // Arguments are inserted once; conversions inside them are not expanded again.
    void argumentsAreVerbatim()
    {
        const auto result = VersionFormat::format(QStringLiteral("%@ %@"), QStringLiteral("%2$@"), QStringLiteral("%%"));
        QCOMPARE(result.text, QStringLiteral("%2$@ %%"));
    }
};

KERNWELL_TEST_MAIN(TestVersionFormat)
#include "tst_VersionFormat.moc"
