#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace kernwell::test {

// A GraphQL query split into its string literals (decoded) and the rest of the
// text, in which every literal is replaced by "".
struct GraphQLStrings {
    QString skeleton;
    QStringList literals;
};

// Reads `query` as GraphQL source; nullopt when a string literal is malformed
// (unterminated, a bad escape, or a character a string may not hold raw).
std::optional<GraphQLStrings> splitGraphQLStrings(const QString& query);

} // namespace kernwell::test
