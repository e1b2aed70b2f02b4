#include "fonts/SyncedFontReader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <optional>
#include <utility>

#include <sys/stat.h>

namespace kernwell {

namespace {

    using Names = std::pair<QString, QString>; // family, style

    QString text(FcPattern* pattern, const char* object)
    {
        FcChar8* value = nullptr;
        return FcPatternGetString(pattern, object, 0, &value) == FcResultMatch
            ? QString::fromUtf8(reinterpret_cast<const char*>(value))
            : QString();
    }

    // The first face of each file the caches of the link subfolders know,
    // by file name (a link is named like its font file).
    QHash<QString, Names> cachedNames(const QString& linkFolder)
    {
        QHash<QString, Names> names;
        QDirIterator subfolders(linkFolder, QDir::Dirs | QDir::NoDotAndDotDot);
        while (subfolders.hasNext()) {
            const QByteArray folder = QFile::encodeName(subfolders.next());
            FcCache* cache = FcDirCacheLoad(reinterpret_cast<const FcChar8*>(folder.constData()), nullptr, nullptr);
            if (!cache) {
                continue;
            }
            if (FcFontSet* set = FcCacheCopySet(cache)) {
                for (int i = 0; i < set->nfont; ++i) {
                    int index = 0;
                    FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
                    const QString file = text(set->fonts[i], FC_FILE);
                    if (index == 0 && !file.isEmpty()) {
                        names.insert(file.section(QLatin1Char('/'), -1),
                            { text(set->fonts[i], FC_FAMILY), text(set->fonts[i], FC_STYLE) });
                    }
                }
                FcFontSetDestroy(set);
            }
            FcDirCacheUnload(cache);
        }
        return names;
    }

    std::optional<Names> namesInFile(const QString& path)
    {
        int faces = 0;
        FcPattern* pattern = FcFreeTypeQuery(
            reinterpret_cast<const FcChar8*>(QFile::encodeName(path).constData()), 0, nullptr, &faces);
        if (!pattern) {
            return std::nullopt;
        }
        Names names { text(pattern, FC_FAMILY), text(pattern, FC_STYLE) };
        FcPatternDestroy(pattern);
        return names;
    }

} // namespace

SyncedFontReader::SyncedFontReader(QString fontFolder, QString linkFolder)
    : m_fontFolder(std::move(fontFolder))
    , m_linkFolder(std::move(linkFolder))
{
}

QList<SyncedFont> SyncedFontReader::read() const
{
    const QHash<QString, Names> cached = cachedNames(m_linkFolder);
    QList<SyncedFont> fonts;
    QDirIterator files(m_fontFolder, QDir::Files | QDir::NoDotAndDotDot);
    while (files.hasNext()) {
        SyncedFont font;
        font.path = files.next();
        font.fontId = files.fileName();
        struct stat status { };
        if (::stat(QFile::encodeName(font.path).constData(), &status) != 0) {
            continue; // removed meanwhile
        }
        font.size = status.st_size;
        font.device = status.st_dev;
        font.inode = status.st_ino;
        const auto known = cached.constFind(font.fontId);
        const std::optional<Names> names = known != cached.cend() ? std::optional(*known) : namesInFile(font.path);
        font.family = names && !names->first.isEmpty() ? names->first : font.fontId;
        font.style = names ? names->second : QString();
        fonts.append(std::move(font));
    }
    std::sort(fonts.begin(), fonts.end(), [](const SyncedFont& a, const SyncedFont& b) {
        const int family = QString::localeAwareCompare(a.family, b.family);
        if (family != 0) {
            return family < 0;
        }
        const int style = QString::localeAwareCompare(a.style, b.style);
        return style != 0 ? style < 0 : a.fontId < b.fontId;
    });
    return fonts;
}

} // namespace kernwell
