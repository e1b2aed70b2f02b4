#include "ui/ColorScheme.h"
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

    // Each image, and the dark variant of those the windows show: their
    // black turned light, the illustration as it is.
    void assetIsAValidImage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("recoloured");
        for (const char* name : { "AppTrayYellow", "AppTrayBase", "AppTrayWorking", "AppTrayGreen", "AppTrayRed",
                 "MenuBarNav", "NavIcon", "KernwellSignIn", "BrowseFontsButton", "CTAPreview" }) {
            QTest::newRow(name) << QString::fromLatin1(name) << false << false;
        }
        for (const char* name : { "MenuBarNav", "NavIcon", "KernwellSignIn", "BrowseFontsButton",
                 "arrow.triangle.2.circlepath.circle.fill" }) {
            QTest::addRow("%s, dark", name) << QString::fromLatin1(name) << true << true;
        }
        QTest::newRow("CTAPreview, dark") << QStringLiteral("CTAPreview") << true << false;
    }
    void assetIsAValidImage()
    {
        QFETCH(QString, name);
        QFETCH(bool, dark);
        QFETCH(bool, recoloured);
        const QByteArray light = kernwell::assetData(name, kernwell::ColorScheme::Light);
        const QByteArray data = dark ? kernwell::assetData(name, kernwell::ColorScheme::Dark) : light;
        QSvgRenderer renderer(data);
        QVERIFY2(renderer.isValid(), qPrintable(name));
        QVERIFY(!renderer.defaultSize().isEmpty());
        QCOMPARE(data != light, recoloured);
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
