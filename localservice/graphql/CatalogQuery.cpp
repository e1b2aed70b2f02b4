#include "CatalogQuery.h"

#include "GraphQlError.h"

#include <QJsonArray>
#include <QSet>

namespace kernwell::localservice {

namespace {

// The type whose fields `field` selects from, for messages.
[[noreturn]] void unknownField(const GraphQlField& field, QLatin1String type)
{
    throw GraphQlError(QStringLiteral("Cannot query field \"%1\" on type \"%2\".").arg(field.name, type), field.line, field.column);
}

void requireSelection(const GraphQlField& field, QLatin1String type)
{
    if (!field.hasSelectionSet) {
        throw GraphQlError(QStringLiteral("Field \"%1\" of type \"%2\" must have a selection of subfields.").arg(field.name, type),
            field.line, field.column);
    }
}

void requireLeaf(const GraphQlField& field, QLatin1String type)
{
    if (field.hasSelectionSet) {
        throw GraphQlError(QStringLiteral("Field \"%1\" must not have a selection since type \"%2\" has no subfields.").arg(field.name, type),
            field.line, field.column);
    }
}

// Only the arguments in `allowed` may appear.
void allowArguments(const GraphQlField& field, QLatin1String parent, std::initializer_list<QLatin1String> allowed)
{
    for (const auto& [name, value] : field.arguments) {
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
            throw GraphQlError(QStringLiteral("Unknown argument \"%1\" on field \"%2.%3\".").arg(name, parent, field.name), value.line, value.column);
        }
    }
}

const GraphQlValue* argument(const GraphQlField& field, QLatin1String name)
{
    for (const auto& [argumentName, value] : field.arguments) {
        if (argumentName == name) {
            return &value;
        }
    }
    return nullptr;
}

[[noreturn]] void badValue(const GraphQlValue& value, const QString& expected)
{
    throw GraphQlError(QStringLiteral("Expected %1.").arg(expected), value.line, value.column);
}

QString stringValue(const GraphQlValue& value, const QString& what)
{
    if (value.kind != GraphQlValue::Kind::String) {
        badValue(value, QStringLiteral("a String for %1").arg(what));
    }
    return value.text;
}

// `{id: "x"}` → x.
QString idFilter(const GraphQlValue& value)
{
    if (value.kind != GraphQlValue::Kind::Object) {
        badValue(value, QStringLiteral("an object {id: String} in \"any\""));
    }
    QString id;
    bool found = false;
    for (const auto& [name, fieldValue] : value.fields) {
        if (name != QLatin1String("id")) {
            throw GraphQlError(QStringLiteral("Field \"%1\" is not defined by type \"StyleFilter\".").arg(name), fieldValue.line, fieldValue.column);
        }
        id = stringValue(fieldValue, QStringLiteral("\"id\""));
        found = true;
    }
    if (!found) {
        throw GraphQlError(QStringLiteral("Field \"StyleFilter.id\" of required type \"String!\" was not provided."), value.line, value.column);
    }
    return id;
}

// The ids that `where` asks for; nothing when every style is meant.
std::optional<QSet<QString>> wantedIds(const GraphQlField& field)
{
    const GraphQlValue* where = argument(field, QLatin1String("where"));
    if (!where || where->kind == GraphQlValue::Kind::Null) {
        return std::nullopt;
    }
    if (where->kind != GraphQlValue::Kind::Object) {
        badValue(*where, QStringLiteral("an object for \"where\""));
    }
    QSet<QString> ids;
    for (const auto& [name, value] : where->fields) {
        if (name == QLatin1String("id")) {
            ids.insert(stringValue(value, QStringLiteral("\"id\"")));
        } else if (name == QLatin1String("any")) {
            if (value.kind != GraphQlValue::Kind::List) {
                // A single object is accepted where a list is expected, as GraphQL's input coercion says.
                ids.insert(idFilter(value));
                continue;
            }
            for (const GraphQlValue& element : value.list) {
                ids.insert(idFilter(element));
            }
        } else {
            throw GraphQlError(QStringLiteral("Field \"%1\" is not defined by type \"StyleWhere\".").arg(name), value.line, value.column);
        }
    }
    return ids;
}

// The formats that `types` asks for; every format when absent.
bool typesWantOpenType(const GraphQlField& field)
{
    const GraphQlValue* types = argument(field, QLatin1String("types"));
    if (!types || types->kind == GraphQlValue::Kind::Null) {
        return true;
    }
    const auto isOpenType = [](const GraphQlValue& value) {
        if (value.kind != GraphQlValue::Kind::String && value.kind != GraphQlValue::Kind::Enum) {
            badValue(value, QStringLiteral("a format name such as \"OPENTYPE\" for \"types\""));
        }
        return value.text == QLatin1String("OPENTYPE");
    };
    if (types->kind == GraphQlValue::Kind::List) {
        bool any = false;
        for (const GraphQlValue& element : types->list) {
            any = isOpenType(element) || any;
        }
        return any;
    }
    return isOpenType(*types);
}

QJsonValue nameObject(const GraphQlField& field, const QString& name, QLatin1String type)
{
    requireSelection(field, type);
    allowArguments(field, QLatin1String("Font"), {});
    QJsonObject object;
    for (const GraphQlField& sub : field.selections) {
        if (sub.name == QLatin1String("name")) {
            requireLeaf(sub, QLatin1String("String"));
            allowArguments(sub, type, {});
            object.insert(sub.alias, name.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(name));
        } else if (sub.name == QLatin1String("__typename")) {
            object.insert(sub.alias, QString(type));
        } else {
            unknownField(sub, type);
        }
    }
    return object;
}

} // namespace

CatalogQuery::CatalogQuery(const FontCatalog& catalog, QString fontBaseUrl)
    : m_catalog(catalog)
    , m_fontBaseUrl(std::move(fontBaseUrl))
{
}

QJsonObject CatalogQuery::execute(const GraphQlDocument& document) const
{
    m_wantsOpenType.clear(); // an earlier document's fields may share addresses with this one's
    QJsonObject data;
    for (const GraphQlField& field : document.selections) {
        if (field.name == QLatin1String("styles")) {
            data.insert(field.alias, styles(field));
        } else if (field.name == QLatin1String("__typename")) {
            data.insert(field.alias, QStringLiteral("Query"));
        } else {
            unknownField(field, QLatin1String("Query"));
        }
    }
    return data;
}

QJsonObject CatalogQuery::styles(const GraphQlField& field) const
{
    requireSelection(field, QLatin1String("Styles"));
    allowArguments(field, QLatin1String("Query"), { QLatin1String("where") });
    const std::optional<QSet<QString>> ids = wantedIds(field);
    QJsonObject result;
    for (const GraphQlField& sub : field.selections) {
        if (sub.name == QLatin1String("nodes")) {
            requireSelection(sub, QLatin1String("Style"));
            allowArguments(sub, QLatin1String("Styles"), {});
            QJsonArray nodes;
            for (const CatalogFont& font : m_catalog.fonts()) {
                if (!ids || ids->contains(font.id)) {
                    nodes.append(style(sub, font));
                }
            }
            if (nodes.isEmpty()) {
                // A bad selection is an error whether or not a style matched.
                style(sub, CatalogFont {});
            }
            result.insert(sub.alias, nodes);
        } else if (sub.name == QLatin1String("__typename")) {
            result.insert(sub.alias, QStringLiteral("Styles"));
        } else {
            unknownField(sub, QLatin1String("Styles"));
        }
    }
    return result;
}

QJsonObject CatalogQuery::style(const GraphQlField& field, const CatalogFont& catalogFont) const
{
    QJsonObject result;
    for (const GraphQlField& sub : field.selections) {
        if (sub.name == QLatin1String("id") || sub.name == QLatin1String("name")) {
            requireLeaf(sub, QLatin1String("String"));
            allowArguments(sub, QLatin1String("Style"), {});
            result.insert(sub.alias, sub.name == QLatin1String("id") ? catalogFont.id : catalogFont.style);
        } else if (sub.name == QLatin1String("fonts")) {
            requireSelection(sub, QLatin1String("Fonts"));
            allowArguments(sub, QLatin1String("Style"), {});
            QJsonObject fonts;
            for (const GraphQlField& fontsField : sub.selections) {
                if (fontsField.name == QLatin1String("nodes")) {
                    requireSelection(fontsField, QLatin1String("Font"));
                    allowArguments(fontsField, QLatin1String("Fonts"), {});
                    fonts.insert(fontsField.alias, QJsonArray { font(fontsField, catalogFont) });
                } else if (fontsField.name == QLatin1String("__typename")) {
                    fonts.insert(fontsField.alias, QStringLiteral("Fonts"));
                } else {
                    unknownField(fontsField, QLatin1String("Fonts"));
                }
            }
            result.insert(sub.alias, fonts);
        } else if (sub.name == QLatin1String("__typename")) {
            result.insert(sub.alias, QStringLiteral("Style"));
        } else {
            unknownField(sub, QLatin1String("Style"));
        }
    }
    return result;
}

QJsonObject CatalogQuery::font(const GraphQlField& field, const CatalogFont& catalogFont) const
{
    QJsonObject result;
    for (const GraphQlField& sub : field.selections) {
        if (sub.name == QLatin1String("id")) {
            requireLeaf(sub, QLatin1String("String"));
            allowArguments(sub, QLatin1String("Font"), {});
            result.insert(sub.alias, catalogFont.id);
        } else if (sub.name == QLatin1String("family")) {
            result.insert(sub.alias, nameObject(sub, catalogFont.family, QLatin1String("Family")));
        } else if (sub.name == QLatin1String("subfamily")) {
            result.insert(sub.alias, nameObject(sub, catalogFont.subfamily, QLatin1String("Subfamily")));
        } else if (sub.name == QLatin1String("style")) {
            result.insert(sub.alias, nameObject(sub, catalogFont.style, QLatin1String("Style")));
        } else if (sub.name == QLatin1String("formats")) {
            requireSelection(sub, QLatin1String("Format"));
            allowArguments(sub, QLatin1String("Font"), { QLatin1String("types") });
            QJsonArray formats;
            QJsonObject format;
            for (const GraphQlField& formatField : sub.selections) {
                if (formatField.name == QLatin1String("link")) {
                    requireLeaf(formatField, QLatin1String("String"));
                    format.insert(formatField.alias, m_fontBaseUrl + QLatin1Char('/') + catalogFont.id);
                } else if (formatField.name == QLatin1String("type")) {
                    requireLeaf(formatField, QLatin1String("String"));
                    format.insert(formatField.alias, QStringLiteral("OPENTYPE"));
                } else if (formatField.name == QLatin1String("__typename")) {
                    format.insert(formatField.alias, QStringLiteral("Format"));
                } else {
                    unknownField(formatField, QLatin1String("Format"));
                }
            }
            if (wantsOpenType(sub)) {
                formats.append(format);
            }
            result.insert(sub.alias, formats);
        } else if (sub.name == QLatin1String("__typename")) {
            result.insert(sub.alias, QStringLiteral("Font"));
        } else {
            unknownField(sub, QLatin1String("Font"));
        }
    }
    return result;
}

bool CatalogQuery::wantsOpenType(const GraphQlField& formats) const
{
    const auto known = m_wantsOpenType.constFind(&formats);
    if (known != m_wantsOpenType.cend()) {
        return *known;
    }
    const bool wanted = typesWantOpenType(formats);
    m_wantsOpenType.insert(&formats, wanted);
    return wanted;
}

} // namespace kernwell::localservice
