#include "ui/UiResources.h"

#include "TestMain.h"

#include <QFontInfo>
#include <QSvgRenderer>

class TestUiResources : public QObject {
    Q_OBJECT
public:
    explicit TestUiResources(const kernwell::test::Sandbox&) { }

private slots:
    void initTestCase() { QVERIFY(kernwell::registerTypefaces()); }

    void assetIsAValidImage_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : { "AppTrayYellow", "AppTrayBase", "AppTrayWorking", "AppTrayGreen", "AppTrayRed",
                 "MenuBarNav", "NavIcon", "KernwellSignIn", "BrowseFontsButton", "CTAPreview" }) {
            QTest::newRow(name) << QString::fromLatin1(name);
        }
    }
    void assetIsAValidImage()
    {
        QFETCH(QString, name);
        QSvgRenderer renderer(kernwell::assetPath(name));
        QVERIFY2(renderer.isValid(), qPrintable(name));
        QVERIFY(!renderer.defaultSize().isEmpty());
    }

    void interfaceTypefacesResolveToTheBundledFont_data()
    {
        QTest::addColumn<kernwell::Typeface>("face");
        QTest::addColumn<bool>("bold");
        QTest::newRow("Ombrel-Regular") << kernwell::Typeface::Regular << false;
        QTest::newRow("Ombrel-Bold") << kernwell::Typeface::Bold << true;
    }
    void interfaceTypefacesResolveToTheBundledFont()
    {
        QFETCH(kernwell::Typeface, face);
        QFETCH(bool, bold);
        const QFontInfo info(kernwell::typeface(face, 14));
        QCOMPARE(info.family(), QStringLiteral("Liberation Sans"));
        QCOMPARE(info.bold(), bold);
        QCOMPARE(info.pixelSize(), 14);
    }
};

KERNWELL_GUI_TEST_MAIN(TestUiResources)
#include "tst_UiResources.moc"
