#include "api/QueryResult.h"

#include "support/GraphQLStrings.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

std::optional<kernwell::test::GraphQLStrings> query(const QStringList& styleIds)
{
    QJsonParseError error;
    const QJsonDocument body = QJsonDocument::fromJson(kernwell::QueryResult::requestBody(styleIds), &error);
    if (error.error != QJsonParseError::NoError || !body.isObject()) {
        fail("the body is not a JSON object");
    }
    const QJsonObject object = body.object();
    if (object.size() != 1 || !object.value(QLatin1String("query")).isString()) {
        fail("the body is not one query string");
    }
    return kernwell::test::splitGraphQLStrings(object.value(QLatin1String("query")).toString());
}

} // namespace

// The input is UTF-16 (so that unpaired surrogates and NUL occur), with U+FFFF
// between identifiers. Every identifier must come back as exactly one string
// literal of an otherwise unchanged query.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QString text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text += QChar(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    const QStringList styleIds = text.split(QChar(u'\xffff'));

    const auto asked = query(styleIds);
    if (!asked) {
        fail("the query does not read as GraphQL");
    }
    if (asked->literals != styleIds + QStringList { QStringLiteral("OPENTYPE") }) {
        fail("an identifier does not ask for exactly itself");
    }
    const auto ordinary = query(QStringList(styleIds.size(), QString()));
    if (!ordinary || asked->skeleton != ordinary->skeleton) {
        fail("an identifier changed the query");
    }
    return 0;
}
