#include "api/QueryResult.h"
#include "diagnostics/Error.h"

#include "support/GraphQLStrings.h"
#include "TestMain.h"
#include "ThrownError.h"

#include <QJsonDocument>
#include <QJsonObject>

Q_DECLARE_METATYPE(kernwell::QueryResult::Font)

using kernwell::Error;
using kernwell::QueryResult;
using Font = kernwell::QueryResult::Font;
using kernwell::test::thrownError;

namespace kernwell {
// Readable failure output for QCOMPARE.
char* toString(const QueryResult::Font& font)
{
    const auto name = [](const std::optional<QString>& text) { return text ? QLatin1Char('"') + *text + QLatin1Char('"') : QStringLiteral("null"); };
    QStringList links;
    for (const auto& format : font.formats) {
        links.append(format.link);
    }
    return QTest::toString(QStringLiteral("Font(%1, %2, %3, %4, [%5])")
                               .arg(font.id, name(font.family.name), name(font.subfamily.name), name(font.style.name),
                                   links.join(QLatin1Char(','))));
}
}

namespace {

Font font(const QString& id, std::optional<QString> family, std::optional<QString> subfamily,
    std::optional<QString> style, const QStringList& links)
{
    Font result { id, { std::move(family) }, { std::move(subfamily) }, { std::move(style) }, {} };
    for (const QString& link : links) {
        result.formats.append({ link });
    }
    return result;
}

// One well-formed font object of the answer; `rest` adds members.
QByteArray fontJson(const QByteArray& id, const QByteArray& rest = {})
{
    return "{\"id\":\"" + id + "\",\"family\":{\"name\":\"Fam\"},\"subfamily\":{\"name\":\"Sub\"},"
           "\"style\":{\"name\":\"Bold\"},\"formats\":[{\"link\":\"https://f.test/" + id + ".otf\"}]" + rest + "}";
}

QByteArray answer(const QList<QByteArray>& styleNodes)
{
    QByteArrayList nodes;
    for (const QByteArray& fonts : styleNodes) {
        nodes.append("{\"fonts\":{\"nodes\":[" + fonts + "]}}");
    }
    return "{\"data\":{\"styles\":{\"nodes\":[" + nodes.join(',') + "]}}}";
}

} // namespace

class TestQueryResult : public QObject {
    Q_OBJECT
public:
    explicit TestQueryResult(const kernwell::test::Sandbox&) { }

private slots:
    void decodesAndFlattensInAnswerOrder_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QList<Font>>("fonts");

        const Font a = font(QStringLiteral("a"), QStringLiteral("Fam"), QStringLiteral("Sub"), QStringLiteral("Bold"),
            { QStringLiteral("https://f.test/a.otf") });
        const Font b = font(QStringLiteral("b"), QStringLiteral("Fam"), QStringLiteral("Sub"), QStringLiteral("Bold"),
            { QStringLiteral("https://f.test/b.otf") });
        const Font c = font(QStringLiteral("c"), QStringLiteral("Fam"), QStringLiteral("Sub"), QStringLiteral("Bold"),
            { QStringLiteral("https://f.test/c.otf") });

        QTest::newRow("no style nodes") << answer({}) << QList<Font> {};
        QTest::newRow("style node without fonts") << answer({ "" }) << QList<Font> {};
        QTest::newRow("two nodes, node order kept") << answer({ fontJson("b"), fontJson("a") }) << QList<Font> { b, a };
        QTest::newRow("several fonts per node, empty node skipped, no dedup")
            << answer({ fontJson("c") + "," + fontJson("a"), "", fontJson("c") }) << QList<Font> { c, a, c };
        QTest::newRow("null names")
            << answer({ "{\"id\":\"n\",\"family\":{\"name\":null},\"subfamily\":{\"name\":null},\"style\":{\"name\":null},"
                        "\"formats\":[]}" })
            << QList<Font> { font(QStringLiteral("n"), std::nullopt, std::nullopt, std::nullopt, {}) };
        QTest::newRow("several formats in order")
            << answer({ "{\"id\":\"m\",\"family\":{\"name\":\"F\"},\"subfamily\":{\"name\":\"\"},\"style\":{\"name\":\"S\"},"
                        "\"formats\":[{\"link\":\"l1\"},{\"link\":\"l2\"}]}" })
            << QList<Font> { font(QStringLiteral("m"), QStringLiteral("F"), QString(), QStringLiteral("S"),
                   { QStringLiteral("l1"), QStringLiteral("l2") }) };
        QTest::newRow("unknown keys and a GraphQL errors member ignored")
            << QByteArray("{\"errors\":[{\"message\":\"partial\"}],\"extensions\":1,\"data\":{\"styles\":{\"total\":3,"
                          "\"nodes\":[{\"id\":\"st\",\"fonts\":{\"nodes\":[")
                + fontJson("a", ",\"weight\":700,\"family2\":null") + "]}}]}}}"
            << QList<Font> { a };
        QTest::newRow("non-ASCII text")
            << answer({ QStringLiteral("{\"id\":\"ü1\",\"family\":{\"name\":\"Ωmega\"},\"subfamily\":{\"name\":\"粗体\"},"
                                       "\"style\":{\"name\":\"\\u00e9\"},\"formats\":[{\"link\":\"l\"}]}")
                            .toUtf8() })
            << QList<Font> { font(QStringLiteral("ü1"), QStringLiteral("Ωmega"), QStringLiteral("粗体"),
                   QStringLiteral("é"), { QStringLiteral("l") }) };
    }
    void decodesAndFlattensInAnswerOrder()
    {
        QFETCH(QByteArray, body);
        QFETCH(QList<Font>, fonts);
        QCOMPARE(QueryResult::decode(body).flattened(), fonts);
    }

    void rejectsWithThePathOfTheProblem_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("description");

        const auto brokenFont = [](const QByteArray& json) { return answer({ fontJson("ok") + "," + json }); };
        const QString secondFont = QStringLiteral("data.styles.nodes[0].fonts.nodes[1]");
        enum { invalidJson = 1, missingKey = 2, wrongKind = 3, unexpectedNull = 4 };

        QTest::newRow("empty body") << QByteArray() << int(invalidJson) << QString();
        QTest::newRow("not JSON") << QByteArray("<html>502</html>") << int(invalidJson) << QString();
        QTest::newRow("top-level array") << QByteArray("[]") << int(wrongKind)
                                         << QStringLiteral("top level: expected an object, found an array");
        QTest::newRow("GraphQL error answer") << QByteArray("{\"errors\":[{\"message\":\"Syntax Error\"}]}")
                                              << int(missingKey) << QStringLiteral("top level: missing \"data\"");
        QTest::newRow("data null") << QByteArray("{\"data\":null}") << int(unexpectedNull)
                                   << QStringLiteral("data: expected an object, found null");
        QTest::newRow("styles missing") << QByteArray("{\"data\":{}}") << int(missingKey)
                                        << QStringLiteral("data: missing \"styles\"");
        QTest::newRow("nodes an object") << QByteArray("{\"data\":{\"styles\":{\"nodes\":{}}}}") << int(wrongKind)
                                         << QStringLiteral("data.styles.nodes: expected an array, found an object");
        QTest::newRow("style node without fonts key")
            << QByteArray("{\"data\":{\"styles\":{\"nodes\":[{\"fonts\":{\"nodes\":[]}},{}]}}}") << int(missingKey)
            << QStringLiteral("data.styles.nodes[1]: missing \"fonts\"");
        QTest::newRow("font lacks subfamily")
            << brokenFont("{\"id\":\"x\",\"family\":{\"name\":\"F\"},\"style\":{\"name\":\"S\"},\"formats\":[]}")
            << int(missingKey) << secondFont + QStringLiteral(": missing \"subfamily\"");
        QTest::newRow("subfamily without name")
            << brokenFont("{\"id\":\"x\",\"family\":{\"name\":\"F\"},\"subfamily\":{},\"style\":{\"name\":\"S\"},\"formats\":[]}")
            << int(missingKey) << secondFont + QStringLiteral(".subfamily: missing \"name\"");
        QTest::newRow("subfamily null")
            << brokenFont("{\"id\":\"x\",\"family\":{\"name\":\"F\"},\"subfamily\":null,\"style\":{\"name\":\"S\"},\"formats\":[]}")
            << int(unexpectedNull) << secondFont + QStringLiteral(".subfamily: expected an object, found null");
        QTest::newRow("name a number")
            << brokenFont("{\"id\":\"x\",\"family\":{\"name\":7},\"subfamily\":{\"name\":\"\"},\"style\":{\"name\":\"S\"},\"formats\":[]}")
            << int(wrongKind) << secondFont + QStringLiteral(".family.name: expected a string, found a number");
        QTest::newRow("style a string")
            << brokenFont("{\"id\":\"x\",\"family\":{\"name\":\"F\"},\"subfamily\":{\"name\":\"\"},\"style\":\"S\",\"formats\":[]}")
            << int(wrongKind) << secondFont + QStringLiteral(".style: expected an object, found a string");
        QTest::newRow("id a number")
            << brokenFont("{\"id\":5,\"family\":{\"name\":\"F\"},\"subfamily\":{\"name\":\"\"},\"style\":{\"name\":\"S\"},\"formats\":[]}")
            << int(wrongKind) << secondFont + QStringLiteral(".id: expected a string, found a number");
        QTest::newRow("id null")
            << brokenFont("{\"id\":null,\"family\":{\"name\":\"F\"},\"subfamily\":{\"name\":\"\"},\"style\":{\"name\":\"S\"},\"formats\":[]}")
            << int(unexpectedNull) << secondFont + QStringLiteral(".id: expected a string, found null");
        QTest::newRow("formats null")
            << brokenFont("{\"id\":\"x\",\"family\":{\"name\":\"F\"},\"subfamily\":{\"name\":\"\"},\"style\":{\"name\":\"S\"},\"formats\":null}")
            << int(unexpectedNull) << secondFont + QStringLiteral(".formats: expected an array, found null");
        QTest::newRow("format without link")
            << brokenFont("{\"id\":\"x\",\"family\":{\"name\":\"F\"},\"subfamily\":{\"name\":\"\"},\"style\":{\"name\":\"S\"},"
                          "\"formats\":[{\"link\":\"l\"},{\"url\":\"l\"}]}")
            << int(missingKey) << secondFont + QStringLiteral(".formats[1]: missing \"link\"");
        QTest::newRow("link null")
            << brokenFont("{\"id\":\"x\",\"family\":{\"name\":\"F\"},\"subfamily\":{\"name\":\"\"},\"style\":{\"name\":\"S\"},"
                          "\"formats\":[{\"link\":null}]}")
            << int(unexpectedNull) << secondFont + QStringLiteral(".formats[0].link: expected a string, found null");
    }
    void rejectsWithThePathOfTheProblem()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, code);
        QFETCH(QString, description);
        const std::optional<Error> error = thrownError([&] {
            QueryResult::decode(body);
        });
        QVERIFY2(error, "decoded");
        QCOMPARE(error->domain(), QLatin1String(QueryResult::errorDomain));
        QCOMPARE(error->code(), code);
        if (description.isEmpty()) {
            QVERIFY2(error->description().startsWith(QLatin1String("not valid JSON: ")),
                qPrintable(error->description()));
        } else {
            QCOMPARE(error->description(), description);
        }
    }

    void requestBodyForOrdinaryIdentifiers_data()
    {
        QTest::addColumn<QStringList>("styleIds");
        QTest::addColumn<QByteArray>("body");

        const QByteArray start = "{\"query\":\"{styles(where: {any: [";
        const QByteArray end = "]}) {nodes {fonts {nodes {id family{name} style{name} subfamily{name} formats(types: "
                               "\\\"OPENTYPE\\\") {link} }}}}}\"}";

        QTest::newRow("two identifiers")
            << QStringList { QStringLiteral("s1"), QStringLiteral("s2") }
            << QByteArray("{\"query\":\"{styles(where: {any: [{id: \\\"s1\\\"},{id: \\\"s2\\\"}]}) {nodes {fonts {nodes {id "
                          "family{name} style{name} subfamily{name} formats(types: \\\"OPENTYPE\\\") {link} }}}}}\"}");
        QTest::newRow("none") << QStringList {} << start + end;
        QTest::newRow("duplicates and empty kept in order")
            << QStringList { QStringLiteral("b"), QString(), QStringLiteral("b") }
            << start + "{id: \\\"b\\\"},{id: \\\"\\\"},{id: \\\"b\\\"}" + end;
        QTest::newRow("typical catalog identifiers")
            << QStringList { QStringLiteral("U3R5bGU6MTIz"), QStringLiteral("style_42-x.y") }
            << start + "{id: \\\"U3R5bGU6MTIz\\\"},{id: \\\"style_42-x.y\\\"}" + end;
    }
    void requestBodyForOrdinaryIdentifiers()
    {
        QFETCH(QStringList, styleIds);
        QFETCH(QByteArray, body);
        QCOMPARE(QueryResult::requestBody(styleIds), body);
    }

    // Whatever an identifier holds, the body is one JSON object whose query is
    // the ordinary query with each identifier as one string literal that reads
    // back as exactly that identifier.
    void everyIdentifierAsksForExactlyItself_data()
    {
        QTest::addColumn<QStringList>("styleIds");

        const QList<std::pair<const char*, QString>> awkward {
            { "quote", QStringLiteral("a\"b") },
            { "backslash", QStringLiteral("a\\b") },
            { "trailing backslash", QStringLiteral("ab\\") },
            { "escaped quote sequence", QStringLiteral("\\\"") },
            { "newline", QStringLiteral("a\nb") },
            { "carriage return and tab", QStringLiteral("\r\t") },
            { "NUL", QString(QChar(u'\0')) + QStringLiteral("x") },
            { "other control characters", QString(QChar(u'\x01')) + QChar(u'\x1f') + QChar(u'\x7f') },
            { "closing brackets", QStringLiteral("}]})") },
            { "query injection", QStringLiteral("x\"}]}) {nodes {id}} #") },
            { "JSON injection", QStringLiteral("\",\"query\":\"{__schema{types{name}}}") },
            { "non-ASCII", QStringLiteral("Grüße – 字体 ✓") },
            { "astral plane", QStringLiteral("😀𝔸") },
            { "line and paragraph separators", QStringLiteral("\u2028\u2029") },
            { "unpaired surrogates", QString(QChar(u'\xd800')) + QStringLiteral("a") + QChar(u'\xdc00') },
            { "escape lookalike", QStringLiteral("\\u0041\\n") },
        };
        QStringList all;
        for (const auto& [name, id] : awkward) {
            QTest::newRow(name) << QStringList { id };
            all.append(id);
        }
        QTest::newRow("all together, with ordinary ones") << QStringList { QStringLiteral("s1") } + all + QStringList { QStringLiteral("s2") };
    }
    void everyIdentifierAsksForExactlyItself()
    {
        QFETCH(QStringList, styleIds);

        const QByteArray body = QueryResult::requestBody(styleIds);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(body, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        const QJsonObject object = document.object();
        QCOMPARE(object.keys(), QStringList { QStringLiteral("query") });
        QVERIFY(object.value(QLatin1String("query")).isString());

        const auto query = kernwell::test::splitGraphQLStrings(object.value(QLatin1String("query")).toString());
        QVERIFY(query);
        QCOMPARE(query->literals, styleIds + QStringList { QStringLiteral("OPENTYPE") });

        QStringList placeholders(styleIds.size(), QString());
        const auto ordinary = kernwell::test::splitGraphQLStrings(
            QJsonDocument::fromJson(QueryResult::requestBody(placeholders)).object().value(QLatin1String("query")).toString());
        QVERIFY(ordinary);
        QCOMPARE(query->skeleton, ordinary->skeleton);
    }
};

KERNWELL_TEST_MAIN(TestQueryResult)
#include "tst_QueryResult.moc"
