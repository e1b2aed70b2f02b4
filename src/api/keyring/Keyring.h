#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace kernwell {

// The four item operations that token storage needs from a secret store.
// Items carry the attributes `service` and `account` and a secret of bytes.
// Every operation returns a KeyringStatus number and is safe from any thread.
class Keyring {
public:
    struct Item {
        std::optional<QString> account; // absent when the item has no account attribute
        std::optional<QByteArray> data; // absent when the secret could not be read
    };
    struct Found {
        int status;
        std::optional<Item> item;
    };

    virtual ~Keyring() = default;
    // One item whose service matches, whatever its account.
    virtual Found findOne(const QString& service) = 0;
    // duplicateItem when an item of (service, account) exists already.
    virtual int add(const QString& service, const QString& account, const QByteArray& data) = 0;
    // Replaces the data of the item of (service, account).
    virtual int update(const QString& service, const QString& account, const QByteArray& data) = 0;
    virtual int remove(const QString& service, const QString& account) = 0;
};

} // namespace kernwell
