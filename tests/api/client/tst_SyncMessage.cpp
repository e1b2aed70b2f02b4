#include "api/SyncMessage.h"

#include "TestMain.h"

Q_DECLARE_METATYPE(kernwell::SyncMessage)
Q_DECLARE_METATYPE(std::optional<kernwell::SyncMessage>)

using kernwell::SyncMessage;
using Styles = kernwell::SyncMessage::Styles;
using Decoded = std::optional<kernwell::SyncMessage>;

namespace kernwell {
// Failure output shows the message field by field.
char* toString(const std::optional<SyncMessage>& message)
{
    return QTest::toString(message ? message->description() : QStringLiteral("(no message)"));
}
}

namespace {

SyncMessage message(std::optional<QString> id, std::optional<Styles> styles)
{
    return SyncMessage { std::move(id), std::move(styles) };
}

const QStringList ab { QStringLiteral("a"), QStringLiteral("b") };

// JSON written with ' for " to keep the rows readable.
QByteArray json(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

} // namespace

class TestSyncMessage : public QObject {
    Q_OBJECT
public:
    explicit TestSyncMessage(const kernwell::test::Sandbox&) { }

private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<Decoded>("decoded");

        const Decoded fails;
        const Decoded empty = message(std::nullopt, std::nullopt);

        QTest::newRow("complete") << json("{'id':'m1','desktop:fonts':{'append':['a','b'],'remove':['c']}}")
                                  << Decoded(message(QStringLiteral("m1"), Styles { ab, QStringList { QStringLiteral("c") } }));
        QTest::newRow("empty object") << QByteArray("{}") << empty;
        QTest::newRow("blank around the object") << QByteArray(" \n\t{}\r\n") << empty;
        QTest::newRow("desktop:fonts empty") << json("{'desktop:fonts':{}}")
                                             << Decoded(message(std::nullopt, Styles {}));
        QTest::newRow("id a number beside the styles") << json("{'id':12,'desktop:fonts':{'append':['a','b']}}")
                                                      << Decoded(message(std::nullopt, Styles { ab, std::nullopt }));
        QTest::newRow("id null") << json("{'id':null}") << empty;
        QTest::newRow("append with a null, remove fine")
            << json("{'desktop:fonts':{'append':['a',null],'remove':['a','b']}}")
            << Decoded(message(std::nullopt, Styles { std::nullopt, ab }));
        QTest::newRow("remove with a number, append fine")
            << json("{'desktop:fonts':{'append':['a','b'],'remove':[1]}}")
            << Decoded(message(std::nullopt, Styles { ab, std::nullopt }));
        QTest::newRow("nested array element") << json("{'desktop:fonts':{'append':[['a']]}}")
                                              << Decoded(message(std::nullopt, Styles {}));
        QTest::newRow("lists that are not arrays")
            << json("{'desktop:fonts':{'append':'a','remove':{'0':'a'}}}") << Decoded(message(std::nullopt, Styles {}));
        QTest::newRow("lists null") << json("{'desktop:fonts':{'append':null,'remove':null}}")
                                    << Decoded(message(std::nullopt, Styles {}));
        QTest::newRow("empty lists") << json("{'desktop:fonts':{'append':[],'remove':[]}}")
                                     << Decoded(message(std::nullopt, Styles { QStringList {}, QStringList {} }));
        QTest::newRow("duplicates and empty strings kept")
            << json("{'desktop:fonts':{'append':['a','','a']}}")
            << Decoded(message(std::nullopt, Styles { QStringList { QStringLiteral("a"), QString(), QStringLiteral("a") }, std::nullopt }));
        QTest::newRow("desktop:fonts an array") << json("{'id':'m','desktop:fonts':[['a']]}")
                                                << Decoded(message(QStringLiteral("m"), std::nullopt));
        QTest::newRow("desktop:fonts null") << json("{'desktop:fonts':null}") << empty;
        QTest::newRow("lists under the field name styles")
            << json("{'styles':{'append':['a']},'append':['b']}") << empty;
        QTest::newRow("key differing in case") << json("{'Desktop:Fonts':{'append':['a']},'ID':'x'}") << empty;
        QTest::newRow("unknown keys at both levels ignored")
            << json("{'v':2,'type':'x','desktop:fonts':{'replace':['z'],'append':['a','b']}}")
            << Decoded(message(std::nullopt, Styles { ab, std::nullopt }));
        QTest::newRow("escapes and non-ASCII")
            << QStringLiteral("{\"id\":\"\\u00e9\\n\",\"desktop:fonts\":{\"append\":[\"字体\",\"\\\"q\\\"\"]}}").toUtf8()
            << Decoded(message(QStringLiteral("é\n"), Styles { QStringList { QStringLiteral("字体"), QStringLiteral("\"q\"") }, std::nullopt }));

        QTest::newRow("top-level array") << json("[{'id':'m'}]") << fails;
        QTest::newRow("top-level string") << json("'{}'") << fails;
        QTest::newRow("top-level number") << QByteArray("1") << fails;
        QTest::newRow("top-level null") << QByteArray("null") << fails;
        QTest::newRow("empty text") << QByteArray() << fails;
        QTest::newRow("not JSON") << QByteArray("hello") << fails;
        QTest::newRow("truncated") << json("{'id':'m','desktop:fonts':{'append':['a'") << fails;
        QTest::newRow("invalid UTF-8 in a string") << QByteArray("{\"id\":\"\xff\xfe\"}") << fails;
    }
    void decode()
    {
        QFETCH(QByteArray, json);
        QFETCH(Decoded, decoded);
        QCOMPARE(SyncMessage::decode(json), decoded);
    }

    void description_data()
    {
        QTest::addColumn<SyncMessage>("message");
        QTest::addColumn<QString>("description");

        QTest::newRow("nothing") << message(std::nullopt, std::nullopt)
                                 << QStringLiteral("SyncMessage(id: nil, styles: nil)");
        QTest::newRow("everything") << message(QStringLiteral("m1"), Styles { ab, QStringList {} })
                                    << QStringLiteral("SyncMessage(id: \"m1\", styles: Styles(append: [\"a\", \"b\"], remove: []))");
        QTest::newRow("one list absent") << message(std::nullopt, Styles { std::nullopt, QStringList { QString() } })
                                         << QStringLiteral("SyncMessage(id: nil, styles: Styles(append: nil, remove: [\"\"]))");
        // Quotes and line breaks in a value must not make the report ambiguous.
        QTest::newRow("awkward text") << message(QStringLiteral("a\"b\nc"), Styles { QStringList { QStringLiteral("x\", \"y") }, std::nullopt })
                                      << QStringLiteral("SyncMessage(id: \"a\\\"b\\nc\", styles: Styles(append: [\"x\\\", \\\"y\"], remove: nil))");
    }
    void description()
    {
        QFETCH(SyncMessage, message);
        QFETCH(QString, description);
        QCOMPARE(message.description(), description);
    }
};

KERNWELL_TEST_MAIN(TestSyncMessage)
#include "tst_SyncMessage.moc"
