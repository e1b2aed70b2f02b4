#pragma once

#include <QFrame>
#include <QList>
#include <QUrl>

#include <functional>
#include <optional>

namespace kernwell {

class Avatar;
class ShrinkingLabel;
class Toolkit;

// The account panel over the signed-in menu window: who is signed in, the
// version, and the account's actions. None of its controls closes it; while
// it is open the keyboard stays in it.
class UserModal : public QFrame {
    Q_OBJECT
public:
    using Action = std::function<void()>;

    UserModal(Action checkForUpdates, Action clickLogout, const std::optional<QString>& username,
        const QString& versionString, const QUrl& supportURL, const QUrl& libraryURL, Action showFontsOnComputer,
        Toolkit& toolkit, QWidget* parent = nullptr);

    Avatar* avatar() const { return m_avatar; }
    ShrinkingLabel* usernameLabel() const { return m_username; }

    // Its links and buttons, top to bottom.
    const QList<QWidget*>& controls() const { return m_controls; }

protected:
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Avatar* m_avatar;
    ShrinkingLabel* m_username;
    QList<QWidget*> m_controls;
};

} // namespace kernwell
