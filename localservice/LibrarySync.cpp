#include "LibrarySync.h"

#include "SocketRegistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

namespace kernwell::localservice {

LibrarySync::LibrarySync(Accounts& accounts, const SocketRegistry& sockets)
    : m_accounts(accounts)
    , m_sockets(sockets)
{
}

QJsonObject LibrarySync::message(const Accounts::StyleChange& change)
{
    return QJsonObject {
        { QStringLiteral("id"), QUuid::createUuid().toString(QUuid::WithoutBraces) },
        { QStringLiteral("desktop:fonts"),
            QJsonObject {
                { QStringLiteral("append"), QJsonArray::fromStringList(change.append) },
                { QStringLiteral("remove"), QJsonArray::fromStringList(change.remove) },
            } },
    };
}

SyncFrame LibrarySync::catchUp(const QString& email, const QString& client) const
{
    const std::optional<Accounts::StyleChange> whole = m_accounts.catchUp(email, client);
    if (!whole || (whole->append.isEmpty() && whole->remove.isEmpty())) {
        return {};
    }
    return { QJsonDocument(message(*whole)).toJson(QJsonDocument::Compact).toStdString(), whole->number };
}

void LibrarySync::acknowledge(const QString& email, const QString& client, quint64 number)
{
    m_accounts.acknowledge(email, client, number);
}

std::optional<LibrarySync::Result> LibrarySync::change(const QString& email, const QStringList& append, const QStringList& remove)
{
    std::optional<Accounts::StyleChange> change = m_accounts.changeStyles(email, append, remove);
    if (!change) {
        return std::nullopt;
    }
    Result result;
    result.change = *change;
    if (!change->append.isEmpty() || !change->remove.isEmpty()) {
        result.message = message(*change);
        result.sockets = m_sockets.sendChange(email, { QJsonDocument(result.message).toJson(QJsonDocument::Compact).toStdString(), change->number });
    }
    return result;
}

} // namespace kernwell::localservice
