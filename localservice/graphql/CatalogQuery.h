#pragma once

#include "FontCatalog.h"
#include "GraphQlDocument.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

namespace kernwell::localservice {

// Answers a parsed query against the catalog. The schema:
//   Query   { styles(where: {any: [{id: String}], id: String}): Styles }
//   Styles  { nodes: [Style] }
//   Style   { id name: String, fonts: Fonts }
//   Fonts   { nodes: [Font] }
//   Font    { id: String, family subfamily style: Name, formats(types: String | [String]): [Format] }
//   Name    { name: String }
//   Format  { link type: String }
// Every object field needs a selection of subfields and every leaf refuses
// one; unknown fields and arguments are errors. Throws GraphQlError.
class CatalogQuery {
public:
    // `fontBaseUrl`: the links' prefix; a font's link is it + "/" + id.
    CatalogQuery(const FontCatalog& catalog, QString fontBaseUrl);

    // The "data" member of the answer.
    QJsonObject execute(const GraphQlDocument& document) const;

private:
    QJsonObject styles(const GraphQlField& field) const;
    QJsonObject style(const GraphQlField& field, const CatalogFont& font) const;
    QJsonObject font(const GraphQlField& field, const CatalogFont& font) const;
    bool wantsOpenType(const GraphQlField& formats) const;

    const FontCatalog& m_catalog;
    QString m_fontBaseUrl;
    // What each `formats` field's `types` asks for, by field of the document
    // being executed: a long list is walked once, not once per font.
    mutable QHash<const GraphQlField*, bool> m_wantsOpenType;
};

} // namespace kernwell::localservice
