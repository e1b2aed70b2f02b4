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

// The content of the tray popup: the signed-out panel or the signed-in
// window, on a white rounded rectangle, following the session live.
class MenuBarView : public QWidget {
    Q_OBJECT
public:
    MenuBarView(SessionModel& session, Toolkit& toolkit, const ServicePages& pages,
        std::function<void()> checkForUpdates, const QString& versionString, QWidget* parent = nullptr);

    // Exactly one of the two is present.
    SignedOutView* signedOutView() const { return m_signedOut; }
    SignedInView* signedInView() const { return m_signedIn; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    SessionModel& m_session;
    Toolkit& m_toolkit;
    ServicePages m_pages;
    std::function<void()> m_checkForUpdates;
    QString m_versionString;
    QPointer<SignedOutView> m_signedOut;
    QPointer<SignedInView> m_signedIn;
};

} // namespace kernwell
