#pragma once

#include "ui/toolkit/Toolkit.h"

#include <QPointer>
#include <QSystemTrayIcon>

namespace kernwell {

// The toolkit on Qt Widgets: QSystemTrayIcon, top-level QWidgets, QDesktopServices
// and the Qt event loop. The task-bar badge is handed to `badgePublisher`, which
// announces it to the desktop.
class QtToolkit : public Toolkit {
    Q_OBJECT
public:
    using BadgePublisher = std::function<void(const QString& label)>;

    explicit QtToolkit(BadgePublisher badgePublisher, QObject* parent = nullptr);
    ~QtToolkit() override;

    bool isTrayAvailable() const override;
    void setTrayIcon(const QString& imageName) override;
    QString trayIconName() const override { return m_trayIconName; }
    QRect trayGeometry() const override;
    void setTrayToolTip(const QString& text) override;
    QString trayToolTip() const override { return m_tray.toolTip(); }

    void setMainWindowContent(MainContentFactory factory) override;
    void openMainWindow() override;
    bool isMainWindowOpen() const override;

    void openUrl(const QUrl& url) override;

    void setActivationPolicy(ActivationPolicy policy) override;
    ActivationPolicy activationPolicy() const override { return m_policy; }
    QList<ToolkitWindow> windows() const override;
    void closeWindow(const QString& identifier) override;
    void terminate() override;
    void setBadgeLabel(const QString& label) override;
    QString badgeLabel() const override { return m_badgeLabel; }

    void post(const QObject* context, Action action) override;
    void postDelayed(std::chrono::milliseconds delay, const QObject* context, Action action) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static bool canBecomeMain(const QWidget* window);

    BadgePublisher m_badgePublisher;
    QSystemTrayIcon m_tray;
    QString m_trayIconName;
    MainContentFactory m_mainContentFactory;
    QPointer<QWidget> m_mainWindow;
    ActivationPolicy m_policy = ActivationPolicy::Regular;
    QString m_badgeLabel;
};

} // namespace kernwell
