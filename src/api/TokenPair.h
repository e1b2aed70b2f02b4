#pragma once

#include <QString>

#include <optional>

namespace kernwell {

struct TokenPair {
    std::optional<QString> AccessToken; // never stored
    QString RefreshToken; // the one value kept in the keyring

    friend bool operator==(const TokenPair&, const TokenPair&) = default;
};

} // namespace kernwell
