#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace kernwell {

// The catalog's answer, decoded strictly: every key required, null only as a
// "name". Decoding failures throw kernwell::Error (domain QueryResult::errorDomain).
struct QueryResult {
    static constexpr auto errorDomain = "QueryResultDecoding";

    struct Font {
        struct Family { std::optional<QString> name; friend bool operator==(const Family&, const Family&) = default; };
        struct Subfamily { std::optional<QString> name; friend bool operator==(const Subfamily&, const Subfamily&) = default; };
        struct Style { std::optional<QString> name; friend bool operator==(const Style&, const Style&) = default; };
        struct Format { QString link; friend bool operator==(const Format&, const Format&) = default; };

        QString id;
        Family family;
        Subfamily subfamily;
        Style style;
        QList<Format> formats;

        friend bool operator==(const Font&, const Font&) = default;
    };

    struct Data {
        struct Styles {
            struct Nodes { // a style node
                struct FontNodes { QList<Font> nodes; };
                FontNodes fonts;
            };
            QList<Nodes> nodes;
        };
        Styles styles;
    };

    Data data;

    // Throws kernwell::Error when the body does not decode.
    static QueryResult decode(const QByteArray& body);
    // The fonts of every style node, in answer order.
    QList<Font> flattened() const;

    // The request body asking for the fonts of `styleIds`.
    static QByteArray requestBody(const QStringList& styleIds);
};

} // namespace kernwell
