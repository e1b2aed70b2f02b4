#include "ui/ColorScheme.h"
#include "ui/ContentView.h"
#include "ui/ImageButton.h"
#include "ui/UiResources.h"

#include "support/FakeSession.h"
#include "FakeToolkit.h"
#include "support/UiTestHelpers.h"

#include "TestMain.h"

#include <QLabel>
#include <QPainter>
#include <QScopeGuard>
#include <QSvgRenderer>
#include <QTranslator>

#include <memory>

using namespace kernwell;
using namespace kernwell::test;

namespace {

// A language whose words for the image buttons are `label`.
class ButtonLanguage : public QTranslator {
public:
    explicit ButtonLanguage(QString label)
        : m_label(std::move(label))
    {
    }
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char*, const char*, int) const override
    {
        return QLatin1String(context) == QLatin1String("kernwell::ImageButton") ? m_label : QString();
    }

private:
    QString m_label;
};

// How many pixels of `image` inside `area` are near white.
int whitePixels(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            count += colour.alpha() > 200 && colour.red() > 200 && colour.green() > 200 && colour.blue() > 200;
        }
    }
    return count;
}

} // namespace

class TestContentView : public QObject {
    Q_OBJECT
public:
    explicit TestContentView(const Sandbox&) { }

private:
    std::unique_ptr<FakeSession> session;
    std::unique_ptr<FakeToolkit> toolkit;
    std::unique_ptr<ContentView> view;
    int dismissals = 0;
    int updateChecks = 0;

    void build(const QString& version = QStringLiteral("Version 1.2 (34)"))
    {
        view = std::make_unique<ContentView>([this] { ++dismissals; }, testPages(), [this] { ++updateChecks; }, *session,
            version, *toolkit);
        view->show();
    }

    // Every text the user can see, sorted.
    QStringList visibleTexts() const
    {
        QStringList texts;
        for (auto* label : view->findChildren<QLabel*>()) {
            if (label->isVisibleTo(view.get())) {
                texts.append(label->text());
            }
        }
        for (auto* button : view->findChildren<QAbstractButton*>()) {
            if (button->isVisibleTo(view.get())) {
                texts.append(button->text());
            }
        }
        texts.sort();
        return texts;
    }

private slots:
    void initTestCase() { QVERIFY(registerTypefaces()); }

    void init()
    {
        session = std::make_unique<FakeSession>();
        toolkit = std::make_unique<FakeToolkit>();
        dismissals = 0;
        updateChecks = 0;
    }

    void cleanup()
    {
        view.reset();
        toolkit.reset();
        session.reset();
    }

    void signInPageWithoutError()
    {
        build();
        QCOMPARE(view->size(), QSize(1064, 664));
        QCOMPARE(view->currentPage(), view->signInPage());
        QVERIFY(shown<QLabel>(view.get(), QStringLiteral("Sign in to Kernwell")));
        QVERIFY(shown<QLabel>(view.get(), QStringLiteral("No Account?")));
        QVERIFY(!view->errorRow()->isVisibleTo(view.get()));
        QVERIFY(!shown<QLabel>(view.get(), QStringLiteral("Unable to sign in, please try again.")));
    }

    void errorRowShowsTheSameFixedWords_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("keyringLocked");
        QTest::newRow("refused") << QStringLiteral("Unable to sign in.") << false;
        QTest::newRow("no network") << QStringLiteral("Unable to connect.") << false;
        QTest::newRow("empty text") << QString() << false;
        QTest::newRow("markup") << QStringLiteral("<a href='x'>click</a>") << false;
        QTest::newRow("keyring locked") << QStringLiteral("The keyring is locked. Kernwell will sign in when you unlock it.")
                                        << true;
    }
    void errorRowShowsTheSameFixedWords()
    {
        QFETCH(QString, error);
        QFETCH(bool, keyringLocked);
        build();
        const QStringList withoutError = visibleTexts();
        session->setKeyringLocked(keyringLocked);
        session->setVisibleError(error);
        QVERIFY(view->errorRow()->isVisibleTo(view.get()));
        // The fixed words appear, and nothing else: the error's own text is
        // shown only when the keyring is locked, which is no case for support.
        QStringList expected = withoutError;
        expected << (keyringLocked ? QStringList { error }
                                   : QStringList { QStringLiteral("Unable to sign in, please try again."),
                                         QStringLiteral("Contact support.") });
        expected.sort();
        QCOMPARE(visibleTexts(), expected);
        if (keyringLocked) {
            return;
        }
        auto* support = shown(view.get(), QStringLiteral("Contact support."));
        QVERIFY(support);
        QTest::mouseClick(support, Qt::LeftButton);
        QCOMPARE(toolkit->openedUrls, QList<QUrl> { testPages().supportURL });

        session->setVisibleError(std::nullopt);
        QVERIFY(!view->errorRow()->isVisibleTo(view.get()));
    }

    void signInPageControls_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QUrl>("opens");
        QTest::addColumn<int>("expectedUpdateChecks");
        QTest::newRow("sign-in image") << QStringLiteral("Sign in with your browser") << testPages().authorizeURL << 0;
        QTest::newRow("sign up") << QStringLiteral("Sign Up.") << testPages().signupURL << 0;
        QTest::newRow("check for updates") << QStringLiteral("Check for updates.") << QUrl() << 1;
    }
    void signInPageControls()
    {
        QFETCH(QString, control);
        QFETCH(QUrl, opens);
        QFETCH(int, expectedUpdateChecks);
        build();
        auto* button = shown(view.get(), control);
        QVERIFY2(button, qPrintable(control));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(toolkit->openedUrls, opens.isEmpty() ? QList<QUrl>() : QList<QUrl> { opens });
        QCOMPARE(updateChecks, expectedUpdateChecks);
        QCOMPARE(dismissals, 0);
    }

    void versionSitsBottomRight_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("short") << QStringLiteral("Version 1.2 (34)");
        QTest::newRow("long") << QStringLiteral("Version 1.2.3-beta.4+build.5678 (build 20261207.1) ").repeated(8);
        QTest::newRow("markup stays text") << QStringLiteral("<i>1.0</i>");
    }
    void versionSitsBottomRight()
    {
        QFETCH(QString, version);
        build(version);
        auto* label = view->versionLabel();
        QCOMPARE(label->text(), version);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QVERIFY(label->alignment() & Qt::AlignRight);
        const QRect inView(label->mapTo(view.get(), QPoint()), label->size());
        // Right edge on the content's right edge, bottom on the content's bottom.
        QCOMPARE(inView.right(), view->width() - 32 - 1);
        QCOMPARE(inView.bottom(), view->height() - 32 - 1);
        QVERIFY(inView.left() >= 32);
    }

    void followsSignInLiveAndBack()
    {
        build();
        session->setVisibleError(QStringLiteral("Unable to connect."));
        session->setSignedIn(true);
        QCOMPARE(view->currentPage(), view->welcomePage());
        QVERIFY(shown<QLabel>(view.get(), QStringLiteral("Welcome to Kernwell")));
        QVERIFY(!shown<QLabel>(view.get(), QStringLiteral("Sign in to Kernwell")));
        session->setSignedIn(false);
        QCOMPARE(view->currentPage(), view->signInPage());
    }

    void welcomePageControls()
    {
        build();
        session->setSignedIn(true);
        QTest::mouseClick(shown(view.get(), QStringLiteral("Browse fonts")), Qt::LeftButton);
        QCOMPARE(toolkit->openedUrls, QList<QUrl> { testPages().browseFontsURL });
        QCOMPARE(dismissals, 0);
        auto* pitch = shown<QLabel>(view.get(),
            QStringLiteral("Find, sync, and test fonts with ease \u2014 access Kernwell in the system tray whenever you need it."));
        QVERIFY(pitch);
        QCOMPARE(pitch->width(), 346);
        QVERIFY(pitch->wordWrap());
        QVERIFY2(pitch->height() >= pitch->heightForWidth(346), "the text's last line is cut off");
        QTest::mouseClick(shown(view.get(), QStringLiteral("You are now logged in. Close the window to continue.")),
            Qt::LeftButton);
        QCOMPARE(dismissals, 1);
    }

    // The image buttons' labels are text over images that carry none:
    // translated like every text, shrunk or wrapped where a language needs
    // more room, and never cut.
    void imageButtonLabelsAreText_data()
    {
        QTest::addColumn<QString>("translation"); // "de": the shipped German
        QTest::addColumn<bool>("welcome");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("lines");
        const QString longer = QStringLiteral("Mit Ihrem Browser anmelden");
        const QString longest = QStringLiteral("Mit Ihrem Webbrowser bei Kernwell anmelden und fortfahren");
        QTest::newRow("sign in, English") << QString() << false << QStringLiteral("Sign in with your browser") << 1;
        QTest::newRow("sign in, German") << QStringLiteral("de") << false << QStringLiteral("Im Browser anmelden") << 1;
        QTest::newRow("sign in, a little longer") << longer << false << longer << 1;
        QTest::newRow("sign in, much longer") << longest << false << longest << 3;
        QTest::newRow("browse, English") << QString() << true << QStringLiteral("Browse fonts") << 1;
        QTest::newRow("browse, German") << QStringLiteral("de") << true << QStringLiteral("Schriften entdecken") << 1;
        QTest::newRow("browse, much longer") << longest << true << longest << 3;
    }
    void imageButtonLabelsAreText()
    {
        QFETCH(QString, translation);
        QFETCH(bool, welcome);
        QFETCH(QString, label);
        QFETCH(int, lines);
        QTranslator german;
        ButtonLanguage other(translation);
        QTranslator* language = translation == QLatin1String("de") ? &german : &other;
        if (language == &german) {
            QVERIFY(german.load(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/kernwell/translations/kernwell_de.qm")));
        }
        if (!translation.isEmpty()) {
            QCoreApplication::installTranslator(language);
        }
        const auto restore = qScopeGuard([language] { QCoreApplication::removeTranslator(language); });
        build();
        session->setSignedIn(welcome);
        auto* button = shown<ImageButton>(view.get(), label);
        QVERIFY(button);
        QCOMPARE(button->accessibleName(), label);
        QCOMPARE(button->labelLineCount(), lines);
        QVERIFY2(button->labelFont().pixelSize() >= 12, "shrunk past reading");
        QVERIFY(button->labelArea().contains(button->labelRect()));
        // Drawn over the image, where the image itself has nothing.
        const QRect place = button->labelArea().toAlignedRect();
        QVERIFY(whitePixels(button->grab().toImage(), place) > 100);
        QImage bare(button->size(), QImage::Format_ARGB32_Premultiplied);
        bare.fill(Qt::transparent);
        QPainter painter(&bare);
        QSvgRenderer(assetData(button->imageName(), ColorScheme::Light)).render(&painter, button->imageRect());
        painter.end();
        QCOMPARE(whitePixels(bare, place), 0);
    }

    void welcomePageFitsTheWindow()
    {
        build();
        session->setSignedIn(true);
        for (auto* child : view->welcomePage()->findChildren<QWidget*>()) {
            const QRect inView(child->mapTo(view.get(), QPoint()), child->size());
            QVERIFY2(view->rect().adjusted(32, 32, -32, -32).contains(inView), qPrintable(child->objectName()));
        }
    }
};

KERNWELL_GUI_TEST_MAIN(TestContentView)
#include "tst_ContentView.moc"
