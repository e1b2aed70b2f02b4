#pragma once

#include "GraphQlDocument.h"
#include "GraphQlLexer.h"

#include <QString>

namespace kernwell::localservice {

// Recursive descent over the executable part of the language that the
// catalog needs: one query operation (shorthand or `query Name`), fields with
// aliases and arguments, and literal values. Variables, fragments,
// directives, mutations and subscriptions are refused with a clear message,
// as are documents nested deeper or selecting more fields than
// ServiceLimits allows. Throws GraphQlError.
class GraphQlParser {
public:
    static GraphQlDocument parse(const QString& text);

private:
    explicit GraphQlParser(const QString& text);

    GraphQlDocument document();
    std::vector<GraphQlField> selectionSet(int depth);
    GraphQlField field(int depth);
    std::vector<std::pair<QString, GraphQlValue>> arguments(int depth);
    GraphQlValue value(int depth);

    bool peekPunctuator(QLatin1String text) const;
    void expectPunctuator(QLatin1String text);
    QString expectName();
    void refuseNestingBeyond(int depth) const;
    [[noreturn]] void unexpected() const;
    void shift();

    GraphQlLexer m_lexer;
    GraphQlToken m_token;
    int m_fields = 0;
};

} // namespace kernwell::localservice
