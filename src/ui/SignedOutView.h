#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>

namespace kernwell {

class ImageButton;
class Toolkit;

// The menu window while nobody is signed in: the way to the browser sign-in
// and to the sign-up page.
class SignedOutView : public QWidget {
    Q_OBJECT
public:
    SignedOutView(std::function<void()> checkForUpdates, const QUrl& authorizeURL, const QUrl& signupURL,
        Toolkit& toolkit, QWidget* parent = nullptr);

    // Where the keyboard starts when the window opens: the browser sign-in.
    QWidget* firstControl() const;

private:
    ImageButton* m_signIn;
};

} // namespace kernwell
