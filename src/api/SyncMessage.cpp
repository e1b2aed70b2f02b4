#include "api/SyncMessage.h"

#include "api/StringEscaping.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace kernwell {

namespace {

    // A list only when every element is a string; one stray element voids it.
    std::optional<QStringList> stringList(const QJsonValue& value)
    {
        if (!value.isArray()) {
            return std::nullopt;
        }
        QStringList list;
        for (const QJsonValue element : value.toArray()) {
            if (!element.isString()) {
                return std::nullopt;
            }
            list.append(element.toString());
        }
        return list;
    }

    QString quoted(const QString& text)
    {
        return QLatin1Char('"') + escapeForStringLiteral(text) + QLatin1Char('"');
    }

    QString describe(const std::optional<QString>& text)
    {
        return text ? quoted(*text) : QStringLiteral("nil");
    }

    QString describe(const std::optional<QStringList>& list)
    {
        if (!list) {
            return QStringLiteral("nil");
        }
        QStringList items;
        for (const QString& item : *list) {
            items.append(quoted(item));
        }
        return QLatin1Char('[') + items.join(QStringLiteral(", ")) + QLatin1Char(']');
    }

} // namespace

std::optional<SyncMessage> SyncMessage::decode(const QByteArray& utf8)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(utf8, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();

    SyncMessage message;
    if (const QJsonValue id = object.value(QLatin1String("id")); id.isString()) {
        message.id = id.toString();
    }
    if (const QJsonValue styles = object.value(QLatin1String("desktop:fonts")); styles.isObject()) {
        const QJsonObject content = styles.toObject();
        message.styles = Styles { stringList(content.value(QLatin1String("append"))),
            stringList(content.value(QLatin1String("remove"))) };
    }
    return message;
}

QString SyncMessage::description() const
{
    const QString stylesText = styles
        ? QStringLiteral("Styles(append: %1, remove: %2)").arg(describe(styles->append), describe(styles->remove))
        : QStringLiteral("nil");
    return QStringLiteral("SyncMessage(id: %1, styles: %2)").arg(describe(id), stylesText);
}

} // namespace kernwell
