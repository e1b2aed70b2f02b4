#include "GraphQLStrings.h"

namespace kernwell::test {

namespace {

    // Decodes the literal whose opening quote is at `start`; on success moves
    // `end` past the closing quote.
    std::optional<QString> readLiteral(const QString& query, qsizetype start, qsizetype& end)
    {
        QString value;
        qsizetype i = start + 1;
        while (i < query.size()) {
            const QChar c = query.at(i);
            if (c == QLatin1Char('"')) {
                end = i + 1;
                return value;
            }
            if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || (c.unicode() < 0x20 && c != QLatin1Char('\t'))) {
                return std::nullopt;
            }
            if (c != QLatin1Char('\\')) {
                value += c;
                ++i;
                continue;
            }
            if (i + 1 >= query.size()) {
                return std::nullopt;
            }
            const QChar escape = query.at(i + 1);
            i += 2;
            switch (escape.unicode()) {
            case u'"':
            case u'\\':
            case u'/':
                value += escape;
                break;
            case u'b':
                value += QLatin1Char('\b');
                break;
            case u'f':
                value += QLatin1Char('\f');
                break;
            case u'n':
                value += QLatin1Char('\n');
                break;
            case u'r':
                value += QLatin1Char('\r');
                break;
            case u't':
                value += QLatin1Char('\t');
                break;
            case u'u': {
                if (i + 4 > query.size()) {
                    return std::nullopt;
                }
                bool ok = false;
                const uint code = query.mid(i, 4).toUInt(&ok, 16);
                if (!ok) {
                    return std::nullopt;
                }
                value += QChar(static_cast<char16_t>(code));
                i += 4;
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

} // namespace

std::optional<GraphQLStrings> splitGraphQLStrings(const QString& query)
{
    GraphQLStrings result;
    qsizetype i = 0;
    while (i < query.size()) {
        if (query.at(i) != QLatin1Char('"')) {
            result.skeleton += query.at(i++);
            continue;
        }
        qsizetype end = i;
        std::optional<QString> literal = readLiteral(query, i, end);
        if (!literal) {
            return std::nullopt;
        }
        result.literals.append(*literal);
        result.skeleton += QLatin1String("\"\"");
        i = end;
    }
    return result;
}

} // namespace kernwell::test
