#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>

namespace kernwell {

class Toolkit;

// The menu window while nobody is signed in: the way to the browser sign-in
// and to the sign-up page.
class SignedOutView : public QWidget {
    Q_OBJECT
public:
    SignedOutView(std::function<void()> checkForUpdates, const QUrl& authorizeURL, const QUrl& signupURL,
        Toolkit& toolkit, QWidget* parent = nullptr);
};

} // namespace kernwell
