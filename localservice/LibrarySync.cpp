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

std::string LibrarySync::catchUp(const QString& email)
{
    const std::optional<Accounts::UserState> state = m_accounts.state(email);
    if (!state) {
        return {};
    }
    const Accounts::StyleChange whole { state->styles, m_accounts.takeRemovedSinceConnection(email) };
    if (whole.append.isEmpty() && whole.remove.isEmpty()) {
        return {};
    }
    return QJsonDocument(message(whole)).toJson(QJsonDocument::Compact).toStdString();
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
        result.sockets = m_sockets.sendText(email, QJsonDocument(result.message).toJson(QJsonDocument::Compact).toStdString());
    }
    return result;
}

} // namespace kernwell::localservice
