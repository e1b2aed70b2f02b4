#include "FontCatalog.h"
#include "graphql/CatalogQuery.h"
#include "graphql/GraphQlError.h"
#include "graphql/GraphQlParser.h"

#include "TestFonts.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace kernwell::localservice;
using kernwell::test::TestFonts;

namespace {

// The query text a client sends for `ids`, after JSON decoding.
QString clientQuery(const QStringList& literals)
{
    QStringList pieces;
    for (const QString& literal : literals) {
        pieces.append(QStringLiteral("{id: %1}").arg(literal));
    }
    return QStringLiteral("{styles(where: {any: [%1]}) {nodes {fonts {nodes {id family{name} style{name} subfamily{name} "
                          "formats(types: \"OPENTYPE\") {link} }}}}}")
        .arg(pieces.join(QLatin1Char(',')));
}

// The id arguments of the client's query, as the parser decoded them.
QStringList parsedIds(const QString& query)
{
    const GraphQlDocument document = GraphQlParser::parse(query);
    QStringList ids;
    const GraphQlValue& where = document.selections.at(0).arguments.at(0).second;
    for (const GraphQlValue& element : where.fields.at(0).value.list) {
        ids.append(element.fields.at(0).value.text);
    }
    return ids;
}

} // namespace

class TestCatalogQuery : public QObject {
    Q_OBJECT
public:
    explicit TestCatalogQuery(const kernwell::test::Sandbox&) { }

private:
    QTemporaryDir m_fonts;
    FontCatalog m_catalog;

    QJsonObject run(const QString& query) const
    {
        return CatalogQuery(m_catalog, QStringLiteral("http://127.0.0.1:1/fonts")).execute(GraphQlParser::parse(query));
    }

    QString idOf(const QString& file) const
    {
        for (const CatalogFont& font : m_catalog.fonts()) {
            if (font.relativePath == file) {
                return font.id;
            }
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_fonts.isValid());
        QVERIFY(QDir(m_fonts.path()).mkpath(QStringLiteral("copy")));
        // A plain style, a copy of it, and a style of a subfamily (legacy
        // family "Kernwell Sans Condensed" in typographic family "Kernwell Sans").
        const QByteArray sans = TestFonts::named(QStringLiteral("Kernwell Sans"), QStringLiteral("Book"));
        TestFonts::write(m_fonts.filePath(QStringLiteral("KernwellSans.ttf")), sans);
        TestFonts::write(m_fonts.filePath(QStringLiteral("copy/KernwellSans.TTF")), sans);
        TestFonts::write(m_fonts.filePath(QStringLiteral("KernwellSansCondensed-Bold.ttf")),
            TestFonts::named(QStringLiteral("Kernwell Sans Condensed"), QStringLiteral("Bold"), QStringLiteral("Kernwell Sans"),
                QStringLiteral("Condensed Bold")));
        QFile notAFont(m_fonts.filePath(QStringLiteral("broken.otf")));
        QVERIFY(notAFont.open(QIODevice::WriteOnly));
        notAFont.write("<html>not a font</html>");
        notAFont.close();
        QStringList skipped;
        m_catalog = FontCatalog::scan(m_fonts.path(), &skipped);
        QCOMPARE(skipped, QStringList { m_fonts.filePath(QStringLiteral("broken.otf")) });
    }

    void catalogIdsAreStableDistinctAndFileSafe()
    {
        QCOMPARE(m_catalog.fonts().size(), 3);
        const FontCatalog again = FontCatalog::scan(m_fonts.path());
        QStringList ids;
        for (qsizetype i = 0; i < m_catalog.fonts().size(); ++i) {
            const CatalogFont& font = m_catalog.fonts()[i];
            QCOMPARE(again.fonts()[i].id, font.id);
            QVERIFY2(QRegularExpression(QStringLiteral("^[a-z0-9-]+$")).match(font.id).hasMatch(), qPrintable(font.id));
            QVERIFY(!ids.contains(font.id));
            ids.append(font.id);
        }
        // Two copies of one font are two styles.
        QVERIFY(idOf(QStringLiteral("KernwellSans.ttf")) != idOf(QStringLiteral("copy/KernwellSans.TTF")));
        QVERIFY(m_catalog.find(idOf(QStringLiteral("KernwellSans.ttf"))));
        QVERIFY(!m_catalog.find(QStringLiteral("../KernwellSans.ttf")));
    }

    void catalogNames_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("subfamily");
        QTest::addColumn<QString>("style");
        QTest::newRow("plain") << "KernwellSans.ttf" << "Kernwell Sans" << QString() << "Book";
        QTest::newRow("subfamily") << "KernwellSansCondensed-Bold.ttf" << "Kernwell Sans" << "Condensed" << "Bold";
    }

    void catalogNames()
    {
        QFETCH(QString, file);
        const CatalogFont* font = m_catalog.find(idOf(file));
        QVERIFY(font);
        QTEST(font->family, "family");
        QFETCH(QString, subfamily);
        QCOMPARE(font->subfamily.isNull(), subfamily.isNull());
        QCOMPARE(font->subfamily, subfamily);
        QTEST(font->style, "style");
    }

    void stringEscapes_data()
    {
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("decoded");
        QTest::newRow("plain") << "\"s1\"" << "s1";
        QTest::newRow("quote") << "\"a\\\"b\"" << "a\"b";
        QTest::newRow("backslash") << "\"a\\\\b\"" << "a\\b";
        QTest::newRow("slash") << "\"a\\/b\"" << "a/b";
        QTest::newRow("controls") << "\"\\b\\f\\n\\r\\t\"" << "\b\f\n\r\t";
        QTest::newRow("unicode") << "\"\\u00e9\\u00C9\"" << QString::fromUtf8("éÉ");
        QTest::newRow("surrogate pair") << "\"\\ud83d\\ude00\"" << QString::fromUtf8("😀");
        QTest::newRow("raw non-ASCII") << QString::fromUtf8("\"ü😀\"") << QString::fromUtf8("ü😀");
        QTest::newRow("brace and comma") << "\"}, {id: \\\"x\\\"}\"" << "}, {id: \"x\"}";
        QTest::newRow("empty") << "\"\"" << "";
    }

    void stringEscapes()
    {
        QFETCH(QString, literal);
        QFETCH(QString, decoded);
        QCOMPARE(parsedIds(clientQuery({ literal, QStringLiteral("\"next\"") })), (QStringList { decoded, QStringLiteral("next") }));
    }

    void clientQueryAnswer()
    {
        const QString sans = idOf(QStringLiteral("KernwellSans.ttf"));
        const QString condensed = idOf(QStringLiteral("KernwellSansCondensed-Bold.ttf"));
        // Asked in reverse catalog order, with an unknown id and a duplicate.
        const QJsonObject data = run(clientQuery({ QLatin1Char('"') + condensed + QLatin1Char('"'), QStringLiteral("\"unknown\""),
            QLatin1Char('"') + sans + QLatin1Char('"'), QLatin1Char('"') + sans + QLatin1Char('"') }));
        const QJsonArray nodes = data[QLatin1String("styles")][QLatin1String("nodes")].toArray();
        QCOMPARE(nodes.size(), 2);
        const QJsonObject expectedSans {
            { QStringLiteral("id"), sans },
            { QStringLiteral("family"), QJsonObject { { QStringLiteral("name"), QStringLiteral("Kernwell Sans") } } },
            { QStringLiteral("subfamily"), QJsonObject { { QStringLiteral("name"), QJsonValue::Null } } },
            { QStringLiteral("style"), QJsonObject { { QStringLiteral("name"), QStringLiteral("Book") } } },
            { QStringLiteral("formats"), QJsonArray { QJsonObject { { QStringLiteral("link"), QStringLiteral("http://127.0.0.1:1/fonts/") + sans } } } },
        };
        QCOMPARE(nodes[0].toObject(), (QJsonObject { { QStringLiteral("fonts"), QJsonObject { { QStringLiteral("nodes"), QJsonArray { expectedSans } } } } }));
        QCOMPARE(nodes[1][QLatin1String("fonts")][QLatin1String("nodes")][0][QLatin1String("subfamily")][QLatin1String("name")].toString(),
            QStringLiteral("Condensed"));
    }

    void selectionShapesTheAnswer_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("expected"); // JSON, with ID for the plain Kernwell Sans id
        QTest::newRow("empty any") << clientQuery({}) << QByteArray(R"({"styles":{"nodes":[]}})");
        QTest::newRow("only ids") << "query Q { styles(where: {any: [{id: \"ID\"}]}) { nodes { fonts { nodes { id } } } } }"
                                  << QByteArray(R"({"styles":{"nodes":[{"fonts":{"nodes":[{"id":"ID"}]}}]}})");
        QTest::newRow("aliases") << "{s: styles(where: {id: \"ID\"}) {n: nodes {styleId: id}}}" << QByteArray(R"({"s":{"n":[{"styleId":"ID"}]}})");
        QTest::newRow("other format") << "{styles(where: {any: {id: \"ID\"}}) {nodes {fonts {nodes {formats(types: [\"WOFF2\"]) {link}}}}}}"
                                      << QByteArray(R"({"styles":{"nodes":[{"fonts":{"nodes":[{"formats":[]}]}}]}})");
        QTest::newRow("comments and commas") << "# asks for nothing\n{,styles(where: {any: []}),{nodes{id}}}" << QByteArray(R"({"styles":{"nodes":[]}})");
    }

    void selectionShapesTheAnswer()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, expected);
        const QString sans = idOf(QStringLiteral("KernwellSans.ttf"));
        query.replace(QStringLiteral("\"ID\""), QLatin1Char('"') + sans + QLatin1Char('"'));
        expected.replace("\"ID\"", '"' + sans.toUtf8() + '"');
        QCOMPARE(QJsonDocument(run(query)).toJson(QJsonDocument::Compact), QJsonDocument::fromJson(expected).toJson(QJsonDocument::Compact));
    }

    void errors_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::newRow("empty") << "" << "Syntax Error: Unexpected <EOF>." << 1 << 1;
        QTest::newRow("unterminated string") << "{styles(where: {id: \"abc" << "Syntax Error: Unterminated string." << 1 << 25;
        QTest::newRow("line end in string") << "{styles(where: {id: \"a\nb\"}) {nodes {id}}}" << "Syntax Error: Unterminated string." << 1 << 23;
        QTest::newRow("bad escape") << "{styles(where: {id: \"a\\xb\"}) {nodes {id}}}" << "Syntax Error: Invalid character escape sequence: \"\\x\"." << 1 << 25;
        QTest::newRow("short unicode escape") << "{styles(where: {id: \"\\u12\"}) {nodes {id}}}" << "Syntax Error: Invalid Unicode escape sequence." << 1 << 26;
        QTest::newRow("lone surrogate") << "{styles(where: {id: \"\\ud83d\"}) {nodes {id}}}" << "Syntax Error: Invalid Unicode escape sequence: lone surrogate." << 1 << 28;
        QTest::newRow("character beyond the BMP") << QString::fromUtf8("{styles {nodes {\xF0\x9F\x98\x80}}}")
                                                  << QString::fromUtf8("Syntax Error: Unexpected character \"\xF0\x9F\x98\x80\".") << 1 << 17;
        QTest::newRow("control character") << QStringLiteral("{styles(where: {id: \"a") + QChar(1) + QStringLiteral("\"}) {nodes {id}}}")
                                           << "Syntax Error: Invalid character within String: U+0001." << 1 << 23;
        QTest::newRow("missing bracket") << "{styles(where: {any: [{id: \"s1\"}}) {nodes {id}}}" << "Syntax Error: Unexpected \"}\"." << 1 << 33;
        QTest::newRow("unclosed selection") << "{styles {nodes {id}}" << "Syntax Error: Expected Name, found <EOF>." << 1 << 21;
        QTest::newRow("second line") << "{\n  styles(where: 5 6) {nodes {id}}}" << "Syntax Error: Expected Name, found Int \"6\"." << 2 << 19;
        QTest::newRow("mutation") << "mutation { styles }" << "Only queries are supported, not mutations." << 1 << 1;
        QTest::newRow("fragment spread") << "{styles {nodes {...F}}}" << "Fragments are not supported." << 1 << 17;
        QTest::newRow("variable") << "{styles(where: $w) {nodes {id}}}" << "Variables are not supported." << 1 << 16;
        QTest::newRow("two operations") << "{styles {nodes {id}}} {styles {nodes {id}}}" << "Only one operation per request is supported." << 1 << 23;
        QTest::newRow("duplicate argument") << "{styles(where: {id: \"a\"}, where: {id: \"b\"}) {nodes {id}}}"
                                            << "There can be only one argument named \"where\"." << 1 << 27;
        QTest::newRow("unknown root field") << "{fonts {nodes {id}}}" << "Cannot query field \"fonts\" on type \"Query\"." << 1 << 2;
        QTest::newRow("unknown font field") << "{styles {nodes {fonts {nodes {id weight}}}}}" << "Cannot query field \"weight\" on type \"Font\"." << 1 << 34;
        QTest::newRow("object without selection") << "{styles(where: {any: []}) {nodes {fonts}}}"
                                                  << "Field \"fonts\" of type \"Fonts\" must have a selection of subfields." << 1 << 35;
        QTest::newRow("leaf with selection") << "{styles {nodes {id {name}}}}"
                                             << "Field \"id\" must not have a selection since type \"String\" has no subfields." << 1 << 17;
        QTest::newRow("unknown argument") << "{styles(first: 1) {nodes {id}}}" << "Unknown argument \"first\" on field \"Query.styles\"." << 1 << 16;
        QTest::newRow("id as number") << "{styles(where: {any: [{id: 1}]}) {nodes {id}}}" << "Expected a String for \"id\"." << 1 << 28;
        QTest::newRow("unknown filter") << "{styles(where: {all: []}) {nodes {id}}}" << "Field \"all\" is not defined by type \"StyleWhere\"." << 1 << 22;
        QTest::newRow("nested too deeply") << QStringLiteral("{styles(where: %1) {nodes {id}}}").arg(QString(200, QLatin1Char('[')))
                                           << "The query is nested too deeply." << 1 << 79;
        // Two braces, then lists: 64 levels are parsed (and then judged by the schema), 65 are not.
        const auto nested = [](int lists) {
            return QStringLiteral("{styles(where: {id: %1\"x\"%2}) {nodes {id}}}").arg(QString(lists, QLatin1Char('[')), QString(lists, QLatin1Char(']')));
        };
        QTest::newRow("nested 64 levels") << nested(62) << "Expected a String for \"id\"." << 1 << 21;
        QTest::newRow("nested 65 levels") << nested(63) << "The query is nested too deeply." << 1 << 83;
    }

    void errors()
    {
        QFETCH(QString, query);
        try {
            run(query);
            QFAIL("no error");
        } catch (const GraphQlError& error) {
            QTEST(error.message(), "message");
            QTEST(error.line(), "line");
            QTEST(error.column(), "column");
        }
    }
};

KERNWELL_TEST_MAIN(TestCatalogQuery)
#include "tst_CatalogQuery.moc"
