#include "GraphQlLexer.h"

#include "GraphQlError.h"

namespace kernwell::localservice {

namespace {

bool isNameStart(QChar c)
{
    return c == QLatin1Char('_') || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// A code point as messages show it: control characters and lone
// surrogates, which have no text of their own, by number.
QString describe(char32_t c)
{
    if (c < 0x20 || c == 0x7f || QChar::isSurrogate(c)) {
        return QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
    }
    return QStringLiteral("\"%1\"").arg(QString::fromUcs4(&c, 1));
}

} // namespace

GraphQlLexer::GraphQlLexer(QString text)
    : m_text(std::move(text))
{
}

QChar GraphQlLexer::peek(qsizetype ahead) const
{
    const qsizetype at = m_position + ahead;
    return at < m_text.size() ? m_text.at(at) : QChar();
}

// The whole code point at the position, not half of a surrogate pair.
char32_t GraphQlLexer::codePoint() const
{
    const QChar c = peek();
    if (c.isHighSurrogate() && peek(1).isLowSurrogate()) {
        return QChar::surrogateToUcs4(c, peek(1));
    }
    return c.unicode();
}

void GraphQlLexer::advance(qsizetype count)
{
    for (qsizetype i = 0; i < count && m_position < m_text.size(); ++i) {
        const QChar c = m_text.at(m_position++);
        if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && peek() != QLatin1Char('\n'))) {
            ++m_line;
            m_column = 1;
        } else {
            ++m_column;
        }
    }
}

void GraphQlLexer::fail(const QString& message) const
{
    throw GraphQlError(QStringLiteral("Syntax Error: %1").arg(message), m_line, m_column);
}

void GraphQlLexer::skipIgnored()
{
    while (m_position < m_text.size()) {
        const QChar c = peek();
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')
            || c == QLatin1Char(',') || c.unicode() == 0xfeff) {
            advance();
        } else if (c == QLatin1Char('#')) {
            while (m_position < m_text.size() && peek() != QLatin1Char('\n') && peek() != QLatin1Char('\r')) {
                advance();
            }
        } else {
            return;
        }
    }
}

GraphQlToken GraphQlLexer::next()
{
    skipIgnored();
    GraphQlToken token;
    token.line = m_line;
    token.column = m_column;
    if (m_position >= m_text.size()) {
        return token;
    }
    const QChar c = peek();
    static const QString punctuators = QStringLiteral("!$&()[]{}:=@|");
    if (punctuators.contains(c)) {
        token.kind = GraphQlToken::Kind::Punctuator;
        token.text = c;
        advance();
        return token;
    }
    if (c == QLatin1Char('.')) {
        if (peek(1) == QLatin1Char('.') && peek(2) == QLatin1Char('.')) {
            token.kind = GraphQlToken::Kind::Punctuator;
            token.text = QStringLiteral("...");
            advance(3);
            return token;
        }
        fail(QStringLiteral("Unexpected \".\"."));
    }
    if (isNameStart(c)) {
        const qsizetype start = m_position;
        while (isNameStart(peek()) || isDigit(peek())) {
            advance();
        }
        token.kind = GraphQlToken::Kind::Name;
        token.text = m_text.mid(start, m_position - start);
        return token;
    }
    if (c == QLatin1Char('-') || isDigit(c)) {
        GraphQlToken number = lexNumber();
        number.line = token.line;
        number.column = token.column;
        return number;
    }
    if (c == QLatin1Char('"')) {
        GraphQlToken string = lexString();
        string.line = token.line;
        string.column = token.column;
        return string;
    }
    fail(QStringLiteral("Unexpected character %1.").arg(describe(codePoint())));
}

GraphQlToken GraphQlLexer::lexNumber()
{
    const qsizetype start = m_position;
    GraphQlToken token;
    token.kind = GraphQlToken::Kind::Int;
    if (peek() == QLatin1Char('-')) {
        advance();
    }
    if (peek() == QLatin1Char('0')) {
        advance();
        if (isDigit(peek())) {
            fail(QStringLiteral("Invalid number, unexpected digit after 0: \"%1\".").arg(peek()));
        }
    } else if (isDigit(peek())) {
        while (isDigit(peek())) {
            advance();
        }
    } else {
        fail(QStringLiteral("Invalid number, expected digit but got %1.").arg(peek().isNull() ? QStringLiteral("<EOF>") : describe(codePoint())));
    }
    if (peek() == QLatin1Char('.')) {
        token.kind = GraphQlToken::Kind::Float;
        advance();
        if (!isDigit(peek())) {
            fail(QStringLiteral("Invalid number, expected digit after \".\"."));
        }
        while (isDigit(peek())) {
            advance();
        }
    }
    if (peek() == QLatin1Char('e') || peek() == QLatin1Char('E')) {
        token.kind = GraphQlToken::Kind::Float;
        advance();
        if (peek() == QLatin1Char('+') || peek() == QLatin1Char('-')) {
            advance();
        }
        if (!isDigit(peek())) {
            fail(QStringLiteral("Invalid number, expected digit in exponent."));
        }
        while (isDigit(peek())) {
            advance();
        }
    }
    if (isNameStart(peek()) || peek() == QLatin1Char('.')) {
        fail(QStringLiteral("Invalid number, unexpected %1 after it.").arg(describe(codePoint())));
    }
    token.text = m_text.mid(start, m_position - start);
    return token;
}

char16_t GraphQlLexer::hexQuad()
{
    char16_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const QChar c = peek();
        const int digit = c.isNull() ? -1 : QStringLiteral("0123456789abcdef").indexOf(c.toLower());
        if (digit < 0) {
            fail(QStringLiteral("Invalid Unicode escape sequence."));
        }
        value = static_cast<char16_t>(value * 16 + digit);
        advance();
    }
    return value;
}

GraphQlToken GraphQlLexer::lexString()
{
    if (peek(1) == QLatin1Char('"') && peek(2) == QLatin1Char('"')) {
        fail(QStringLiteral("Block strings are not supported."));
    }
    advance(); // opening quote
    GraphQlToken token;
    token.kind = GraphQlToken::Kind::String;
    while (true) {
        if (m_position >= m_text.size()) {
            fail(QStringLiteral("Unterminated string."));
        }
        const QChar c = peek();
        if (c == QLatin1Char('"')) {
            advance();
            return token;
        }
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            fail(QStringLiteral("Unterminated string."));
        }
        if (c.unicode() < 0x20 && c != QLatin1Char('\t')) {
            fail(QStringLiteral("Invalid character within String: %1.").arg(describe(c.unicode())));
        }
        if (c != QLatin1Char('\\')) {
            token.text.append(c);
            advance();
            continue;
        }
        advance(); // backslash
        const QChar escaped = peek();
        if (escaped.isNull()) {
            fail(QStringLiteral("Unterminated string."));
        }
        advance();
        switch (escaped.unicode()) {
        case '"': token.text.append(QLatin1Char('"')); break;
        case '\\': token.text.append(QLatin1Char('\\')); break;
        case '/': token.text.append(QLatin1Char('/')); break;
        case 'b': token.text.append(QLatin1Char('\b')); break;
        case 'f': token.text.append(QLatin1Char('\f')); break;
        case 'n': token.text.append(QLatin1Char('\n')); break;
        case 'r': token.text.append(QLatin1Char('\r')); break;
        case 't': token.text.append(QLatin1Char('\t')); break;
        case 'u': {
            const char16_t unit = hexQuad();
            if (QChar::isHighSurrogate(unit)) {
                if (peek() != QLatin1Char('\\') || peek(1) != QLatin1Char('u')) {
                    fail(QStringLiteral("Invalid Unicode escape sequence: lone surrogate."));
                }
                advance(2);
                const char16_t low = hexQuad();
                if (!QChar::isLowSurrogate(low)) {
                    fail(QStringLiteral("Invalid Unicode escape sequence: lone surrogate."));
                }
                token.text.append(QChar(unit));
                token.text.append(QChar(low));
            } else if (QChar::isLowSurrogate(unit)) {
                fail(QStringLiteral("Invalid Unicode escape sequence: lone surrogate."));
            } else {
                token.text.append(QChar(unit));
            }
            break;
        }
        default:
            fail(QStringLiteral("Invalid character escape sequence: \"\\%1\".").arg(escaped));
        }
    }
}

} // namespace kernwell::localservice
