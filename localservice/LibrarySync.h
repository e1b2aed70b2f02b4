#pragma once

#include "Accounts.h"

#include <QJsonObject>

#include <optional>

namespace kernwell::localservice {

class SocketRegistry;

// Changes a user's synced styles and pushes the change, as one sync message,
// to every socket the user has open. No message goes out when nothing
// changed.
class LibrarySync {
public:
    LibrarySync(Accounts& accounts, const SocketRegistry& sockets);

    struct Result {
        Accounts::StyleChange change;
        QJsonObject message; // empty when nothing changed
        int sockets = 0; // reached by the message
    };
    // Nothing for an unknown user.
    std::optional<Result> change(const QString& email, const QStringList& append, const QStringList& remove);

    static QJsonObject message(const Accounts::StyleChange& change);

private:
    Accounts& m_accounts;
    const SocketRegistry& m_sockets;
};

} // namespace kernwell::localservice
