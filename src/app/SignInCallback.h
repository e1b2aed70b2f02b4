#pragma once

#include <QString>

#include <optional>

namespace kernwell {

// The browser's sign-in callback, kernwell://desktop/authorize?token=T&email=E.
struct SignInCallback {
    QString token;
    QString email;

    friend bool operator==(const SignInCallback&, const SignInCallback&) = default;

    // The token and e-mail of an accepted callback; nothing for a URL that
    // fails any rule: it can't be split into components; the host isn't
    // exactly "desktop"; the path isn't exactly "/authorize"; fewer than two
    // query items; the first two aren't "token" then "email"; either has no
    // "="; the e-mail is empty. Components are percent-decoded ("+" stays
    // "+"); items after the second are not looked at. The scheme is not
    // checked.
    static std::optional<SignInCallback> parse(const QString& url);
};

} // namespace kernwell
