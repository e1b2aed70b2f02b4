#pragma once

#include "ui/ServicePages.h"
#include "ui/SignedInView.h"
#include "ui/SignedOutView.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace kernwell {

class SessionModel;
class Toolkit;

// The menu-bar content: the signed-out panel or the signed-in window,
// following the session live. The same content serves the tray popup (on a
// white rounded rectangle, at its own size) and the Kernwell window (white,
// as large as the user makes it).
class MenuBarView : public QWidget {
    Q_OBJECT
public:
    enum class Sizing { Fixed, Resizable };

    MenuBarView(SessionModel& session, Toolkit& toolkit, const ServicePages& pages,
        std::function<void()> checkForUpdates, const QString& versionString, Sizing sizing = Sizing::Fixed,
        QWidget* parent = nullptr);

    // Exactly one of the two is present.
    SignedOutView* signedOutView() const { return m_signedOut; }
    SignedInView* signedInView() const { return m_signedIn; }

    // Puts the keyboard on the content's first sensible control.
    void focusFirstControl();

protected:
    void paintEvent(QPaintEvent* event) override;
    // Each time the popup or the window opens.
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    SessionModel& m_session;
    Toolkit& m_toolkit;
    ServicePages m_pages;
    std::function<void()> m_checkForUpdates;
    QString m_versionString;
    Sizing m_sizing;
    QPointer<SignedOutView> m_signedOut;
    QPointer<SignedInView> m_signedIn;
};

} // namespace kernwell
