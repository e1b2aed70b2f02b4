#include "FontCatalog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <fontconfig/fontconfig.h>

#include <algorithm>

namespace kernwell::localservice {

namespace {

QStringList patternStrings(FcPattern* pattern, const char* object)
{
    QStringList values;
    FcChar8* value = nullptr;
    for (int i = 0; FcPatternGetString(pattern, object, i, &value) == FcResultMatch; ++i) {
        values.append(QString::fromUtf8(reinterpret_cast<const char*>(value)));
    }
    return values;
}

// Fontconfig lists the typographic family first and the legacy family after
// it ("DejaVu Sans", "DejaVu Sans Condensed"); the difference is the
// subfamily. The legacy style then is the plain one ("Bold", not
// "Condensed Bold").
void readNames(FcPattern* pattern, CatalogFont& font)
{
    const QStringList families = patternStrings(pattern, FC_FAMILY);
    const QStringList styles = patternStrings(pattern, FC_STYLE);
    font.family = families.value(0);
    for (qsizetype i = 1; i < families.size(); ++i) {
        if (families[i].startsWith(font.family + QLatin1Char(' '))) {
            font.subfamily = families[i].mid(font.family.size() + 1).trimmed();
            break;
        }
    }
    font.style = styles.value(0);
    if (!font.subfamily.isNull()) {
        for (const QString& style : styles) {
            if (!style.contains(font.subfamily)) {
                font.style = style;
                break;
            }
        }
    }
    if (font.family.isEmpty()) {
        font.family = QFileInfo(font.path).completeBaseName();
    }
    if (font.style.isEmpty()) {
        font.style = QStringLiteral("Regular");
    }
}

QString slug(const QString& text)
{
    QString result;
    for (const QChar c : text.toLower()) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))) {
            result.append(c);
        } else if (!result.isEmpty() && !result.endsWith(QLatin1Char('-'))) {
            result.append(QLatin1Char('-'));
        }
    }
    while (result.endsWith(QLatin1Char('-'))) {
        result.chop(1);
    }
    return result.left(48);
}

} // namespace

QString FontCatalog::makeId(const QString& family, const QString& subfamily, const QString& style, const QString& relativePath)
{
    QString name = slug(QStringList { family, subfamily, style }.join(QLatin1Char(' ')));
    if (name.isEmpty()) {
        name = QStringLiteral("font");
    }
    const QByteArray hash = QCryptographicHash::hash(relativePath.toUtf8(), QCryptographicHash::Sha256).toHex().left(8);
    return name + QLatin1Char('-') + QString::fromLatin1(hash);
}

FontCatalog FontCatalog::scan(const QString& fontsDir, QStringList* skipped)
{
    FontCatalog catalog;
    const QDir root(fontsDir);
    QDirIterator it(fontsDir, QDir::Files | QDir::Readable, QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
    QStringList paths;
    while (it.hasNext()) {
        const QString path = it.next();
        const QString suffix = it.fileInfo().suffix().toLower();
        if (suffix == QLatin1String("ttf") || suffix == QLatin1String("otf") || suffix == QLatin1String("ttc")) {
            paths.append(path);
        }
    }
    paths.sort();

    for (const QString& path : paths) {
        int count = 0;
        const QByteArray encoded = QFile::encodeName(path);
        FcPattern* pattern = FcFreeTypeQuery(reinterpret_cast<const FcChar8*>(encoded.constData()), 0, nullptr, &count);
        if (!pattern) {
            if (skipped) {
                skipped->append(path);
            }
            continue;
        }
        CatalogFont font;
        font.path = QFileInfo(path).absoluteFilePath();
        font.relativePath = root.relativeFilePath(path);
        readNames(pattern, font);
        FcPatternDestroy(pattern);
        font.id = makeId(font.family, font.subfamily, font.style, font.relativePath);
        catalog.m_fonts.append(font);
    }
    std::sort(catalog.m_fonts.begin(), catalog.m_fonts.end(), [](const CatalogFont& a, const CatalogFont& b) {
        return std::tie(a.family, a.subfamily, a.style, a.id) < std::tie(b.family, b.subfamily, b.style, b.id);
    });
    for (qsizetype i = 0; i < catalog.m_fonts.size(); ++i) {
        catalog.m_index.insert(catalog.m_fonts[i].id, i);
    }
    return catalog;
}

const CatalogFont* FontCatalog::find(const QString& id) const
{
    const auto it = m_index.constFind(id);
    return it == m_index.constEnd() ? nullptr : &m_fonts[*it];
}

} // namespace kernwell::localservice
