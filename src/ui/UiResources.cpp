#include "ui/UiResources.h"

#include "ui/ColorScheme.h"

#include <QFile>
#include <QFontDatabase>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>

// Q_INIT_RESOURCE must be expanded outside any namespace.
static void initCompiledResources()
{
    Q_INIT_RESOURCE(assets);
    Q_INIT_RESOURCE(typefaces);
}

namespace kernwell {

namespace {

QString regularName()
{
    return QStringLiteral("Ombrel-Regular");
}

QString boldName()
{
    return QStringLiteral("Ombrel-Bold");
}

} // namespace

void initUiResources()
{
    initCompiledResources();
}

bool registerTypefaces()
{
    initUiResources();
    const QStringList files {
        QStringLiteral(":/typefaces/LiberationSans-Regular.ttf"),
        QStringLiteral(":/typefaces/LiberationSans-Bold.ttf"),
        QStringLiteral(":/typefaces/LiberationSans-Italic.ttf"),
        QStringLiteral(":/typefaces/LiberationSans-BoldItalic.ttf"),
    };
    QString family;
    bool allLoaded = true;
    for (const auto& file : files) {
        const int id = QFontDatabase::addApplicationFont(file);
        const auto families = QFontDatabase::applicationFontFamilies(id);
        if (id < 0 || families.isEmpty()) {
            allLoaded = false;
            continue;
        }
        family = families.first();
    }
    if (family.isEmpty()) {
        return false;
    }
    QFont::insertSubstitution(regularName(), family);
    QFont::insertSubstitution(boldName(), family);
    return allLoaded;
}

QString assetPath(const QString& name)
{
    return QStringLiteral(":/assets/") + name + QStringLiteral(".svg");
}

QByteArray assetData(const QString& name, ColorScheme scheme)
{
    QFile file(assetPath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QString svg = QString::fromUtf8(file.readAll());
    if (scheme == ColorScheme::Light || name == QLatin1String("CTAPreview")) {
        return svg.toUtf8();
    }
    // One pass, so that a colour turned into another is not turned again.
    static const QHash<QString, QString> dark {
        { QStringLiteral("#111111"), QStringLiteral("#f5f5f7") },
        { QStringLiteral("#000000"), QStringLiteral("#f5f5f7") },
        { QStringLiteral("#ffffff"), QStringLiteral("#111111") },
        { QStringLiteral("#e2e2e2"), QStringLiteral("#3a3a3c") },
    };
    static const QRegularExpression colour(QStringLiteral("#[0-9a-fA-F]{6}"));
    QString recoloured;
    qsizetype from = 0;
    for (const auto& match : colour.globalMatch(svg)) {
        recoloured += QStringView(svg).mid(from, match.capturedStart() - from);
        recoloured += dark.value(match.captured().toLower(), match.captured());
        from = match.capturedEnd();
    }
    recoloured += QStringView(svg).mid(from);
    return recoloured.toUtf8();
}

QFont typeface(Typeface face, qreal points)
{
    QFont font(face == Typeface::Bold ? boldName() : regularName());
    font.setWeight(face == Typeface::Bold ? QFont::Bold : QFont::Normal);
    font.setPixelSize(qRound(points));
    return font;
}

} // namespace kernwell
