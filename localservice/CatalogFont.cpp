#include "CatalogFont.h"

namespace kernwell::localservice {

QString CatalogFont::mimeType() const
{
    if (path.endsWith(QLatin1String(".otf"), Qt::CaseInsensitive)) {
        return QStringLiteral("font/otf");
    }
    if (path.endsWith(QLatin1String(".ttc"), Qt::CaseInsensitive)) {
        return QStringLiteral("font/collection");
    }
    return QStringLiteral("font/ttf");
}

} // namespace kernwell::localservice
