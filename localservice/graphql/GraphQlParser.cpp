#include "GraphQlParser.h"

#include "GraphQlError.h"
#include "ServiceLimits.h"

#include <QSet>

namespace kernwell::localservice {

namespace {

// False when `name` was there already.
bool insertNew(QSet<QString>& names, const QString& name)
{
    const qsizetype before = names.size();
    names.insert(name);
    return names.size() != before;
}

QString describe(const GraphQlToken& token)
{
    switch (token.kind) {
    case GraphQlToken::Kind::End: return QStringLiteral("<EOF>");
    case GraphQlToken::Kind::Punctuator: return QStringLiteral("\"%1\"").arg(token.text);
    case GraphQlToken::Kind::Name: return QStringLiteral("Name \"%1\"").arg(token.text);
    case GraphQlToken::Kind::Int: return QStringLiteral("Int \"%1\"").arg(token.text);
    case GraphQlToken::Kind::Float: return QStringLiteral("Float \"%1\"").arg(token.text);
    case GraphQlToken::Kind::String: return QStringLiteral("String");
    }
    return {};
}

} // namespace

GraphQlParser::GraphQlParser(const QString& text)
    : m_lexer(text)
    , m_token(m_lexer.next())
{
}

GraphQlDocument GraphQlParser::parse(const QString& text)
{
    GraphQlParser parser(text);
    return parser.document();
}

void GraphQlParser::shift()
{
    m_token = m_lexer.next();
}

bool GraphQlParser::peekPunctuator(QLatin1String text) const
{
    return m_token.kind == GraphQlToken::Kind::Punctuator && m_token.text == text;
}

// `depth` brackets enclose the one at the current token; it opens level depth + 1.
void GraphQlParser::refuseNestingBeyond(int depth) const
{
    if (depth >= ServiceLimits::queryDepth) {
        throw GraphQlError(QStringLiteral("The query is nested too deeply."), m_token.line, m_token.column);
    }
}

void GraphQlParser::unexpected() const
{
    throw GraphQlError(QStringLiteral("Syntax Error: Unexpected %1.").arg(describe(m_token)), m_token.line, m_token.column);
}

void GraphQlParser::expectPunctuator(QLatin1String text)
{
    if (!peekPunctuator(text)) {
        throw GraphQlError(QStringLiteral("Syntax Error: Expected \"%1\", found %2.").arg(text, describe(m_token)), m_token.line, m_token.column);
    }
    shift();
}

QString GraphQlParser::expectName()
{
    if (m_token.kind != GraphQlToken::Kind::Name) {
        throw GraphQlError(QStringLiteral("Syntax Error: Expected Name, found %1.").arg(describe(m_token)), m_token.line, m_token.column);
    }
    QString name = m_token.text;
    shift();
    return name;
}

GraphQlDocument GraphQlParser::document()
{
    GraphQlDocument result;
    const int line = m_token.line;
    const int column = m_token.column;
    if (m_token.kind == GraphQlToken::Kind::Name) {
        if (m_token.text == QLatin1String("mutation") || m_token.text == QLatin1String("subscription")) {
            throw GraphQlError(QStringLiteral("Only queries are supported, not %1s.").arg(m_token.text), line, column);
        }
        if (m_token.text == QLatin1String("fragment")) {
            throw GraphQlError(QStringLiteral("Fragments are not supported."), line, column);
        }
        if (m_token.text != QLatin1String("query")) {
            unexpected();
        }
        shift();
        if (m_token.kind == GraphQlToken::Kind::Name) {
            shift(); // the operation's name plays no part
        }
        if (peekPunctuator(QLatin1String("("))) {
            throw GraphQlError(QStringLiteral("Variables are not supported."), m_token.line, m_token.column);
        }
        if (peekPunctuator(QLatin1String("@"))) {
            throw GraphQlError(QStringLiteral("Directives are not supported."), m_token.line, m_token.column);
        }
    }
    if (!peekPunctuator(QLatin1String("{"))) {
        if (m_token.kind == GraphQlToken::Kind::End) {
            throw GraphQlError(QStringLiteral("Syntax Error: Unexpected <EOF>."), m_token.line, m_token.column);
        }
        unexpected();
    }
    result.selections = selectionSet(0);
    if (m_token.kind != GraphQlToken::Kind::End) {
        if (m_token.kind == GraphQlToken::Kind::Name || peekPunctuator(QLatin1String("{"))) {
            throw GraphQlError(QStringLiteral("Only one operation per request is supported."), m_token.line, m_token.column);
        }
        unexpected();
    }
    return result;
}

std::vector<GraphQlField> GraphQlParser::selectionSet(int depth)
{
    refuseNestingBeyond(depth);
    expectPunctuator(QLatin1String("{"));
    std::vector<GraphQlField> fields;
    do {
        if (peekPunctuator(QLatin1String("..."))) {
            throw GraphQlError(QStringLiteral("Fragments are not supported."), m_token.line, m_token.column);
        }
        if (++m_fields > ServiceLimits::queryFields) {
            throw GraphQlError(QStringLiteral("The query selects more than %1 fields.").arg(ServiceLimits::queryFields), m_token.line, m_token.column);
        }
        fields.push_back(field(depth));
    } while (!peekPunctuator(QLatin1String("}")));
    shift();
    return fields;
}

GraphQlField GraphQlParser::field(int depth)
{
    GraphQlField result;
    result.line = m_token.line;
    result.column = m_token.column;
    result.name = expectName();
    result.alias = result.name;
    if (peekPunctuator(QLatin1String(":"))) {
        shift();
        result.name = expectName();
    }
    if (peekPunctuator(QLatin1String("("))) {
        result.arguments = arguments(depth);
    }
    if (peekPunctuator(QLatin1String("@"))) {
        throw GraphQlError(QStringLiteral("Directives are not supported."), m_token.line, m_token.column);
    }
    if (peekPunctuator(QLatin1String("{"))) {
        result.selections = selectionSet(depth + 1);
        result.hasSelectionSet = true;
    }
    return result;
}

std::vector<std::pair<QString, GraphQlValue>> GraphQlParser::arguments(int depth)
{
    expectPunctuator(QLatin1String("("));
    std::vector<std::pair<QString, GraphQlValue>> result;
    QSet<QString> names;
    do {
        const int line = m_token.line;
        const int column = m_token.column;
        QString name = expectName();
        if (!insertNew(names, name)) {
            throw GraphQlError(QStringLiteral("There can be only one argument named \"%1\".").arg(name), line, column);
        }
        expectPunctuator(QLatin1String(":"));
        result.emplace_back(std::move(name), value(depth + 1));
    } while (!peekPunctuator(QLatin1String(")")));
    shift();
    return result;
}

GraphQlValue GraphQlParser::value(int depth)
{
    GraphQlValue result;
    result.line = m_token.line;
    result.column = m_token.column;
    switch (m_token.kind) {
    case GraphQlToken::Kind::Int:
        result.kind = GraphQlValue::Kind::Int;
        result.text = m_token.text;
        shift();
        return result;
    case GraphQlToken::Kind::Float:
        result.kind = GraphQlValue::Kind::Float;
        result.text = m_token.text;
        shift();
        return result;
    case GraphQlToken::Kind::String:
        result.kind = GraphQlValue::Kind::String;
        result.text = m_token.text;
        shift();
        return result;
    case GraphQlToken::Kind::Name:
        if (m_token.text == QLatin1String("true") || m_token.text == QLatin1String("false")) {
            result.kind = GraphQlValue::Kind::Boolean;
            result.boolean = m_token.text == QLatin1String("true");
        } else if (m_token.text == QLatin1String("null")) {
            result.kind = GraphQlValue::Kind::Null;
        } else {
            result.kind = GraphQlValue::Kind::Enum;
            result.text = m_token.text;
        }
        shift();
        return result;
    case GraphQlToken::Kind::Punctuator:
        if (m_token.text == QLatin1String("$")) {
            throw GraphQlError(QStringLiteral("Variables are not supported."), m_token.line, m_token.column);
        }
        if (m_token.text == QLatin1String("[")) {
            refuseNestingBeyond(depth);
            shift();
            result.kind = GraphQlValue::Kind::List;
            while (!peekPunctuator(QLatin1String("]"))) {
                result.list.push_back(value(depth + 1));
            }
            shift();
            return result;
        }
        if (m_token.text == QLatin1String("{")) {
            refuseNestingBeyond(depth);
            shift();
            result.kind = GraphQlValue::Kind::Object;
            QSet<QString> names;
            while (!peekPunctuator(QLatin1String("}"))) {
                const int line = m_token.line;
                const int column = m_token.column;
                QString name = expectName();
                if (!insertNew(names, name)) {
                    throw GraphQlError(QStringLiteral("There can be only one input field named \"%1\".").arg(name), line, column);
                }
                expectPunctuator(QLatin1String(":"));
                result.fields.push_back({ std::move(name), value(depth + 1) });
            }
            shift();
            return result;
        }
        unexpected();
    case GraphQlToken::Kind::End:
        unexpected();
    }
    unexpected();
}

} // namespace kernwell::localservice
