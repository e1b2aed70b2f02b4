#include "api/QueryResult.h"

#include "api/StrictJsonReader.h"
#include "api/StringEscaping.h"

namespace kernwell {

namespace {

    std::optional<QString> name(const StrictJsonReader& holder, QLatin1String key)
    {
        return holder.field(key).field(QLatin1String("name")).nullableString();
    }

    QueryResult::Font decodeFont(const StrictJsonReader& node)
    {
        QueryResult::Font font;
        font.id = node.field(QLatin1String("id")).string();
        font.family.name = name(node, QLatin1String("family"));
        font.subfamily.name = name(node, QLatin1String("subfamily"));
        font.style.name = name(node, QLatin1String("style"));
        for (const StrictJsonReader& format : node.field(QLatin1String("formats")).elements()) {
            font.formats.append({ format.field(QLatin1String("link")).string() });
        }
        return font;
    }

} // namespace

QueryResult QueryResult::decode(const QByteArray& body)
{
    const StrictJsonReader root = StrictJsonReader::parse(body, QLatin1String(errorDomain));
    QueryResult result;
    const StrictJsonReader styles = root.field(QLatin1String("data")).field(QLatin1String("styles"));
    for (const StrictJsonReader& styleNode : styles.field(QLatin1String("nodes")).elements()) {
        Data::Styles::Nodes node;
        for (const StrictJsonReader& fontNode : styleNode.field(QLatin1String("fonts")).field(QLatin1String("nodes")).elements()) {
            node.fonts.nodes.append(decodeFont(fontNode));
        }
        result.data.styles.nodes.append(std::move(node));
    }
    return result;
}

QList<QueryResult::Font> QueryResult::flattened() const
{
    QList<Font> fonts;
    for (const Data::Styles::Nodes& node : data.styles.nodes) {
        fonts.append(node.fonts.nodes);
    }
    return fonts;
}

QByteArray QueryResult::requestBody(const QStringList& styleIds)
{
    // Each identifier becomes a GraphQL string literal of its own, so that it
    // asks for exactly itself; the query then becomes one JSON string.
    QStringList conditions;
    conditions.reserve(styleIds.size());
    for (const QString& id : styleIds) {
        conditions.append(QStringLiteral("{id: \"") + escapeForStringLiteral(id) + QStringLiteral("\"}"));
    }
    const QString query = QStringLiteral("{styles(where: {any: [") + conditions.join(QLatin1Char(','))
        + QStringLiteral("]}) {nodes {fonts {nodes {id family{name} style{name} subfamily{name} "
                         "formats(types: \"OPENTYPE\") {link} }}}}}");
    return (QStringLiteral("{\"query\":\"") + escapeForStringLiteral(query) + QStringLiteral("\"}")).toUtf8();
}

} // namespace kernwell
