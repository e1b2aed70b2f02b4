#include "fonts/MacOSFileManager.h"
#include "fonts/SessionDataDownloader.h"

#include "api/ServiceError.h"
#include "api/transport/NetworkSession.h"

#include "RunTask.h"
#include "TestMain.h"
#include "ThrownError.h"
#include "FakeUrlSession.h"
#include "support/StatusServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <optional>

using kernwell::Error;
using kernwell::HttpUrlResponse;
using kernwell::MacOSFileManager;
using kernwell::SessionDataDownloader;
using kernwell::UrlDataResult;
using kernwell::test::FakeUrlSession;
using kernwell::test::runTask;
using kernwell::test::StatusServer;
using kernwell::test::thrownError;

Q_DECLARE_METATYPE(std::optional<int>)

class TestFileAdapters : public QObject {
    Q_OBJECT
public:
    explicit TestFileAdapters(const kernwell::test::Sandbox&) { }

private:
    QTemporaryDir m_dir;

    QString make(const QString& name, bool directory = false)
    {
        const QString path = m_dir.filePath(name);
        if (directory) {
            QDir().mkpath(path);
        } else {
            QFile file(path);
            file.open(QIODevice::WriteOnly);
        }
        return path;
    }

private slots:
    void fileExists_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("exists");
        QTest::newRow("file") << make(QStringLiteral("file")) << true;
        QTest::newRow("directory") << make(QStringLiteral("directory"), true) << true;
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("missing")) << false;
        QFile::link(m_dir.filePath(QStringLiteral("missing")), m_dir.filePath(QStringLiteral("dangling")));
        QTest::newRow("link to nothing") << m_dir.filePath(QStringLiteral("dangling")) << false;
    }
    void fileExists()
    {
        QFETCH(QString, path);
        QFETCH(bool, exists);
        QCOMPARE(MacOSFileManager().fileExists(path), exists);
    }

    void createDirectoryMakesMissingParents()
    {
        const QString path = m_dir.filePath(QStringLiteral("a/b/c"));
        MacOSFileManager().createDirectory(QUrl::fromLocalFile(path));
        QVERIFY(QFileInfo(path).isDir());
        MacOSFileManager().createDirectory(QUrl::fromLocalFile(path)); // existing: fine
        QVERIFY(QFileInfo(path).isDir());
    }

    void createDirectoryFailsWithTheSystemsError_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<int>("code");
        QTest::newRow("below a file") << QUrl::fromLocalFile(make(QStringLiteral("plain")) + QStringLiteral("/sub"))
                                      << ENOTDIR;
        QTest::newRow("where a file is") << QUrl::fromLocalFile(make(QStringLiteral("taken"))) << ENOTDIR;
        QTest::newRow("not a local folder") << QUrl(QStringLiteral("https://example.org/fonts")) << EINVAL;
    }
    void createDirectoryFailsWithTheSystemsError()
    {
        QFETCH(QUrl, url);
        QFETCH(int, code);
        const std::optional<Error> error = thrownError([&] {
            MacOSFileManager().createDirectory(url);
        });
        QVERIFY2(error, "createDirectory did not throw");
        QCOMPARE(error->code(), code);
        QVERIFY2(error->description().startsWith(QStringLiteral("Could not create the folder “")), error->what());
    }

    // status: the HTTP status, or none for an answer that did not come over HTTP.
    void downloadJudgesTheStatus_data()
    {
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("failure"); // what the error says; empty: succeeds
        QTest::newRow("199") << std::optional(199) << QByteArray("font")
                             << QStringLiteral("The service answered with an error (status 199).");
        QTest::newRow("200, empty body") << std::optional(200) << QByteArray() << QString();
        QTest::newRow("299") << std::optional(299) << QByteArray("font") << QString();
        QTest::newRow("300") << std::optional(300) << QByteArray("font")
                             << QStringLiteral("The service answered with an error (status 300).");
        QTest::newRow("404") << std::optional(404) << QByteArray("font")
                             << QStringLiteral("The font file was not found on the service.");
        QTest::newRow("500") << std::optional(500) << QByteArray()
                             << QStringLiteral("The service answered with an error (status 500).");
        QTest::newRow("not HTTP") << std::optional<int>() << QByteArray("font")
                                  << QStringLiteral("The service could not be reached.");
    }
    void downloadJudgesTheStatus()
    {
        QFETCH(std::optional<int>, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, failure);
        const bool succeeds = failure.isEmpty();
        auto session = std::make_shared<FakeUrlSession>();
        UrlDataResult result { body, std::nullopt };
        if (status) {
            result.http = HttpUrlResponse { *status, {} };
        }
        session->script(result);
        SessionDataDownloader downloader(session);
        const QUrl url(QStringLiteral("https://fonts.example/f/1?v=2"));
        try {
            const QByteArray received = runTask(downloader.downloadData(url));
            QVERIFY(succeeds);
            QCOMPARE(received, body);
        } catch (const Error& error) {
            QVERIFY2(!succeeds, error.what());
            QCOMPARE(error.domain(), QLatin1String(kernwell::serviceErrorDomain));
            QCOMPARE(error.description(), failure);
        }
        QCOMPARE(session->requestedUrls(), QList { url });
    }

    // The real session against a local server; redirects are followed and
    // the final answer is judged.
    void downloadOverTheNetwork_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body"); // null: fails with the status's ServiceError
        QTest::newRow("200") << "/status/200" << QByteArray("body 200");
        QTest::newRow("299") << "/status/299" << QByteArray("body 299");
        QTest::newRow("300") << "/status/300" << QByteArray();
        QTest::newRow("404") << "/status/404" << QByteArray();
        QTest::newRow("500") << "/status/500" << QByteArray();
        QTest::newRow("200, empty body") << "/empty" << QByteArray("");
        QTest::newRow("redirect to 200") << "/redirect/200" << QByteArray("body 200");
        QTest::newRow("redirect to 404") << "/redirect/404" << QByteArray();
    }
    void downloadOverTheNetwork()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        StatusServer server;
        SessionDataDownloader downloader(std::make_shared<kernwell::NetworkSession>());
        try {
            const QByteArray received = runTask(downloader.downloadData(server.url(path)));
            QVERIFY2(!body.isNull(), received.constData());
            QCOMPARE(received, body);
        } catch (const Error& error) {
            QVERIFY2(body.isNull(), error.what());
            // The status of the last answer, after the redirects.
            QCOMPARE(error, kernwell::downloadStatusError(path.section(QLatin1Char('/'), -1).toInt()));
        }
    }

    void transportErrorsPassUnchanged()
    {
        auto session = std::make_shared<FakeUrlSession>();
        const Error timedOut(QLatin1String(kernwell::UrlSession::errorDomain), 3, QStringLiteral("The request timed out."));
        session->script(timedOut);
        SessionDataDownloader downloader(session);
        const std::optional<Error> error = thrownError([&] {
            runTask(downloader.downloadData(QUrl(QStringLiteral("https://fonts.example/f/1"))));
        });
        QVERIFY2(error, "downloadData did not throw");
        QCOMPARE(*error, timedOut);
    }
};

KERNWELL_TEST_MAIN(TestFileAdapters)
#include "tst_FileAdapters.moc"
