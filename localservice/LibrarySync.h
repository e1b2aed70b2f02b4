#pragma once

#include "Accounts.h"
#include "SyncFrame.h"

#include <QJsonObject>

#include <optional>
#include <string>

namespace kernwell::localservice {

class SocketRegistry;

// Changes a user's synced styles and pushes the change, as one sync message,
// to every socket the user has open. No message goes out when nothing
// changed. A socket that opens gets the user's whole set, and what was
// removed since its client last acknowledged a message, so that changes made
// while the client was away reach it.
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

    // The first message for a new socket of the user's `client`, compact;
    // its text is empty when there is nothing to send.
    SyncFrame catchUp(const QString& email, const QString& client) const;
    // The client read the messages up to change `number`.
    void acknowledge(const QString& email, const QString& client, quint64 number);

    static QJsonObject message(const Accounts::StyleChange& change);

private:
    Accounts& m_accounts;
    const SocketRegistry& m_sockets;
};

} // namespace kernwell::localservice
