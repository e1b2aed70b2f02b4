#include "diagnostics/ReportThrottle.h"
#include "diagnostics/SentryLogger.h"
#include "diagnostics/sentry/SentryClient.h"

#include "RecordingLogger.h"
#include "RunTask.h"
#include "TestMain.h"
#include "support/EnvelopeServer.h"

#include <QJsonArray>
#include <QTemporaryDir>

using kernwell::Error;
using kernwell::ReportThrottle;
using kernwell::test::RecordingLogger;
using kernwell::SentryClient;
using kernwell::SentryLogger;
using kernwell::SentryOptions;
using kernwell::test::EnvelopeServer;
using kernwell::test::waitUntil;

class TestSentryLogger : public QObject {
    Q_OBJECT
public:
    explicit TestSentryLogger(const kernwell::test::Sandbox&) { }

private slots:
    // A failure repeated on every retry reaches the service at most once per
    // ten minutes; its next report after that says how many were held back.
    void repeatedReportsAreThrottled_data()
    {
        QTest::addColumn<bool>("asError");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<int>>("minutes"); // when each text is reported
        QTest::addColumn<QStringList>("sent");
        const QString a = QStringLiteral("Couldn't reach the service.");
        const QString b = QStringLiteral("Something else.");
        QTest::newRow("twice within ten minutes") << false << QStringList { a, a } << QList<int> { 0, 9 } << QStringList { a };
        QTest::newRow("again after ten minutes, with the count")
            << false << QStringList { a, a, a, a } << QList<int> { 0, 3, 9, 10 }
            << QStringList { a, a + QStringLiteral(" (and 2 more since its last report)") };
        QTest::newRow("ten minutes from the last report sent")
            << false << QStringList { a, a, a, a } << QList<int> { 0, 10, 19, 20 }
            << QStringList { a, a, a + QStringLiteral(" (and 1 more since its last report)") };
        QTest::newRow("held again for ten minutes after a report with its count")
            << false << QStringList { a, a, a, a, a } << QList<int> { 0, 3, 10, 15, 20 }
            << QStringList { a, a + QStringLiteral(" (and 1 more since its last report)"), a + QStringLiteral(" (and 1 more since its last report)") };
        QTest::newRow("other texts are their own") << false << QStringList { a, b, a, b } << QList<int> { 0, 1, 2, 3 } << QStringList { a, b };
        // Errors share the timing above; their own are the key and the count in the description.
        QTest::newRow("error: each description its own, again with the count")
            << true << QStringList { a, b, a, a, a } << QList<int> { 0, 1, 3, 9, 10 }
            << QStringList { a, b, a + QStringLiteral(" (and 2 more since its last report)") };
    }
    void repeatedReportsAreThrottled()
    {
        QFETCH(bool, asError);
        QFETCH(QStringList, texts);
        QFETCH(QList<int>, minutes);
        QFETCH(QStringList, sent);
        auto service = std::make_shared<RecordingLogger>();
        std::chrono::steady_clock::time_point now;
        ReportThrottle throttle(service, [&now] { return now; });
        for (qsizetype i = 0; i < texts.size(); ++i) {
            now = std::chrono::steady_clock::time_point(std::chrono::minutes(minutes.at(i)));
            if (asError) {
                throttle.logError(Error(QStringLiteral("ServiceError"), 1, texts.at(i)));
            } else {
                throttle.logMessage(texts.at(i));
            }
        }
        QStringList received = service->messages();
        for (const Error& error : service->errors()) {
            received.append(error.description());
        }
        QCOMPARE(received, sent);
    }

    void forwardsEveryReportUnchanged_data()
    {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QList<Error>>("errors");

        QTest::newRow("empty message") << QStringList { QString() } << QList<Error>();
        QTest::newRow("same message three times")
            << QStringList(3, QStringLiteral("Sign in received a 401")) << QList<Error>();
        QTest::newRow("error value") << QStringList()
                                     << QList<Error> { Error(QStringLiteral("ServiceError"), 1, QStringLiteral("Network unavailable.")) };
        QTest::newRow("same error twice, then a message")
            << QStringList { QStringLiteral("FontStore removeFile error: gone") }
            << QList<Error>(2, Error(QStringLiteral("FontStore"), 2, QStringLiteral("The file is missing.")));
    }
    void forwardsEveryReportUnchanged()
    {
        QFETCH(QStringList, messages);
        QFETCH(QList<Error>, errors);
        EnvelopeServer server;
        QTemporaryDir outbox;
        auto client = std::make_shared<SentryClient>();
        SentryOptions options;
        options.dsn = server.dsn();
        options.outboxPath = outbox.path();
        QVERIFY(client->start(options));
        SentryLogger logger(client);

        for (const Error& error : errors) {
            logger.logError(error);
        }
        for (const QString& message : messages) {
            logger.logMessage(message);
        }
        const qsizetype expected = messages.size() + errors.size();
        QVERIFY(waitUntil([&] { return server.received().size() == expected; }));
        // Envelopes go one at a time, in order: anything more would come before this.
        client->captureMessage(QStringLiteral("marker"));
        QVERIFY(waitUntil([&] { return server.received().size() > expected; }));
        QCOMPARE(server.received().size(), expected + 1);

        QStringList receivedMessages;
        QList<Error> receivedErrors;
        for (const QJsonObject& event : server.events()) {
            if (event.contains(QStringLiteral("message"))) {
                receivedMessages.append(
                    event.value(QStringLiteral("message")).toObject().value(QStringLiteral("formatted")).toString());
                continue;
            }
            const QJsonArray values = event.value(QStringLiteral("exception")).toObject().value(QStringLiteral("values")).toArray();
            QCOMPARE(values.size(), 1);
            const QStringList type = values.at(0).toObject().value(QStringLiteral("type")).toString().split(QLatin1Char(' '));
            QCOMPARE(type.size(), 2);
            receivedErrors.append(Error(type.at(0), type.at(1).toInt(), values.at(0).toObject().value(QStringLiteral("value")).toString()));
        }
        QCOMPARE(receivedMessages, messages + QStringList { QStringLiteral("marker") });
        QCOMPARE(receivedErrors, errors);
    }
};

KERNWELL_TEST_MAIN(TestSentryLogger)
#include "tst_SentryLogger.moc"
