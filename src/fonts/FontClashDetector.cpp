#include "fonts/FontClashDetector.h"

#include "fonts/ReleaseFreedMemory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <fontconfig/fontconfig.h>

#include <algorithm>

namespace kernwell {

namespace {

    QString firstString(FcPattern* pattern, const char* object)
    {
        FcChar8* value = nullptr;
        if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || !value) {
            return {};
        }
        return QString::fromUtf8(reinterpret_cast<const char*>(value));
    }

    // The faces fontconfig knows: those under `ownFolders` by file name,
    // the others as installed.
    struct KnownFaces {
        QList<FontClashDetector::Face> installed;
        QHash<QString, QList<FontClashDetector::Face>> own; // in fontconfig's order
    };

    void addFaces(const FcFontSet* fonts, const QStringList& ownFolders, KnownFaces& known)
    {
        for (int i = 0; fonts && i < fonts->nfont; ++i) {
            FcPattern* pattern = fonts->fonts[i];
            FcChar8* file = nullptr;
            if (FcPatternGetString(pattern, FC_FILE, 0, &file) != FcResultMatch || !file) {
                continue;
            }
            const QString path = QFile::decodeName(reinterpret_cast<const char*>(file));
            const FontClashDetector::Face face { path, firstString(pattern, FC_FAMILY), firstString(pattern, FC_STYLE),
                firstString(pattern, FC_POSTSCRIPT_NAME) };
            const bool own = std::any_of(ownFolders.cbegin(), ownFolders.cend(),
                [&](const QString& folder) { return path.startsWith(folder + QLatin1Char('/')); });
            if (own) {
                known.own[QFileInfo(path).fileName()].append(face);
            } else {
                known.installed.append(face);
            }
        }
    }

    QList<FontClashDetector::Face> facesOf(const FcFontSet* fonts)
    {
        KnownFaces known;
        addFaces(fonts, {}, known);
        return known.installed;
    }

    // Every face an application could pick; those under `ownFolders` apart.
    KnownFaces knownFaces(const QStringList& installedFolders, const QStringList& ownFolders)
    {
        FcConfig* config = nullptr;
        if (installedFolders.isEmpty()) {
            config = FcInitLoadConfigAndFonts();
        } else {
            config = FcConfigCreate();
            for (const QString& folder : installedFolders) {
                FcConfigAppFontAddDir(config, reinterpret_cast<const FcChar8*>(QFile::encodeName(folder).constData()));
            }
        }
        if (!config) {
            return {};
        }
        KnownFaces known;
        addFaces(FcConfigGetFonts(config, FcSetSystem), ownFolders, known);
        addFaces(FcConfigGetFonts(config, FcSetApplication), ownFolders, known);
        FcConfigDestroy(config);
        return known;
    }

    // Family and style as fontconfig compares them: without regard to case.
    QString styleKey(const FontClashDetector::Face& face)
    {
        if (face.family.isEmpty()) {
            return {};
        }
        return face.family.toCaseFolded() + QLatin1Char('\n') + face.style.toCaseFolded();
    }

} // namespace

FontClashDetector::FontClashDetector(QStringList ownFolders, QStringList installedFolders, FileReader readFile,
    CacheWait waitForCaches, QObject* parent)
    : QObject(parent)
    , m_ownFolders(std::move(ownFolders))
    , m_installedFolders(std::move(installedFolders))
    , m_readFile(readFile ? std::move(readFile) : [](const QString& file) { return readFaces({ file }); })
    , m_waitForCaches(waitForCaches ? std::move(waitForCaches) : [] {})
    // Only when nothing else wants the processor: the check reads every
    // installed face, and must not slow the start-up or a sync.
    , m_reader(this)
{
}

FontClashDetector::~FontClashDetector() = default;

void FontClashDetector::check(const QStringList& files)
{
    if (files.isEmpty()) {
        return;
    }
    checkListed([files] { return files; });
}

void FontClashDetector::checkFolder(const QString& folder)
{
    checkListed([folder] {
        QStringList files;
        const QDir listed(folder);
        for (const QString& name : listed.entryList(QDir::Files)) {
            files.append(listed.filePath(name));
        }
        return files;
    });
}

void FontClashDetector::checkListed(std::function<QStringList()> listFiles)
{
    m_reader.post([this, listFiles = std::move(listFiles), own = m_ownFolders, installed = m_installedFolders,
                      readFile = m_readFile, waitForCaches = m_waitForCaches](
                      const IdleWorker::StopTest& stopped) -> IdleWorker::Result {
        const QStringList files = listFiles();
        if (files.isEmpty() || stopped()) {
            return {};
        }
        // Stale caches would have this check scan their folders itself,
        // beside the refresh that is on its way.
        waitForCaches();
        // A fresh configuration each time: the user may have installed fonts since.
        const KnownFaces known = knownFaces(installed, own);
        QList<Face> synced;
        for (const QString& file : files) {
            if (stopped()) {
                return {};
            }
            // Registered: fontconfig has read its names already.
            const QList<Face> listed = known.own.value(QFileInfo(file).fileName());
            if (listed.isEmpty()) {
                synced += readFile(file);
            }
            for (Face face : listed) {
                face.file = file;
                synced.append(face);
            }
        }
        if (synced.isEmpty() || stopped()) {
            return {};
        }
        // Runs on this object's thread, and only while it lives.
        return [this, clashing = clashes(synced, known.installed)] {
            report(clashing);
            // Here rather than on the reader's thread: the trim holds the
            // allocator's locks, which no thread should wait for behind one
            // that runs only when the processor is idle.
            releaseFreedMemory();
        };
    });
}

void FontClashDetector::forget()
{
    m_reader.stop();
    m_reported.clear();
}

QList<FontClashDetector::Face> FontClashDetector::clashes(const QList<Face>& synced, const QList<Face>& installed)
{
    QSet<QString> styles;
    QSet<QString> postScriptNames;
    for (const Face& face : installed) {
        styles.insert(styleKey(face));
        postScriptNames.insert(face.postScriptName);
    }
    styles.remove(QString());
    postScriptNames.remove(QString());
    QList<Face> result;
    for (const Face& face : synced) {
        if (styles.contains(styleKey(face)) || postScriptNames.contains(face.postScriptName)) {
            result.append(face);
        }
    }
    return result;
}

QList<FontClashDetector::Face> FontClashDetector::readFaces(const QStringList& files)
{
    FcFontSet* fonts = FcFontSetCreate();
    for (const QString& file : files) {
        // -1: every face of the file, collections and named instances included.
        FcFreeTypeQueryAll(reinterpret_cast<const FcChar8*>(QFile::encodeName(file).constData()), -1, nullptr, nullptr, fonts);
    }
    QList<Face> faces = facesOf(fonts);
    FcFontSetDestroy(fonts);
    return faces;
}

void FontClashDetector::report(const QList<Face>& clashing)
{
    for (const Face& face : clashing) {
        if (!m_reported.contains(face.file)) {
            m_reported.insert(face.file);
            emit clashFound(face.file, face.displayName());
        }
    }
}

} // namespace kernwell
