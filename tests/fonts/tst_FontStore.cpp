#include "fonts/FontStore.h"

#include "api/ServiceError.h"

#include "RecordingLogger.h"
#include "TestFonts.h"
#include "RunTask.h"
#include "TestMain.h"
#include "ThrownError.h"
#include "FakeDownloader.h"
#include "support/FontFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fontconfig/fontconfig.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>

using kernwell::Error;
using kernwell::FontStore;
using kernwell::MacOSFontManager;
using kernwell::test::FakeDownloader;
using kernwell::test::FontFiles;
using kernwell::test::RecordingLogger;
using kernwell::test::TestFonts;
using kernwell::test::runTask;
using kernwell::test::thrownError;

namespace {
// Three different files of the bundled typeface.
const QString serif = TestFonts::path(QStringLiteral("Regular"));
const QString mono = TestFonts::path(QStringLiteral("Italic"));
const QString sans = TestFonts::path(QStringLiteral("Bold"));

// Limits the size of any file this process writes, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved {};
    void (*m_savedHandler)(int) = nullptr;
};
} // namespace

class TestFontStore : public QObject {
    Q_OBJECT
public:
    explicit TestFontStore(const kernwell::test::Sandbox& sandbox)
        : m_appDir(sandbox.dataHome() + QStringLiteral("/" KERNWELL_BUNDLE_IDENTIFIER))
        , m_rootDir(m_appDir + QStringLiteral("/fonts"))
        , m_linkDir(sandbox.dataHome() + QStringLiteral("/fonts/" KERNWELL_BUNDLE_IDENTIFIER))
    {
    }

private:
    const QString m_appDir;
    const QString m_rootDir;
    const QString m_linkDir;
    std::shared_ptr<RecordingLogger> m_logger;
    std::shared_ptr<FakeDownloader> m_downloader;
    std::shared_ptr<MacOSFontManager> m_fontManager;
    std::unique_ptr<FontStore> m_store;

    static QUrl urlOf(const QString& name) { return QUrl(QStringLiteral("https://fonts.example/files/") + name); }
    QString pathOf(const QString& name) const { return m_rootDir + QLatin1Char('/') + name; }
    QStringList registered() const { return FontFiles::fcListFiles(m_linkDir); }
    // Where the link of a small library's font lives: in the first subfolder.
    QString linkOf(const QString& name) const { return m_linkDir + QStringLiteral("/1/") + name; }

    bool add(const QString& name, const QString& font)
    {
        m_downloader->answer(FontFiles::read(font));
        return runTask(m_store->addFont(name, urlOf(name)));
    }

private slots:
    void init()
    {
        QDir(m_appDir).removeRecursively();
        QDir(m_linkDir).removeRecursively();
        QDir().mkpath(m_rootDir);
        m_logger = std::make_shared<RecordingLogger>();
        m_downloader = std::make_shared<FakeDownloader>();
        m_fontManager = std::make_shared<MacOSFontManager>(MacOSFontManager::RegistrationScope::systemWide);
        m_store = std::make_unique<FontStore>(m_rootDir, m_logger, m_downloader, m_fontManager);
    }

    void addFontDownloadsWritesAndRegisters()
    {
        QVERIFY(add(QStringLiteral("serif-1"), serif));
        QCOMPARE(m_downloader->requests, QList { urlOf(QStringLiteral("serif-1")) });
        QCOMPARE(FontFiles::read(pathOf(QStringLiteral("serif-1"))), FontFiles::read(serif));
        QCOMPARE(FontFiles::fcList(m_linkDir), QStringList { QStringLiteral("Liberation Sans|") + linkOf(QStringLiteral("serif-1")) });
        QCOMPARE(FontFiles::entries(m_rootDir), QStringList { QStringLiteral("serif-1") });
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    // Fonts downloaded one after another from the same answer each get the whole file.
    void consecutiveDownloadsGetTheWholeFile()
    {
        m_downloader->answer(FontFiles::read(serif));
        QVERIFY(runTask(m_store->addFont(QStringLiteral("a"), urlOf(QStringLiteral("a")))));
        QVERIFY(runTask(m_store->addFont(QStringLiteral("b"), urlOf(QStringLiteral("b")))));
        QCOMPARE(FontFiles::read(pathOf(QStringLiteral("b"))), FontFiles::read(serif));
    }

    void aPresentFileIsNeverDownloadedAgain()
    {
        QVERIFY(add(QStringLiteral("mono"), mono));
        QVERIFY(!add(QStringLiteral("mono"), mono)); // still registered
        m_store->unregisterAllFonts();
        QCOMPARE(registered(), QStringList {});
        QVERIFY(add(QStringLiteral("mono"), mono)); // registered again from the file
        QCOMPARE(m_downloader->requests.size(), 1);
        QCOMPARE(registered(), QStringList { linkOf(QStringLiteral("mono")) });
        QCOMPARE(m_logger->messages(), QStringList {});
        QCOMPARE(m_logger->errors(), QList<Error> {});
    }

    void aDeletedFolderIsCreatedAgain()
    {
        QVERIFY(QDir(m_appDir).removeRecursively());
        QVERIFY(add(QStringLiteral("sans"), sans));
        QCOMPARE(FontFiles::entries(m_rootDir), QStringList { QStringLiteral("sans") });
        QCOMPARE(registered(), QStringList { linkOf(QStringLiteral("sans")) });
    }

    // A failed download, also one started ahead, reaches addFont unchanged
    // and writes nothing.
    void aFailedDownloadWritesNothing_data()
    {
        QTest::addColumn<bool>("startedAhead");
        QTest::newRow("downloaded by addFont") << false;
        QTest::newRow("started ahead") << true;
    }
    void aFailedDownloadWritesNothing()
    {
        QFETCH(bool, startedAhead);
        const Error failure = kernwell::toError(kernwell::ServiceError::network);
        m_downloader->fail(failure);
        if (startedAhead) {
            m_store->prefetch(QStringLiteral("serif"), urlOf(QStringLiteral("serif")));
            // A download of its own would succeed.
            m_downloader->answer(FontFiles::read(serif));
        }
        const std::optional<Error> error = thrownError([&] {
            runTask(m_store->addFont(QStringLiteral("serif"), urlOf(QStringLiteral("serif"))));
        });
        QVERIFY2(error, "addFont did not throw");
        QCOMPARE(*error, failure);
        QCOMPARE(FontFiles::entries(m_rootDir), QStringList {});
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    // A download started ahead serves the one addFont that needs it.
    void aPrefetchedDownloadServesItsAddFontOnce()
    {
        const QString name = QStringLiteral("serif");
        m_downloader->answer(FontFiles::read(serif));
        m_store->prefetch(name, urlOf(name));
        QCOMPARE(m_downloader->requests.size(), 1);
        // Served from a second download, this would be no font.
        m_downloader->answer(QByteArrayLiteral("not a font"));
        QVERIFY(runTask(m_store->addFont(name, urlOf(name))));
        QCOMPARE(m_downloader->requests.size(), 1);
        QCOMPARE(registered(), QStringList { linkOf(name) });

        QVERIFY(runTask(m_store->removeFont(name)));
        QVERIFY(add(name, serif));
        QCOMPARE(m_downloader->requests.size(), 2);
    }

    // What comes into the folder while a download started ahead runs is
    // what addFont finds, as without the download: a font file is registered
    // as it is, a link is left alone.
    void whatArrivesDuringADownloadAheadWins_data()
    {
        QTest::addColumn<bool>("asLink");
        QTest::newRow("a font file") << false;
        QTest::newRow("a link") << true;
    }
    void whatArrivesDuringADownloadAheadWins()
    {
        QFETCH(bool, asLink);
        const QString name = QStringLiteral("serif");
        m_downloader->answer(FontFiles::read(serif));
        m_downloader->hold();
        m_store->prefetch(name, urlOf(name));
        if (asLink) {
            FontFiles::write(m_appDir + QStringLiteral("/outside"), FontFiles::read(mono));
            QVERIFY(QFile::link(m_appDir + QStringLiteral("/outside"), pathOf(name)));
        } else {
            FontFiles::write(pathOf(name), FontFiles::read(mono));
        }
        m_downloader->release();
        bool added = false;
        const std::optional<Error> error = thrownError([&] { added = runTask(m_store->addFont(name, urlOf(name))); });
        QCOMPARE(error.has_value(), asLink);
        QCOMPARE(added, !asLink);
        QCOMPARE(QFileInfo(pathOf(name)).isSymLink(), asLink);
        QCOMPARE(FontFiles::read(pathOf(name)), FontFiles::read(mono));
        QCOMPARE(registered(), asLink ? QStringList {} : QStringList { linkOf(name) });
        QCOMPARE(m_downloader->requests.size(), 1);
    }

    // A font still downloading when every registration is withdrawn (a sign
    // out, another account) stays out when it arrives: its registration
    // must not outlive the withdrawal.
    void aFontOnItsWayWhenEveryFontIsWithdrawnStaysOut_data()
    {
        QTest::addColumn<bool>("anotherAccount");
        QTest::addColumn<int>("code");
        QTest::newRow("signed out") << false << FontStore::withdrawn;
        QTest::newRow("another account") << true << FontStore::handedOver;
    }
    void aFontOnItsWayWhenEveryFontIsWithdrawnStaysOut()
    {
        QFETCH(bool, anotherAccount);
        QFETCH(int, code);
        m_store->claimFor(QStringLiteral("one@example.com"));
        const QString name = QStringLiteral("serif");
        m_downloader->answer(FontFiles::read(serif));
        m_downloader->hold();
        QCoro::Task<bool> adding = m_store->addFont(name, urlOf(name));
        if (anotherAccount) {
            QVERIFY(m_store->claimFor(QStringLiteral("other@example.com")));
        } else {
            m_store->unregisterAllFonts();
        }
        m_downloader->release();
        const std::optional<Error> error = thrownError([&] { runTask(std::move(adding)); });
        QVERIFY2(error, "addFont did not throw");
        QCOMPARE(error->code(), code);
        QCOMPARE(registered(), QStringList {});
        QVERIFY(!QFileInfo::exists(pathOf(name)));
    }

    // The font cache is rebuilt once a batch (fonts prefetched ahead) ends,
    // not after each font: rebuilt while the batch goes on, the folder would
    // be scanned again at every pause of the downloads.
    void aBatchRebuildsTheFontCacheOnceAtItsEnd_data()
    {
        QTest::addColumn<bool>("endsEarly");
        QTest::newRow("every font added") << false;
        QTest::newRow("ended before its last font") << true;
    }
    void aBatchRebuildsTheFontCacheOnceAtItsEnd()
    {
        QFETCH(bool, endsEarly);
        const auto cacheIsFresh = [this] {
            m_fontManager->waitForFlush();
            // Loads a valid cache only; a configuration with fonts would scan the folder itself.
            const std::unique_ptr<FcConfig, decltype(&FcConfigDestroy)> config(FcInitLoadConfig(), &FcConfigDestroy);
            const QByteArray folder = QFile::encodeName(m_linkDir + QStringLiteral("/1"));
            FcCache* cache = FcDirCacheLoad(reinterpret_cast<const FcChar8*>(folder.constData()), config.get(), nullptr);
            if (cache) {
                FcDirCacheUnload(cache);
            }
            return cache != nullptr;
        };
        for (const auto& [name, font] : { std::pair { "a", serif }, std::pair { "b", mono } }) {
            m_downloader->answer(FontFiles::read(font));
            m_store->prefetch(QLatin1String(name), urlOf(QLatin1String(name)));
        }
        QVERIFY(runTask(m_store->addFont(QStringLiteral("a"), urlOf(QStringLiteral("a")))));
        QVERIFY(!cacheIsFresh());
        if (endsEarly) {
            m_store->discardPrefetched();
        } else {
            QVERIFY(runTask(m_store->addFont(QStringLiteral("b"), urlOf(QStringLiteral("b")))));
        }
        QVERIFY(cacheIsFresh());
    }

    void prefetchSkipsWhatTheFolderHoldsAndDiscardDropsTheRest()
    {
        QVERIFY(add(QStringLiteral("mono"), mono));
        m_store->prefetch(QStringLiteral("mono"), urlOf(QStringLiteral("mono")));
        m_store->prefetch(QStringLiteral("../mono"), urlOf(QStringLiteral("mono")));
        QCOMPARE(m_downloader->requests.size(), 1);

        m_downloader->answer(QByteArrayLiteral("not a font"));
        m_store->prefetch(QStringLiteral("sans"), urlOf(QStringLiteral("sans")));
        QCOMPARE(m_downloader->requests.size(), 2);
        m_store->discardPrefetched();
        QVERIFY(add(QStringLiteral("sans"), sans));
        QCOMPARE(m_downloader->requests.size(), 3);
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    // A download that is no font is refused, then deleted so that the next
    // sync fetches it again.
    void aDownloadThatIsNoFontIsRefusedAndDeleted_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("description");
        QTest::newRow("HTML page") << FontFiles::htmlPage() << "The file “f” is not a font file.";
        QTest::newRow("truncated") << FontFiles::truncatedFont() << "The font file “f” is truncated or damaged.";
        QTest::newRow("empty") << QByteArray("") << "The file “f” is not a font file.";
    }
    void aDownloadThatIsNoFontIsRefusedAndDeleted()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, description);
        m_downloader->answer(body);
        const std::optional<Error> error = thrownError([&] {
            runTask(m_store->addFont(QStringLiteral("f"), urlOf(QStringLiteral("f"))));
        });
        QVERIFY2(error, "addFont did not throw");
        QCOMPARE(error->description(), description);
        QCOMPARE(FontFiles::entries(m_rootDir), QStringList {});
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});

        QVERIFY(add(QStringLiteral("f"), serif));
        QCOMPARE(m_downloader->requests.size(), 2);
        QCOMPARE(registered(), QStringList { linkOf(QStringLiteral("f")) });
    }

    // A file cut short by an earlier run counts as present; it must not
    // block the font for good.
    void aPartialFileFromEarlierIsRefusedAndDeleted()
    {
        FontFiles::write(pathOf(QStringLiteral("f")), FontFiles::truncatedFont());
        const std::optional<Error> error = thrownError([&] { add(QStringLiteral("f"), serif); });
        QVERIFY2(error, "addFont did not throw");
        QCOMPARE(error->description(), QStringLiteral("The font file “f” is truncated or damaged."));
        QCOMPARE(m_downloader->requests.size(), 0);
        QVERIFY(!QFileInfo::exists(pathOf(QStringLiteral("f"))));

        QVERIFY(add(QStringLiteral("f"), serif));
        QCOMPARE(m_downloader->requests.size(), 1);
    }

    // A link in the folder could lead anywhere: it is neither registered
    // nor replaced.
    void addFontLeavesEntriesOtherThanFilesAlone()
    {
        FontFiles::write(m_appDir + QStringLiteral("/outside"), FontFiles::read(serif));
        QVERIFY(QFile::link(m_appDir + QStringLiteral("/outside"), pathOf(QStringLiteral("link"))));
        const std::optional<Error> error = thrownError([&] { add(QStringLiteral("link"), mono); });
        QVERIFY2(error, "addFont did not throw");
        QCOMPARE(error->code(), FontStore::notAFile);
        QCOMPARE(error->description(), QStringLiteral("“link” in the font folder is not a regular file."));
        QVERIFY(m_downloader->requests.isEmpty());
        QVERIFY(QFileInfo(pathOf(QStringLiteral("link"))).isSymLink());
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});
    }

    void anInterruptedWriteLeavesNothingBehind()
    {
        m_downloader->answer(FontFiles::read(serif));
        const std::optional<Error> error = thrownError([&] {
            const FileSizeLimit diskFull(64 * 1024);
            runTask(m_store->addFont(QStringLiteral("serif"), urlOf(QStringLiteral("serif"))));
        });
        QVERIFY2(error, "addFont did not throw");
        QCOMPARE(error->domain(), QLatin1String(FontStore::errorDomain));
        QCOMPARE(error->code(), FontStore::writeFailed);
        QVERIFY2(error->description().startsWith(QStringLiteral("Could not write the font file “serif”: ")),
            error->what());
        QCOMPARE(FontFiles::entries(m_rootDir), QStringList {});
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});

        QVERIFY(add(QStringLiteral("serif"), serif));
    }

    void unsafeIdentifiersAreRefused_data()
    {
        QTest::addColumn<QString>("fontId");
        QTest::newRow("empty") << QString();
        QTest::newRow("dot") << QStringLiteral(".");
        QTest::newRow("dot dot") << QStringLiteral("..");
        QTest::newRow("hidden") << QStringLiteral(".font");
        QTest::newRow("separator") << QStringLiteral("a/b");
        QTest::newRow("parent") << QStringLiteral("../x");
        QTest::newRow("absolute") << m_appDir + QStringLiteral("/x");
        QTest::newRow("NUL") << QStringLiteral("x") + QChar(0) + QStringLiteral("b");
        QTest::newRow("too long") << QString(256, QLatin1Char('a'));
        // Not well-formed UTF-16: each would be written as the same
        // replacement character.
        QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) + QStringLiteral("x");
        QTest::newRow("lone low surrogate") << QStringLiteral("x") + QChar(0xDC00);
        QTest::newRow("surrogates reversed") << QString(QChar(0xDC00)) + QChar(0xD800);
    }
    void unsafeIdentifiersAreRefused()
    {
        QFETCH(QString, fontId);
        // What an unchecked name would reach: the folder's neighbour "x" and
        // a font "x" inside it.
        FontFiles::write(m_appDir + QStringLiteral("/x"), FontFiles::read(serif));
        FontFiles::write(pathOf(QStringLiteral("x")), FontFiles::read(mono));
        m_downloader->answer(FontFiles::read(sans));

        QVERIFY(!FontStore::isValidFontId(fontId));
        const std::optional<Error> error = thrownError([&] {
            runTask(m_store->addFont(fontId, urlOf(QStringLiteral("x"))));
        });
        QVERIFY2(error, "addFont did not throw");
        QCOMPARE(error->domain(), QLatin1String(FontStore::errorDomain));
        QCOMPARE(error->code(), FontStore::invalidFontId);
        QVERIFY(m_downloader->requests.isEmpty());

        QVERIFY(!runTask(m_store->removeFont(fontId)));
        QCOMPARE(m_logger->messages().size(), 1);
        QVERIFY(m_logger->messages().constFirst().startsWith(QStringLiteral("FontStore removeFont error: ")));

        QCOMPARE(FontFiles::read(m_appDir + QStringLiteral("/x")), FontFiles::read(serif));
        QCOMPARE(FontFiles::read(pathOf(QStringLiteral("x"))), FontFiles::read(mono));
        QCOMPARE(FontFiles::entries(m_rootDir), QStringList { QStringLiteral("x") });
        QCOMPARE(FontFiles::entries(m_appDir), (QStringList { QStringLiteral("fonts"), QStringLiteral("x") }));
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});
    }

    void ordinaryIdentifiersAreAccepted_data()
    {
        QTest::addColumn<QString>("fontId");
        QTest::newRow("uuid") << QStringLiteral("6f1c2e0a-8d7b-4c3e-9a51-0b2f3c4d5e6f");
        QTest::newRow("inner dots") << QStringLiteral("font..v2.otf");
        QTest::newRow("non-ASCII") << QStringLiteral("Schrift-Größe");
        QTest::newRow("surrogate pair") << QStringLiteral("emoji-\U0001F600");
        QTest::newRow("255 bytes") << QString(255, QLatin1Char('a'));
    }
    void ordinaryIdentifiersAreAccepted()
    {
        QFETCH(QString, fontId);
        QVERIFY(add(fontId, mono));
        QCOMPARE(registered(), QStringList { linkOf(fontId) });
        QVERIFY(runTask(m_store->removeFont(fontId)));
    }

    void removeFontUnregistersAndDeletes()
    {
        QVERIFY(add(QStringLiteral("serif"), serif));
        QVERIFY(runTask(m_store->removeFont(QStringLiteral("serif"))));
        QCOMPARE(FontFiles::entries(m_rootDir), QStringList {});
        QCOMPARE(registered(), QStringList {});
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    void removeFontOfAnUnregisteredFileDeletesIt()
    {
        FontFiles::write(pathOf(QStringLiteral("serif")), FontFiles::read(serif));
        QVERIFY(!runTask(m_store->removeFont(QStringLiteral("serif"))));
        QCOMPARE(FontFiles::entries(m_rootDir), QStringList {});
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    void removeFontWithoutAFileReportsTheDeletion()
    {
        QVERIFY(!runTask(m_store->removeFont(QStringLiteral("ghost"))));
        QCOMPARE(m_logger->messages(),
            QStringList { QStringLiteral(
                "FontStore removeFile error: Could not remove “ghost”: No such file or directory.") });
    }

    // A font whose file vanished while registered is still withdrawn.
    void removeFontAfterTheFileVanished()
    {
        QVERIFY(add(QStringLiteral("serif"), serif));
        QVERIFY(QFile::remove(pathOf(QStringLiteral("serif"))));
        QVERIFY(runTask(m_store->removeFont(QStringLiteral("serif"))));
        QCOMPARE(registered(), QStringList {});
        QCOMPARE(m_logger->messages().size(), 1);
        QVERIFY(m_logger->messages().constFirst().startsWith(QStringLiteral("FontStore removeFile error: ")));
    }

    // A refusal of the system (here: a folder squatting on the link's name)
    // is reported; the file is still deleted.
    void removeFontReportsAFailedUnregistration()
    {
        FontFiles::write(pathOf(QStringLiteral("serif")), FontFiles::read(serif));
        FontFiles::write(linkOf(QStringLiteral("serif")) + QStringLiteral("/squatter"), QByteArray("x"));
        QVERIFY(!runTask(m_store->removeFont(QStringLiteral("serif"))));
        QCOMPARE(m_logger->messages(),
            QStringList { QStringLiteral("FontStore removeFont error: Could not unregister the font file “%1”: "
                                         "Is a directory.")
                              .arg(pathOf(QStringLiteral("serif"))) });
        QCOMPARE(FontFiles::entries(m_rootDir), QStringList {});
    }

    void aFailingEntryDoesNotStopTheWalks()
    {
        FontFiles::write(pathOf(QStringLiteral("a")), FontFiles::read(serif));
        FontFiles::write(pathOf(QStringLiteral("b")), FontFiles::read(mono));
        FontFiles::write(linkOf(QStringLiteral("a")) + QStringLiteral("/squatter"), QByteArray("x"));

        m_store->registerAllFonts().waitForFinished();
        QCOMPARE(registered(), QStringList { linkOf(QStringLiteral("b")) });
        QCOMPARE(m_logger->errors().size(), 1);
        QCOMPARE(m_logger->errors().constFirst().code(), EISDIR);

        // The link folder is ours alone: whatever squats in it goes too.
        m_logger->clear();
        m_store->unregisterAllFonts();
        QCOMPARE(registered(), QStringList {});
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});
        QCOMPARE(m_logger->errors(), QList<Error> {});
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    void bulkWalksRegisterOnlyFontFilesOfTheFolder()
    {
        for (const auto& [name, font] : { std::pair { "a", serif }, std::pair { "b", mono }, std::pair { "c", sans } }) {
            FontFiles::write(pathOf(QLatin1String(name)), FontFiles::read(font));
        }
        FontFiles::write(pathOf(QStringLiteral("page")), FontFiles::htmlPage());
        // Files are not flushed to disk one by one: a crash can leave one cut short.
        FontFiles::write(pathOf(QStringLiteral("cut")), FontFiles::truncatedFont());
        QDir().mkpath(pathOf(QStringLiteral("folder")));
        FontFiles::write(m_appDir + QStringLiteral("/outside"), FontFiles::read(serif));
        QVERIFY(QFile::link(m_appDir + QStringLiteral("/outside"), pathOf(QStringLiteral("link"))));
        const QStringList fonts { linkOf(QStringLiteral("a")), linkOf(QStringLiteral("b")), linkOf(QStringLiteral("c")) };

        for (int walk = 0; walk < 2; ++walk) {
            m_logger->clear();
            m_store->registerAllFonts().waitForFinished();
            QCOMPARE(registered(), fonts);
            QCOMPARE(m_logger->messages(), QStringList {});
            QStringList failed;
            for (const Error& error : m_logger->errors()) {
                failed.append(QString::number(error.code()) + QLatin1Char(' ') + error.description());
            }
            failed.sort();
            QCOMPARE(failed,
                (QStringList {
                    QStringLiteral("103 The file “page” is not a font file."),
                    QStringLiteral("104 The font file “cut” is truncated or damaged."),
                    QStringLiteral("2 “folder” in the font folder is not a regular file; it was not registered."),
                    QStringLiteral("2 “link” in the font folder is not a regular file; it was not registered."),
                }));
        }

        m_logger->clear();
        m_store->unregisterAllFonts();
        QCOMPARE(registered(), QStringList {});
        QCOMPARE(m_logger->errors(), QList<Error> {});
        QCOMPARE(FontFiles::entries(m_rootDir).size(), 7);
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});
    }

    void bulkWalksOnAnEmptyFolderDoNothing()
    {
        m_store->registerAllFonts().waitForFinished();
        m_store->unregisterAllFonts();
        QCOMPARE(m_logger->errors(), QList<Error> {});
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    void registerAllFontsOnAMissingFolderReportsTheListing()
    {
        QVERIFY(QDir(m_rootDir).removeRecursively());
        m_store->registerAllFonts().waitForFinished();
        QCOMPARE(m_logger->errors(),
            QList { Error(QStringLiteral("NSPOSIXErrorDomain"), ENOENT,
                QStringLiteral("Could not list the font folder “%1”: No such file or directory.").arg(m_rootDir)) });
        QCOMPARE(m_logger->messages(), QStringList {});
        QVERIFY(!QFileInfo::exists(m_rootDir));
    }

    // What registers a font is its link, not its file: with the font folder
    // gone (deleted, or a run that crashed mid-way), every link still goes,
    // and so do those of an earlier layout (one flat folder).
    void unregisterAllFontsEmptiesTheLinkFolder()
    {
        QVERIFY(add(QStringLiteral("serif"), serif));
        QVERIFY(add(QStringLiteral("mono"), mono));
        QVERIFY(QFile::link(sans, m_linkDir + QStringLiteral("/flat-sans")));
        QVERIFY(QDir(m_appDir).removeRecursively());
        QCOMPARE(registered().size(), 3);

        m_store->unregisterAllFonts();
        QCOMPARE(registered(), QStringList {});
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});
        QCOMPARE(m_logger->errors(), QList<Error> {});
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    // A quit withdraws the fonts until the next start, which finds them
    // again; the session's end after the quit does not take that away.
    void theNextStartFindsWhatTheQuitWithdrew()
    {
        QVERIFY(add(QStringLiteral("serif"), serif));
        const QStringList before = registered();
        QCOMPARE(before.size(), 1);
        // The same folder, not one made anew: its font cache is still valid.
        const auto folderIdentity = [&] {
            struct stat folder { };
            ::stat(QFile::encodeName(QFileInfo(registered().value(0)).path()).constData(), &folder);
            return std::pair(folder.st_ino, folder.st_mtim.tv_nsec);
        };
        const auto folderBefore = folderIdentity();

        m_store->close();
        m_store->unregisterAllFonts();
        QCOMPARE(registered(), QStringList {});
        m_store.reset();
        m_fontManager = std::make_shared<MacOSFontManager>(MacOSFontManager::RegistrationScope::systemWide);
        m_store = std::make_unique<FontStore>(m_rootDir, m_logger, m_downloader, m_fontManager);
        m_store->registerAllFonts().waitForFinished();

        QCOMPARE(registered(), before);
        QVERIFY(folderIdentity() == folderBefore);
        QCOMPARE(m_logger->errors(), QList<Error> {});
    }

    // The walk runs on the store's thread while the session goes on: a
    // sign-out or a removal that comes meanwhile has the last word.
    void changesDuringTheWalkHaveTheLastWord_data()
    {
        QTest::addColumn<bool>("signOut");
        QTest::newRow("sign-out") << true;
        QTest::newRow("removal") << false;
    }
    void changesDuringTheWalkHaveTheLastWord()
    {
        QFETCH(bool, signOut);
        // Names of one file: the walk takes a while, the setup does not.
        constexpr int fonts = 2000;
        FontFiles::write(pathOf(QStringLiteral("0")), FontFiles::read(serif));
        const QByteArray file = QFile::encodeName(pathOf(QStringLiteral("0")));
        for (int i = 1; i < fonts; ++i) {
            QCOMPARE(::link(file.constData(), QFile::encodeName(pathOf(QString::number(i))).constData()), 0);
        }
        const auto linkedNames = [this] {
            QStringList names;
            for (const QString& subfolder : FontFiles::entries(m_linkDir)) {
                names += FontFiles::entries(m_linkDir + QLatin1Char('/') + subfolder);
            }
            return names;
        };
        QFuture<void> walk = m_store->registerAllFonts();
        QVERIFY(kernwell::test::waitUntil([&] { return !linkedNames().isEmpty(); }));
        QVERIFY(!walk.isFinished());
        // A name the walk has not reached yet.
        QString removed;
        const QStringList linked = linkedNames();
        for (int i = 0; removed.isEmpty(); ++i) {
            if (!linked.contains(QString::number(i))) {
                removed = QString::number(i);
            }
        }
        if (signOut) {
            m_store->unregisterAllFonts();
        } else {
            QCoro::Task<bool> removal = m_store->removeFont(removed);
            // The removal waits its turn on the store's thread, not on the caller's.
            QVERIFY(linkedNames().size() < fonts - 1);
            QVERIFY(runTask(std::move(removal)));
        }
        walk.waitForFinished();
        if (signOut) {
            QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});
        } else {
            QCOMPARE(linkedNames().size(), fonts - 1);
            QVERIFY(!linkedNames().contains(removed));
            QVERIFY(!QFileInfo::exists(pathOf(removed)));
        }
        QCOMPARE(m_logger->errors(), QList<Error> {});
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    // A sandboxed (Flatpak) application sees only the link folder: what is
    // registered there is the font itself, a hard link or, from another file
    // system, a copy; never a symbolic link leading out.
    void theRegisteredFileIsTheFontItself_data()
    {
        QTest::addColumn<bool>("acrossFileSystems");
        QTest::newRow("same file system") << false;
        QTest::newRow("another file system") << true;
    }
    void theRegisteredFileIsTheFontItself()
    {
        QFETCH(bool, acrossFileSystems);
        kernwell::LinkFolderSettings settings;
        if (acrossFileSystems) {
            settings.hardLink = [](const char*, const char*) {
                errno = EXDEV;
                return -1;
            };
        }
        m_store = std::make_unique<FontStore>(m_rootDir, m_logger, m_downloader,
            std::make_shared<MacOSFontManager>(MacOSFontManager::RegistrationScope::systemWide, settings));
        const QString link = linkOf(QStringLiteral("serif"));
        const auto identity = [](const QString& path) {
            struct stat status { };
            return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode)
                ? std::pair { status.st_dev, status.st_ino }
                : std::pair<dev_t, ino_t> {};
        };
        QVERIFY(add(QStringLiteral("serif"), serif));
        const auto registeredFile = identity(link);
        QVERIFY(registeredFile != decltype(registeredFile) {});
        QCOMPARE(registeredFile != identity(pathOf(QStringLiteral("serif"))), acrossFileSystems);
        QCOMPARE(FontFiles::read(link), FontFiles::read(serif));

        // Still right: neither added again nor replaced at the next start.
        QVERIFY(!add(QStringLiteral("serif"), serif));
        m_store->registerAllFonts().waitForFinished();
        QCOMPARE(identity(link), registeredFile);
        QCOMPARE(registered(), QStringList { link });

        QVERIFY(runTask(m_store->removeFont(QStringLiteral("serif"))));
        QCOMPARE(registered(), QStringList {});
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});
        QCOMPARE(m_logger->errors(), QList<Error> {});
        QCOMPARE(m_logger->messages(), QStringList {});
    }

    // Earlier versions linked every font straight into the link folder; a
    // font id that is a number must not pass for a subfolder there.
    void theFlatLayoutOfEarlierVersionsIsMigrated_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::newRow("names") << QStringList { QStringLiteral("a"), QStringLiteral("b") };
        QTest::newRow("numeric ids") << QStringList { QStringLiteral("1"), QStringLiteral("4022") };
    }
    void theFlatLayoutOfEarlierVersionsIsMigrated()
    {
        QFETCH(QStringList, names);
        QVERIFY(QDir().mkpath(m_linkDir));
        QStringList links;
        for (const QString& name : names) {
            FontFiles::write(pathOf(name), FontFiles::read(serif));
            QVERIFY(QFile::link(pathOf(name), m_linkDir + QLatin1Char('/') + name));
            links.append(linkOf(name));
        }
        m_store->registerAllFonts().waitForFinished();
        QCOMPARE(registered(), links);
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList { QStringLiteral("1") });
        QCOMPARE(m_logger->errors(), QList<Error> {});
    }

    // A session's start registers the folder's files over what an earlier
    // run left: links still right stay untouched (a changed subfolder makes
    // every application rescan it), every other entry goes.
    void registerAllFontsKeepsOnlyWhatIsRight_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("expected");
        const QStringList both { QStringLiteral("a"), QStringLiteral("b") };
        QTest::newRow("nothing") << "" << both;
        QTest::newRow("file deleted") << "delete b" << QStringList { QStringLiteral("a") };
        QTest::newRow("file replaced") << "replace b" << both;
        QTest::newRow("flat layout of earlier versions") << "flat" << both;
        QTest::newRow("stray file in a subfolder") << "stray" << both;
        QTest::newRow("empty subfolder") << "empty subfolder" << both;
    }
    void registerAllFontsKeepsOnlyWhatIsRight()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, expected);
        for (const auto& [name, font] : { std::pair { "a", serif }, std::pair { "b", mono } }) {
            FontFiles::write(pathOf(QLatin1String(name)), FontFiles::read(font));
        }
        m_store->registerAllFonts().waitForFinished();
        // Linking a file again changes its status: the count of its links.
        const auto statusChange = [](const QString& path) {
            struct stat status { };
            ::stat(QFile::encodeName(path).constData(), &status);
            return std::pair { status.st_ctim.tv_sec, status.st_ctim.tv_nsec };
        };
        const auto linkedA = statusChange(pathOf(QStringLiteral("a")));
        if (change == QLatin1String("delete b")) {
            QVERIFY(QFile::remove(pathOf(QStringLiteral("b"))));
        } else if (change == QLatin1String("replace b")) {
            QVERIFY(QFile::remove(pathOf(QStringLiteral("b"))));
            FontFiles::write(pathOf(QStringLiteral("b")), FontFiles::read(sans));
        } else if (change == QLatin1String("flat")) {
            QVERIFY(QFile::link(pathOf(QStringLiteral("b")), m_linkDir + QStringLiteral("/b")));
        } else if (change == QLatin1String("stray")) {
            FontFiles::write(linkOf(QStringLiteral("stray")), FontFiles::read(sans));
        } else if (change == QLatin1String("empty subfolder")) {
            QVERIFY(QDir().mkpath(m_linkDir + QStringLiteral("/7")));
        }

        m_store->registerAllFonts().waitForFinished();
        QStringList links;
        for (const QString& name : expected) {
            links.append(linkOf(name));
            QCOMPARE(FontFiles::read(linkOf(name)), FontFiles::read(pathOf(name)));
        }
        QCOMPARE(registered(), links);
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList { QStringLiteral("1") });
        QVERIFY(statusChange(pathOf(QStringLiteral("a"))) == linkedA);
        QCOMPARE(m_logger->errors(), QList<Error> {});
    }
};

KERNWELL_TEST_MAIN(TestFontStore)
#include "tst_FontStore.moc"
