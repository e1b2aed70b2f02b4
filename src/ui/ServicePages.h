#pragma once

#include <QUrl>

namespace kernwell {

// The pages of the service's web site that the windows open in the browser,
// used whole, as configured.
struct ServicePages {
    QUrl authorizeURL;
    QUrl browseFontsURL;
    QUrl supportURL;
    QUrl libraryURL;
    QUrl signupURL;
};

} // namespace kernwell
