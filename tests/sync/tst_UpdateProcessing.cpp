#include "RunTask.h"
#include "TestMain.h"

#include "support/ProviderHarness.h"
#include "TestFonts.h"

#include "api/ServiceError.h"
#include "sync/Sleeper.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>

using namespace kernwell;
using namespace kernwell::test;
using namespace std::chrono_literals;

namespace {

const QString account = QString::fromLatin1(ProviderHarness::email);
const QString unsafeId = QStringLiteral("The font id cannot be used as a file name.");
const QString noLink = QStringLiteral("Remote file name is missing.");


QUrl link(const QString& id)
{
    return QUrl(QStringLiteral("http://fonts.test/") + id + QStringLiteral(".ttf"));
}

// A catalog whose style ids name one font each, apart from "family".
void fillCatalog(FakeUrlSession& session)
{
    auto add = [&](const QString& id, std::optional<QString> family, std::optional<QString> subfamily,
                   std::optional<QString> style, QList<QString> links) {
        session.catalog[id].append(catalogFont(id, family, subfamily, style, links));
    };
    const auto none = std::nullopt;
    add(QStringLiteral("regular"), QStringLiteral("Ombrel"), QStringLiteral("Sans"), QStringLiteral("Regular"),
        { link(QStringLiteral("regular")).toString(), QStringLiteral("http://fonts.test/second.ttf") });
    add(QStringLiteral("bold"), QStringLiteral("Ombrel"), none, QStringLiteral("Bold"), { link(QStringLiteral("bold")).toString() });
    add(QStringLiteral("nameless"), none, none, none, { link(QStringLiteral("nameless")).toString() });
    add(QStringLiteral("subonly"), none, QStringLiteral("Sans"), none, { link(QStringLiteral("subonly")).toString() });
    add(QStringLiteral("noformats"), QStringLiteral("Gone"), none, none, {});
    add(QStringLiteral("badlink"), QStringLiteral("Bad"), none, none, { QStringLiteral("http://[broken") });
    add(QStringLiteral("relative"), QStringLiteral("Near"), none, none, { QStringLiteral("near.ttf") });
    add(QStringLiteral("../evil"), QStringLiteral("Evil"), none, none, { link(QStringLiteral("evil")).toString() });
    session.catalog[QStringLiteral("family")] = {
        catalogFont(QStringLiteral("family-regular"), QStringLiteral("Kin"), none, QStringLiteral("Regular"),
            { link(QStringLiteral("family-regular")).toString() }),
        catalogFont(QStringLiteral("family-italic"), QStringLiteral("Kin"), none, QStringLiteral("Italic"),
            { link(QStringLiteral("family-italic")).toString() }),
    };
}

// (fonts added, fonts to add) after each change of the count.
using Steps = QList<QPair<qint64, qint64>>;

QStringList describe(const UpdateWork& work, const QString& which)
{
    QStringList result;
    if (which == QStringLiteral("add")) {
        for (const auto& font : work.toAdd) {
            result.append(font.fontId + QLatin1Char('=') + font.qorDisplayName + QLatin1Char('@') + font.remoteURL.toString());
        }
    } else if (which == QStringLiteral("remove")) {
        for (const auto& font : work.toRemove) {
            result.append(font.fontId + QLatin1Char('=') + font.qorDisplayName);
        }
    } else {
        for (const auto& font : which == QStringLiteral("aside") ? work.setAside : work.notRemoved) {
            result.append(font.fontId + QLatin1Char('=') + font.qorDisplayName + QLatin1Char(':') + font.error);
        }
    }
    return result;
}

QString at(const QString& id)
{
    return QLatin1Char('@') + link(id).toString();
}

// Serves fonts under the links of catalog fonts named "DejaVu <id> Book",
// through the downloader and the session:
// copies of the repository's own typeface, of a family installed nowhere
// else, so that no clash warning joins the notifications.
void serveFonts(ProviderHarness& harness)
{
    const std::optional<QString> none;
    const QList<std::pair<QString, QString>> fonts {
        { QStringLiteral("sans"), QStringLiteral("LiberationSans-Regular.ttf") },
        { QStringLiteral("mono"), QStringLiteral("LiberationSans-Bold.ttf") },
        { QStringLiteral("serif"), QStringLiteral("LiberationSans-Italic.ttf") },
        { QStringLiteral("old"), QStringLiteral("LiberationSans-BoldItalic.ttf") },
    };
    const QTemporaryDir files;
    for (const auto& [id, typeface] : fonts) {
        TestFonts::writeRenamed(typeface, files.filePath(id));
        harness.downloader->serveFile(link(id), files.filePath(id));
        harness.session->files.insert(link(id), FakeUrlSession::ok(TestFonts::read(files.filePath(id))));
        harness.session->catalog[id] = { catalogFont(id, QStringLiteral("DejaVu ") + id, none, QStringLiteral("Book"),
            { link(id).toString() }) };
    }
}

// The last assignments were the end of a success display.
bool successShown(const ProviderHarness& harness)
{
    return harness.states.size() >= 2 && harness.states.last() == ConnectionState::SignedIn
        && harness.states.at(harness.states.size() - 2) == ConnectionState::UpdateSuccess;
}

QString syncMessage(const QStringList& append, const QStringList& remove)
{
    auto list = [](const QStringList& ids) {
        QStringList quoted;
        for (const auto& id : ids) {
            quoted.append(QLatin1Char('"') + id + QLatin1Char('"'));
        }
        return QLatin1Char('[') + quoted.join(QLatin1Char(',')) + QLatin1Char(']');
    };
    return QStringLiteral("{\"id\":\"m\",\"desktop:fonts\":{\"append\":%1,\"remove\":%2}}").arg(list(append), list(remove));
}

} // namespace

class TestUpdateProcessing : public QObject {
    Q_OBJECT
public:
    explicit TestUpdateProcessing(const Sandbox&) { }

private slots:
    void cleanup()
    {
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).removeRecursively();
    }

    void messageBecomesFontWork_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("queried");
        QTest::addColumn<QStringList>("toAdd");
        QTest::addColumn<QStringList>("toRemove");
        QTest::addColumn<QStringList>("setAside");
        QTest::addColumn<QStringList>("notRemoved");
        QTest::addColumn<bool>("mismatch");

        const QStringList none;
        QTest::newRow("both lists empty") << syncMessage({}, {}) << none << none << none << none << none << false;
        QTest::newRow("display names")
            << syncMessage({ QStringLiteral("regular"), QStringLiteral("bold"), QStringLiteral("nameless"), QStringLiteral("subonly") }, {})
            << QStringList { QStringLiteral("regular"), QStringLiteral("bold"), QStringLiteral("nameless"), QStringLiteral("subonly") }
            << QStringList { QStringLiteral("regular=Ombrel Sans Regular") + at(QStringLiteral("regular")),
                   QStringLiteral("bold=Ombrel Bold") + at(QStringLiteral("bold")),
                   QStringLiteral("nameless=nameless") + at(QStringLiteral("nameless")),
                   QStringLiteral("subonly=Sans") + at(QStringLiteral("subonly")) }
            << none << none << none << false;
        QTest::newRow("added style unknown to the catalog")
            << syncMessage({ QStringLiteral("regular"), QStringLiteral("ghost") }, {})
            << QStringList { QStringLiteral("regular"), QStringLiteral("ghost") }
            << QStringList { QStringLiteral("regular=Ombrel Sans Regular") + at(QStringLiteral("regular")) } << none << none
            << none << true;
        QTest::newRow("removed style unknown to the catalog")
            << syncMessage({}, { QStringLiteral("ghost"), QStringLiteral("bold") })
            << QStringList { QStringLiteral("ghost"), QStringLiteral("bold") } << none
            << QStringList { QStringLiteral("ghost=Unknown Font"), QStringLiteral("bold=Ombrel Bold") } << none << none << true;
        QTest::newRow("adds before removes in the query")
            << syncMessage({ QStringLiteral("bold") }, { QStringLiteral("regular") })
            << QStringList { QStringLiteral("bold"), QStringLiteral("regular") }
            << QStringList { QStringLiteral("bold=Ombrel Bold") + at(QStringLiteral("bold")) }
            << QStringList { QStringLiteral("regular=Ombrel Sans Regular") } << none << none << false;
        QTest::newRow("no format, a link that is no URL, a relative link")
            << syncMessage({ QStringLiteral("noformats"), QStringLiteral("badlink"), QStringLiteral("relative"), QStringLiteral("bold") }, {})
            << QStringList { QStringLiteral("noformats"), QStringLiteral("badlink"), QStringLiteral("relative"), QStringLiteral("bold") }
            << QStringList { QStringLiteral("bold=Ombrel Bold") + at(QStringLiteral("bold")) } << none
            << QStringList { QStringLiteral("noformats=Gone:") + noLink, QStringLiteral("badlink=Bad:") + noLink,
                   QStringLiteral("relative=Near:") + noLink }
            << none << false;
        QTest::newRow("fonts under other ids are skipped")
            << syncMessage({ QStringLiteral("family") }, {}) << QStringList { QStringLiteral("family") } << none << none << none
            << none << true;
        QTest::newRow("unsafe ids are set aside, the rest goes on")
            << syncMessage({ QStringLiteral("../evil"), QStringLiteral("bold") }, { QStringLiteral(".hidden"), QStringLiteral("a/b") })
            << QStringList { QStringLiteral("../evil"), QStringLiteral("bold"), QStringLiteral(".hidden"), QStringLiteral("a/b") }
            << QStringList { QStringLiteral("bold=Ombrel Bold") + at(QStringLiteral("bold")) } << none
            << QStringList { QStringLiteral("../evil=Evil:") + unsafeId }
            << QStringList { QStringLiteral(".hidden=Unknown Font:") + unsafeId, QStringLiteral("a/b=Unknown Font:") + unsafeId }
            << true;
        QTest::newRow("a style named twice is added twice")
            << syncMessage({ QStringLiteral("bold"), QStringLiteral("bold") }, {})
            << QStringList { QStringLiteral("bold"), QStringLiteral("bold") }
            << QStringList { QStringLiteral("bold=Ombrel Bold") + at(QStringLiteral("bold")),
                   QStringLiteral("bold=Ombrel Bold") + at(QStringLiteral("bold")) }
            << none << none << none << false;
    }
    void messageBecomesFontWork()
    {
        QFETCH(QString, message);
        QFETCH(QStringList, queried);
        QFETCH(QStringList, toAdd);
        QFETCH(QStringList, toRemove);
        QFETCH(QStringList, setAside);
        QFETCH(QStringList, notRemoved);
        QFETCH(bool, mismatch);

        ProviderHarness harness;
        fillCatalog(*harness.session);
        MacOSProvider& provider = harness.make();
        runTask(provider.signIn(QStringLiteral("callback"), account));

        const std::optional<UpdateWork> work = runTask(provider.handleMessage(WebSocketMessage { message }));
        QVERIFY(work);
        QCOMPARE(harness.session->catalogQueries, QList<QStringList> { queried });
        QCOMPARE(describe(*work, QStringLiteral("add")), toAdd);
        QCOMPARE(describe(*work, QStringLiteral("remove")), toRemove);
        QCOMPARE(describe(*work, QStringLiteral("aside")), setAside);
        QCOMPARE(describe(*work, QStringLiteral("notRemoved")), notRemoved);
        const bool logged = std::any_of(harness.logger->messages().cbegin(), harness.logger->messages().cend(),
            [](const QString& line) { return line.startsWith(QStringLiteral("Some synced styles were not found in graphql: ")); });
        QCOMPARE(logged, mismatch);
    }

    void messageWithoutStylesIsAnEmptyUpdate()
    {
        ProviderHarness harness;
        MacOSProvider& provider = harness.make();
        runTask(provider.signIn(QStringLiteral("callback"), account));
        const auto work = runTask(provider.handleMessage(WebSocketMessage { QStringLiteral("{\"id\":\"m1\"}") }));
        QCOMPARE(work, std::optional(UpdateWork {}));
        QVERIFY(harness.session->catalogQueries.isEmpty());
    }

    void messageYieldsNothing_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::newRow("no access token") << QStringLiteral("token");
        QTest::newRow("catalog unreachable") << QStringLiteral("catalog");
    }
    void messageYieldsNothing()
    {
        QFETCH(QString, cause);
        ProviderHarness harness;
        fillCatalog(*harness.session);
        MacOSProvider& provider = harness.make();
        if (cause == QStringLiteral("catalog")) {
            runTask(provider.signIn(QStringLiteral("callback"), account));
            harness.session->catalogDown = true;
        }
        const auto work = runTask(provider.handleMessage(WebSocketMessage { syncMessage({ QStringLiteral("bold") }, {}) }));
        QCOMPARE(work, std::nullopt);
        if (cause == QStringLiteral("catalog")) {
            QCOMPARE(harness.logger->errors().size(), 1);
        } else {
            QVERIFY(harness.session->catalogQueries.isEmpty());
        }
    }

    // The service counts a message as read once it is read, so what one
    // that failed was to remove goes with the next message, unless that one
    // brings the style back; an id that can never be removed is not kept.
    void removalsOfAFailedMessageGoWithTheNext_data()
    {
        QTest::addColumn<QString>("next");
        QTest::addColumn<QStringList>("toRemove");
        QTest::newRow("next message adds another") << syncMessage({ QStringLiteral("bold") }, {})
                                                   << QStringList { QStringLiteral("regular=Ombrel Sans Regular") };
        QTest::newRow("next message brings it back") << syncMessage({ QStringLiteral("regular") }, {}) << QStringList();
        QTest::newRow("next message has no styles")
            << QStringLiteral("{\"id\":\"m2\"}") << QStringList { QStringLiteral("regular=Ombrel Sans Regular") };
    }
    void removalsOfAFailedMessageGoWithTheNext()
    {
        QFETCH(QString, next);
        QFETCH(QStringList, toRemove);
        ProviderHarness harness;
        fillCatalog(*harness.session);
        MacOSProvider& provider = harness.make();
        runTask(provider.signIn(QStringLiteral("callback"), account));
        harness.session->catalogDown = true;
        const QString failing = syncMessage({}, { QStringLiteral("regular"), QStringLiteral(".hidden") });
        QCOMPARE(runTask(provider.handleMessage(WebSocketMessage { failing })), std::nullopt);
        harness.session->catalogDown = false;
        const std::optional<UpdateWork> work = runTask(provider.handleMessage(WebSocketMessage { next }));
        QVERIFY(work);
        QCOMPARE(describe(*work, QStringLiteral("remove")), toRemove);
        QVERIFY(work->notRemoved.isEmpty());
    }

    void applyUpdateAddsThenRemoves()
    {
        ProviderHarness harness;
        serveFonts(harness);
        MacOSProvider& provider = harness.make();
        const auto first = runTask(provider.applyUpdate(
            { { QStringLiteral("sans"), QStringLiteral("DejaVu sans Book"), link(QStringLiteral("sans")) },
                { QStringLiteral("mono"), QStringLiteral("DejaVu mono Book"), link(QStringLiteral("mono")) } },
            { { QStringLiteral("ghost"), QStringLiteral("Unknown Font") } }));
        QVERIFY(first);
        QCOMPARE(first->size(), 2);
        QCOMPARE(first->at(0).kind, ClientNotificationKind::SyncAdded);
        QCOMPARE(first->at(0).fontId, QStringLiteral("sans"));
        QCOMPARE(first->at(1).qorDisplayName, QStringLiteral("DejaVu mono Book"));
        QCOMPARE(first->at(1).context, std::nullopt);
        QVERIFY(first->at(0).id != first->at(1).id);
        QCOMPARE(harness.linkedFonts(), (QStringList { QStringLiteral("mono"), QStringLiteral("sans") }));

        // Adding a font that is there already is no change; removing one is.
        const auto second = runTask(provider.applyUpdate(
            { { QStringLiteral("sans"), QStringLiteral("DejaVu sans Book"), link(QStringLiteral("sans")) } },
            { { QStringLiteral("mono"), QStringLiteral("DejaVu mono Book") } }));
        QVERIFY(second);
        QCOMPARE(second->size(), 1);
        QCOMPARE(second->first().kind, ClientNotificationKind::SyncRemoved);
        QCOMPARE(second->first().fontId, QStringLiteral("mono"));
        QCOMPARE(harness.linkedFonts(), QStringList { QStringLiteral("sans") });
        QVERIFY(!QFile::exists(provider.fontFolder() + QStringLiteral("/mono")));
    }

    // A font that cannot be added stops neither the fonts after it nor the
    // removals. The update counts as failed: the loop backs off, and the
    // service sends the message again on the next socket. The failure is
    // told once however often it is retried, and again once an update has
    // applied cleanly or a new session has begun. A failed download and a
    // refused registration cover both ways an add fails: before the file is
    // written and after (the causes' own wording is the adapters' and the
    // store's tests').
    void aFailingFontIsRetriedWithBackOff_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("download failed") << false;
        QTest::newRow("registration refused") << true;
    }
    void aFailingFontIsRetriedWithBackOff()
    {
        QFETCH(bool, refused);
        ProviderHarness harness;
        harness.downloadsThroughSession = true;
        serveFonts(harness);
        const FakeUrlSession::Answer mono = harness.session->files.value(link(QStringLiteral("mono")));
        if (!refused) {
            harness.session->files.insert(link(QStringLiteral("mono")), FakeUrlSession::ok({}, 404));
        }
        auto socket = harness.connected();
        QVERIFY(socket);
        MacOSProvider& provider = harness.provider();
        socket->pushText(syncMessage({ QStringLiteral("old") }, {}));
        QVERIFY(waitUntil([&] { return harness.posted.size() == 1; }));
        // A folder where the link must go: no link can be made.
        const QString obstacle = harness.linkDirectory() + QStringLiteral("/1/mono");
        QVERIFY(!refused || QDir().mkpath(obstacle));
        QList<qint64> waits;
        connect(&provider, &MacOSProvider::connectionStateChanged, this, [&] {
            if (provider.connectionState() == ConnectionState::TransientError) {
                waits.append(provider.reconnectSecondsRemaining());
            }
        });
        const QString message = syncMessage(
            { QStringLiteral("sans"), QStringLiteral("mono"), QStringLiteral("serif") }, { QStringLiteral("old") });
        const auto failAgain = [&] {
            const auto sockets = harness.session->sockets.size();
            harness.session->lastSocket()->pushText(message);
            return waitUntil([&] { return harness.session->sockets.size() == sockets + 1; }) && harness.waitForReceive();
        };

        QVERIFY(failAgain());
        QVERIFY(failAgain());
        QCOMPARE(waits, (QList<qint64> { 2, 4 }));
        QCOMPARE(harness.linkedFonts(), (QStringList { QStringLiteral("sans"), QStringLiteral("serif") }));
        QVERIFY(!QFile::exists(provider.fontFolder() + QStringLiteral("/old")));
        // Downloaded ahead while the failing font was fetched, and used.
        QCOMPARE(harness.session->requestedUrls().count(link(QStringLiteral("serif"))), 1);
        QCOMPARE(harness.posted.size(), 4);
        const QString line = harness.posted.at(1).first;
        QVERIFY2(line.startsWith(QStringLiteral("Couldn't add DejaVu mono Book: "))
                && line.endsWith(QStringLiteral(" It will be tried again at the next connection.")),
            qPrintable(line));
        QVERIFY2(refused || line.contains(QStringLiteral("The font file was not found on the service.")), qPrintable(line));
        QCOMPARE(harness.posted.at(2).first, QStringLiteral("Added DejaVu sans Book and 1 other"));
        QCOMPARE(harness.posted.at(3).first, QStringLiteral("Removed DejaVu old Book"));
        QVERIFY(provider.notifications().at(1).kind.isError());

        // An update without styles applies cleanly: the same failure after it is news.
        harness.session->lastSocket()->pushText(QStringLiteral("{}"));
        QVERIFY(waitUntil([&] { return successShown(harness); }));
        QVERIFY(failAgain());
        QCOMPARE(harness.posted.size(), 5);
        QCOMPARE(harness.posted.last().first, line);
        // So it is in a new session of the same account. (Its walk of the
        // link folder would clear the obstacle away.)
        if (!refused) {
            harness.signIn(QStringLiteral("callback"), account);
            QVERIFY(waitUntil([&] { return harness.signInEnded(); }));
            harness.startSync();
            QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 5; }));
            QVERIFY(harness.waitForReceive());
            QVERIFY(failAgain());
            QCOMPARE(harness.posted.size(), 6);
            QCOMPARE(harness.posted.last().first, line);
        }

        // The font can be had again: the next connection adds it, and the back-off starts over.
        harness.session->files.insert(link(QStringLiteral("mono")), mono);
        QVERIFY(!refused || QDir(obstacle).removeRecursively());
        const auto posted = harness.posted.size();
        const auto sockets = harness.session->sockets.size();
        harness.session->lastSocket()->pushText(message);
        QVERIFY(waitUntil([&] { return harness.posted.size() == posted + 1; }));
        QCOMPARE(harness.posted.last().first, QStringLiteral("Added DejaVu mono Book"));
        QVERIFY(waitUntil([&] { return successShown(harness); }));
        QCOMPARE(provider.reconnectSecondsRemaining(), 0);
        QCOMPARE(harness.session->sockets.size(), sockets);
    }

    void appliedUpdatesAreNotified()
    {
        ProviderHarness harness;
        serveFonts(harness);
        const auto socket = harness.connected();
        QVERIFY(socket);
        MacOSProvider& provider = harness.provider();
        harness.states.clear();

        socket->pushText(syncMessage({ QStringLiteral("sans"), QStringLiteral("mono") }, {}));
        QVERIFY(waitUntil([&] { return harness.states.size() == 4; }));
        QCOMPARE(harness.states,
            (QList<ConnectionState> { ConnectionState::ProcessingUpdate, ConnectionState::SignedIn,
                ConnectionState::UpdateSuccess, ConnectionState::SignedIn }));
        const QString added = QStringLiteral("Added DejaVu sans Book and 1 other");
        QCOMPARE(harness.posted, (QList<QPair<QString, QString>> { { added, added } }));

        socket->pushText(syncMessage({}, { QStringLiteral("mono") }));
        QVERIFY(waitUntil([&] { return harness.posted.size() == 2; }));
        const QString removed = QStringLiteral("Removed DejaVu mono Book");
        QCOMPARE(harness.posted.last(), qMakePair(removed, removed));
        QStringList lines;
        for (const auto& summary : provider.notifications()) {
            QVERIFY(!summary.kind.isError());
            lines.append(summary.text());
        }
        QCOMPARE(lines, (QStringList { added, removed }));
        QCOMPARE(harness.linkedFonts(), QStringList { QStringLiteral("sans") });
    }

    // A long session does not grow the list without end: each update's
    // lines go to the end, and beyond 100 lines the oldest drop off.
    void notificationListKeepsTheNewestHundredLines_data()
    {
        QTest::addColumn<int>("shownBefore");
        QTest::addColumn<int>("firstKept"); // of the lines shown before
        QTest::newRow("room left") << 98 << 0;
        QTest::newRow("fills the list") << 99 << 0;
        QTest::newRow("the 101st drops the oldest") << 100 << 1;
        QTest::newRow("assigned over the limit") << 150 << 51;
    }
    void notificationListKeepsTheNewestHundredLines()
    {
        QFETCH(int, shownBefore);
        QFETCH(int, firstKept);
        ProviderHarness harness;
        serveFonts(harness);
        const auto socket = harness.connected();
        QVERIFY(socket);
        MacOSProvider& provider = harness.provider();
        QList<NotificationSummary> before;
        for (int i = 0; i < shownBefore; ++i) {
            before.append({ QUuid::createUuid(), NotificationSummary::Kind::update(QStringLiteral("old %1").arg(i)) });
        }
        provider.setNotifications(before);

        socket->pushText(syncMessage({ QStringLiteral("sans") }, {}));
        QVERIFY(waitUntil([&] { return harness.posted.size() == 1; }));
        const QList<NotificationSummary> shown = provider.notifications();
        QCOMPARE(shown.size(), std::min(shownBefore + 1, 100));
        QCOMPARE(shown.first().text(), QStringLiteral("old %1").arg(firstKept));
        QCOMPARE(shown.mid(0, shown.size() - 1), before.mid(firstKept));
        QCOMPARE(shown.last().text(), QStringLiteral("Added DejaVu sans Book"));
    }

    void emptyUpdateStillShowsSuccess()
    {
        ProviderHarness harness;
        const auto socket = harness.connected();
        QVERIFY(socket);
        MacOSProvider& provider = harness.provider();
        harness.states.clear();
        const int assignments = harness.notificationsAssignments;

        socket->pushText(QStringLiteral("{\"id\":\"m1\"}"));
        QVERIFY(waitUntil([&] { return harness.states.size() == 4; }));
        QCOMPARE(harness.states,
            (QList<ConnectionState> { ConnectionState::ProcessingUpdate, ConnectionState::SignedIn,
                ConnectionState::UpdateSuccess, ConnectionState::SignedIn }));
        QVERIFY(harness.posted.isEmpty());
        QCOMPARE(harness.notificationsAssignments, assignments + 1);
        QVERIFY(provider.notifications().isEmpty());
    }

    // The first success display ends after its own 3 seconds and takes the
    // second one with it. Told by the order of the provider's timers and the
    // test's own on the same time scale.
    void twoUpdatesWithinTheSuccessDisplay()
    {
        const auto second = 200ms;
        ProviderHarness harness(second);
        const auto socket = harness.connected();
        QVERIFY(socket);
        harness.states.clear();
        const auto wait = [second](double seconds) {
            const Sleeper halves(second / 2);
            QVERIFY(runTask(halves.sleep(qRound64(seconds * 2), std::make_shared<Cancellation>())));
        };
        const QList<ConnectionState> settled { ConnectionState::ProcessingUpdate, ConnectionState::SignedIn,
            ConnectionState::UpdateSuccess, ConnectionState::ProcessingUpdate, ConnectionState::SignedIn,
            ConnectionState::UpdateSuccess, ConnectionState::SignedIn };

        socket->pushText(QStringLiteral("{}"));
        QVERIFY(waitUntil([&] { return harness.states.size() == 3; }));
        wait(1);
        socket->pushText(QStringLiteral("{}"));
        // Past the first display's end (at most 2 s after this push), before
        // the second's (3 s after it).
        wait(2.5);
        QCOMPARE(harness.states, settled);
        // Past the second display's end.
        wait(3);
        QCOMPARE(harness.states, settled);
    }

    // Fonts set aside become error lines, before the line of what was added.
    void setAsideFontsAreReported()
    {
        ProviderHarness harness;
        fillCatalog(*harness.session);
        QTemporaryDir files;
        TestFonts::writeRenamed(QStringLiteral("LiberationSans-Bold.ttf"), files.filePath(QStringLiteral("bold")));
        harness.downloader->serveFile(link(QStringLiteral("bold")), files.filePath(QStringLiteral("bold")));
        const auto socket = harness.connected();
        QVERIFY(socket);
        harness.states.clear();

        socket->pushText(syncMessage({ QStringLiteral("../evil"), QStringLiteral("noformats"), QStringLiteral("bold") },
            { QStringLiteral(".hidden") }));
        QVERIFY(waitUntil([&] { return harness.states.contains(ConnectionState::UpdateSuccess); }));
        const QStringList expected {
            QStringLiteral("Couldn't add Evil: its id can't be used as a file name."),
            QStringLiteral("Couldn't add Gone: the catalogue gives no download link for it."),
            QStringLiteral("Couldn't remove Unknown Font: its id can't be used as a file name."),
            QStringLiteral("Added Ombrel Bold"),
        };
        QStringList posted;
        for (const auto& [title, body] : std::as_const(harness.posted)) {
            QCOMPARE(body, title);
            posted.append(title);
        }
        QCOMPARE(posted, expected);
        QStringList listed;
        QList<bool> errors;
        for (const auto& summary : harness.provider().notifications()) {
            listed.append(summary.text());
            errors.append(summary.kind.isError());
        }
        QCOMPARE(listed, expected);
        QCOMPARE(errors, (QList<bool> { true, true, true, false }));
    }

    // While an update adds more than one font, the provider counts them as
    // each is in place, and says nothing once it is over, however it ends.
    void progressCountsFontsInPlace_data()
    {
        QTest::addColumn<QStringList>("fonts");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<Steps>("progress");
        QTest::newRow("one font: no count") << QStringList { QStringLiteral("sans") } << QString() << Steps {};
        QTest::newRow("three fonts") << QStringList { QStringLiteral("sans"), QStringLiteral("mono"), QStringLiteral("serif") }
                                     << QString() << Steps { { 0, 3 }, { 1, 3 }, { 2, 3 }, { 3, 3 }, { 0, 0 } };
        QTest::newRow("a font already there counts") << QStringList { QStringLiteral("sans"), QStringLiteral("sans") } << QString()
                                                     << Steps { { 0, 2 }, { 1, 2 }, { 2, 2 }, { 0, 0 } };
        QTest::newRow("a failed font counts") << QStringList { QStringLiteral("sans"), QStringLiteral("mono"), QStringLiteral("serif") }
                                              << QStringLiteral("mono") << Steps { { 0, 3 }, { 1, 3 }, { 2, 3 }, { 3, 3 }, { 0, 0 } };
    }
    void progressCountsFontsInPlace()
    {
        QFETCH(QStringList, fonts);
        QFETCH(QString, failing);
        QFETCH(Steps, progress);
        ProviderHarness harness;
        serveFonts(harness);
        if (!failing.isEmpty()) {
            harness.downloader->failing.insert(link(failing));
        }
        MacOSProvider& provider = harness.make();
        Steps seen;
        connect(&provider, &MacOSProvider::addingProgressChanged, this,
            [&] { seen.append({ provider.fontsAdded(), provider.fontsToAdd() }); });
        QList<FontForAppend> toAdd;
        for (const QString& id : fonts) {
            toAdd.append({ id, id, link(id) });
        }
        QVERIFY(runTask(provider.applyUpdate(toAdd, {})));
        QCOMPARE(seen, progress);
        QCOMPARE(provider.fontsAdded(), 0);
        QCOMPARE(provider.fontsToAdd(), 0);
    }

    // A synced font that a font installed elsewhere also provides is
    // reported once, as a warning row: after an update adds it, and after
    // the fonts of the folder are registered at the start of a sync.
    void clashingFontsAreReportedOnce()
    {
        const QString installed
            = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/fonts/installed/");
        TestFonts::writeRenamed(QStringLiteral("LiberationSans-Regular.ttf"), installed + QStringLiteral("Regular.ttf"));
        TestFonts::writeRenamed(QStringLiteral("LiberationSans-Bold.ttf"), installed + QStringLiteral("Bold.ttf"));
        QTemporaryDir files;
        const std::optional<QString> none;
        for (const QString& face : { QStringLiteral("Regular"), QStringLiteral("Italic"), QStringLiteral("Bold") }) {
            TestFonts::writeRenamed(QStringLiteral("LiberationSans-%1.ttf").arg(face), files.filePath(face));
        }
        const auto warning = [](const QString& face) {
            return QStringLiteral("Kernwelled Sans %1 is also installed on this computer; applications may use either copy.").arg(face);
        };
        const auto warnings = [](const MacOSProvider& provider) {
            QStringList lines;
            for (const auto& summary : provider.notifications()) {
                if (summary.kind.kindCase() == NotificationSummary::Kind::Case::Warning) {
                    lines.append(summary.text());
                }
            }
            return lines;
        };
        {
            ProviderHarness harness;
            for (const QString& face : { QStringLiteral("Regular"), QStringLiteral("Italic"), QStringLiteral("Bold") }) {
                harness.downloader->serveFile(link(face), files.filePath(face));
                harness.session->catalog[face] = { catalogFont(face, QStringLiteral("Kernwelled Sans"), none, face, { link(face).toString() }) };
            }
            const auto socket = harness.connected();
            QVERIFY(socket);
            socket->pushText(syncMessage({ QStringLiteral("Regular"), QStringLiteral("Italic") }, {}));
            QVERIFY(waitUntil([&] { return !warnings(harness.provider()).isEmpty(); }));
            // Italic is installed nowhere else; the check of both ends with one line.
            QCOMPARE(warnings(harness.provider()), QStringList { warning(QStringLiteral("Regular")) });
            // The update was not held up by the check.
            QCOMPARE(harness.posted.first().first, QStringLiteral("Added Kernwelled Sans Regular and 1 other"));

            socket->pushText(syncMessage({ QStringLiteral("Bold") }, {}));
            QVERIFY(waitUntil([&] { return warnings(harness.provider()).size() == 2; }));
            QCOMPARE(warnings(harness.provider()), (QStringList { warning(QStringLiteral("Regular")), warning(QStringLiteral("Bold")) }));
        }
        // The next run registers the folder's fonts at start and checks them all.
        ProviderHarness harness;
        QVERIFY(harness.connected());
        QVERIFY(waitUntil([&] { return warnings(harness.provider()).size() == 2; }));
        QCOMPARE(warnings(harness.provider()), (QStringList { warning(QStringLiteral("Bold")), warning(QStringLiteral("Regular")) }));
    }
};

KERNWELL_TEST_MAIN(TestUpdateProcessing)
#include "tst_UpdateProcessing.moc"
