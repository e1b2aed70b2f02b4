#pragma once

#include "ui/Backdrop.h"
#include "ui/ServicePages.h"
#include "ui/UserModal.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;

namespace kernwell {

class Avatar;
class ImageButton;
class NotificationList;
class SessionModel;
class TextButton;
class Toolkit;

// The menu window while signed in: the link to the catalogue, the
// notification list, the connection status, and the account panel that the
// avatar opens over it.
class SignedInView : public QWidget {
    Q_OBJECT
public:
    SignedInView(SessionModel& session, Toolkit& toolkit, const ServicePages& pages,
        std::function<void()> checkForUpdates, const QString& versionString, QWidget* parent = nullptr);

    bool isShowingPopover() const { return m_panel != nullptr; }
    void setShowingPopover(bool showing);

    Avatar* avatar() const { return m_avatar; }
    NotificationList* notificationList() const { return m_list; }
    // Where the keyboard starts when the window opens.
    QWidget* firstControl() const;
    UserModal* panel() const { return m_panel; }
    Backdrop* backdrop() const { return m_backdrop; }

    // Reads the session again; called on every change it announces.
    void refresh();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placePanel();
    void refreshNotifications();
    void refreshStatus();

    SessionModel& m_session;
    Toolkit& m_toolkit;
    ServicePages m_pages;
    std::function<void()> m_checkForUpdates;
    QString m_versionString;

    Avatar* m_avatar;
    ImageButton* m_browse;
    TextButton* m_clearNotifications;
    NotificationList* m_list;
    QLabel* m_connected;
    QWidget* m_errorLines;
    QLabel* m_errorText;
    QLabel* m_retry;
    QPointer<Backdrop> m_backdrop;
    QPointer<UserModal> m_panel;
};

} // namespace kernwell
