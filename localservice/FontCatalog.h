#pragma once

#include "CatalogFont.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace kernwell::localservice {

// The catalog: every .ttf/.otf/.ttc file below a folder, one style each,
// ordered by family, subfamily and style. Ids are stable across restarts as
// long as a file keeps its place below the folder.
class FontCatalog {
public:
    FontCatalog() = default;
    // Files that fontconfig cannot read are left out and named in `skipped`.
    static FontCatalog scan(const QString& fontsDir, QStringList* skipped = nullptr);

    const QList<CatalogFont>& fonts() const { return m_fonts; }
    const CatalogFont* find(const QString& id) const;

    // A short, readable, file-name-safe id: a slug of the names plus a hash
    // of the relative path, so two copies of one font never collide.
    static QString makeId(const QString& family, const QString& subfamily, const QString& style, const QString& relativePath);

private:
    QList<CatalogFont> m_fonts;
    QHash<QString, qsizetype> m_index;
};

} // namespace kernwell::localservice
