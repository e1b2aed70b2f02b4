#include "diagnostics/SentryLogger.h"
#include "diagnostics/sentry/SentryClient.h"

#include "RunTask.h"
#include "TestMain.h"
#include "support/EnvelopeServer.h"

#include <QJsonArray>
#include <QTemporaryDir>

using kernwell::Error;
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
