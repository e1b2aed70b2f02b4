#pragma once

#include <QUrl>

#include <functional>

namespace kernwell {

// The pages of the service's web site that the windows open in the browser,
// used whole, as configured; and the window of the fonts on this computer.
struct ServicePages {
    QUrl authorizeURL;
    QUrl browseFontsURL;
    QUrl supportURL;
    QUrl libraryURL;
    QUrl signupURL;
    // Opens that window; none: the account panel does not offer it.
    std::function<void()> showFontsOnComputer = {};
};

} // namespace kernwell
