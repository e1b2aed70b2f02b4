#include "ui/UiResources.h"

#include <QFontDatabase>
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

QFont typeface(Typeface face, qreal points)
{
    QFont font(face == Typeface::Bold ? boldName() : regularName());
    font.setWeight(face == Typeface::Bold ? QFont::Bold : QFont::Normal);
    font.setPixelSize(qRound(points));
    return font;
}

} // namespace kernwell
