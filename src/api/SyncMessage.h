#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace kernwell {

// One message of the sync socket. Every field is optional; a field of the
// wrong kind is absent rather than failing the message.
struct SyncMessage {
    struct Styles {
        std::optional<QStringList> append;
        std::optional<QStringList> remove;
        friend bool operator==(const Styles&, const Styles&) = default;
    };

    std::optional<QString> id;
    std::optional<Styles> styles; // JSON key "desktop:fonts"

    // Fails (nullopt) only on invalid JSON or a top level that is not an object.
    static std::optional<SyncMessage> decode(const QByteArray& utf8);

    // The message printed field by field, for reports.
    QString description() const;

    friend bool operator==(const SyncMessage&, const SyncMessage&) = default;
};

} // namespace kernwell
