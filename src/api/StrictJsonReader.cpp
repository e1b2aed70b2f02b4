#include "api/StrictJsonReader.h"

#include "diagnostics/Error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace kernwell {

namespace {

    QString kindName(QJsonValue::Type type)
    {
        switch (type) {
        case QJsonValue::Null:
            return QStringLiteral("null");
        case QJsonValue::Bool:
            return QStringLiteral("a boolean");
        case QJsonValue::Double:
            return QStringLiteral("a number");
        case QJsonValue::String:
            return QStringLiteral("a string");
        case QJsonValue::Array:
            return QStringLiteral("an array");
        case QJsonValue::Object:
            return QStringLiteral("an object");
        case QJsonValue::Undefined:
            break;
        }
        return QStringLiteral("nothing");
    }

} // namespace

StrictJsonReader::StrictJsonReader(QJsonValue value, QString path, QString errorDomain)
    : m_value(std::move(value))
    , m_path(std::move(path))
    , m_errorDomain(std::move(errorDomain))
{
}

StrictJsonReader StrictJsonReader::parse(const QByteArray& json, QString errorDomain)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        throw Error(errorDomain, invalidJson,
            QStringLiteral("not valid JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset));
    }
    // A document holds an object or an array; anything else failed to parse above.
    QJsonValue top = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    return { std::move(top), QString(), std::move(errorDomain) };
}

void StrictJsonReader::fail(Failure failure, const QString& problem) const
{
    const QString where = m_path.isEmpty() ? QStringLiteral("top level") : m_path;
    throw Error(m_errorDomain, failure, where + QStringLiteral(": ") + problem);
}

void StrictJsonReader::expect(QJsonValue::Type type) const
{
    if (m_value.type() == type) {
        return;
    }
    fail(m_value.isNull() ? unexpectedNull : wrongKind,
        QStringLiteral("expected %1, found %2").arg(kindName(type), kindName(m_value.type())));
}

StrictJsonReader StrictJsonReader::field(QLatin1String key) const
{
    expect(QJsonValue::Object);
    const QJsonObject object = m_value.toObject();
    const auto found = object.constFind(key);
    if (found == object.constEnd()) {
        fail(missingKey, QStringLiteral("missing \"%1\"").arg(key));
    }
    const QString path = m_path.isEmpty() ? QString(key) : m_path + QLatin1Char('.') + key;
    return { found.value(), path, m_errorDomain };
}

QList<StrictJsonReader> StrictJsonReader::elements() const
{
    expect(QJsonValue::Array);
    const QJsonArray array = m_value.toArray();
    QList<StrictJsonReader> result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        result.append({ array.at(i), m_path + QStringLiteral("[%1]").arg(i), m_errorDomain });
    }
    return result;
}

QString StrictJsonReader::string() const
{
    expect(QJsonValue::String);
    return m_value.toString();
}

std::optional<QString> StrictJsonReader::nullableString() const
{
    if (m_value.isNull()) {
        return std::nullopt;
    }
    return string();
}

} // namespace kernwell
