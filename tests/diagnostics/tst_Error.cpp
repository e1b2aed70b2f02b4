#include "diagnostics/Error.h"

#include "TestMain.h"

using kernwell::Error;

class TestError : public QObject {
    Q_OBJECT
public:
    explicit TestError(const kernwell::test::Sandbox&) { }

private slots:
    void whatNamesDomainCodeAndDescription()
    {
        const Error error(QStringLiteral("Domain"), -25300, QStringLiteral("Not found."));
        QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("Domain -25300: Not found."));
    }
};

KERNWELL_TEST_MAIN(TestError)
#include "tst_Error.moc"
