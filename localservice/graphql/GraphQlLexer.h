#pragma once

#include "GraphQlToken.h"

#include <QString>

namespace kernwell::localservice {

// Splits query text into tokens. Blanks, line ends, commas and comments are
// insignificant; strings are unescaped (\" \\ \/ \b \f \n \r \t \uXXXX,
// surrogate pairs included). Throws GraphQlError at the first bad character.
class GraphQlLexer {
public:
    explicit GraphQlLexer(QString text);

    GraphQlToken next();

private:
    QChar peek(qsizetype ahead = 0) const;
    char32_t codePoint() const;
    void advance(qsizetype count = 1);
    void skipIgnored();
    GraphQlToken lexNumber();
    GraphQlToken lexString();
    [[noreturn]] void fail(const QString& message) const;
    char16_t hexQuad();

    QString m_text;
    qsizetype m_position = 0;
    int m_line = 1;
    int m_column = 1;
};

} // namespace kernwell::localservice
