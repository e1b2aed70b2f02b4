#include "fonts/FontClashDetector.h"

#include "fonts/ReleaseFreedMemory.h"

#include <QDir>
#include <QFile>

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

    QList<FontClashDetector::Face> facesOf(const FcFontSet* fonts, const QStringList& skippedFolders = {})
    {
        QList<FontClashDetector::Face> faces;
        for (int i = 0; fonts && i < fonts->nfont; ++i) {
            FcPattern* pattern = fonts->fonts[i];
            FcChar8* file = nullptr;
            if (FcPatternGetString(pattern, FC_FILE, 0, &file) != FcResultMatch || !file) {
                continue;
            }
            const QString path = QFile::decodeName(reinterpret_cast<const char*>(file));
            const bool skipped = std::any_of(skippedFolders.cbegin(), skippedFolders.cend(),
                [&](const QString& folder) { return path.startsWith(folder + QLatin1Char('/')); });
            if (!skipped) {
                faces.append({ path, firstString(pattern, FC_FAMILY), firstString(pattern, FC_STYLE),
                    firstString(pattern, FC_POSTSCRIPT_NAME) });
            }
        }
        return faces;
    }

    // Every face an application could pick, apart from those under `ownFolders`.
    QList<FontClashDetector::Face> installedFaces(const QStringList& installedFolders, const QStringList& ownFolders)
    {
        // A fresh configuration each time: the user may have installed fonts since.
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
        QList<FontClashDetector::Face> faces = facesOf(FcConfigGetFonts(config, FcSetSystem), ownFolders);
        faces += facesOf(FcConfigGetFonts(config, FcSetApplication), ownFolders);
        FcConfigDestroy(config);
        return faces;
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

FontClashDetector::FontClashDetector(
    QStringList ownFolders, QStringList installedFolders, FileReader readFile, QObject* parent)
    : QObject(parent)
    , m_ownFolders(std::move(ownFolders))
    , m_installedFolders(std::move(installedFolders))
    , m_readFile(readFile ? std::move(readFile) : [](const QString& file) { return readFaces({ file }); })
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
                      readFile = m_readFile](const IdleWorker::StopTest& stopped) -> IdleWorker::Result {
        QList<Face> synced;
        for (const QString& file : listFiles()) {
            if (stopped()) {
                return {};
            }
            synced += readFile(file);
        }
        if (synced.isEmpty() || stopped()) {
            return {};
        }
        const QList<Face> installedNow = installedFaces(installed, own);
        if (stopped()) {
            return {};
        }
        // Runs on this object's thread, and only while it lives.
        return [this, clashing = clashes(synced, installedNow)] {
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
