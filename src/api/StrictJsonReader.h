#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace kernwell {

// Reads a JSON document against a fixed model: every step demands a value of
// one kind, and the first value that is missing, null or of another kind
// throws a kernwell::Error whose description names its path, e.g.
// `data.styles.nodes[1].fonts: missing "nodes"`.
class StrictJsonReader {
public:
    enum Failure {
        invalidJson = 1,
        missingKey = 2,
        wrongKind = 3,
        unexpectedNull = 4,
    };

    // Throws when `json` is not a JSON document.
    static StrictJsonReader parse(const QByteArray& json, QString errorDomain);

    // The value of `key`; the value read here must be an object holding it.
    StrictJsonReader field(QLatin1String key) const;
    // The elements of the array read here.
    QList<StrictJsonReader> elements() const;
    QString string() const;
    // A string, or nullopt for null.
    std::optional<QString> nullableString() const;

private:
    StrictJsonReader(QJsonValue value, QString path, QString errorDomain);

    [[noreturn]] void fail(Failure failure, const QString& problem) const;
    void expect(QJsonValue::Type type) const;

    QJsonValue m_value;
    QString m_path;
    QString m_errorDomain;
};

} // namespace kernwell
