#pragma once

#include "ui/toolkit/Toolkit.h"

#include <QStringList>

namespace kernwell::test {

// Records what the windows ask of the desktop.
class FakeToolkit : public Toolkit {
    Q_OBJECT
public:
    bool isTrayAvailable() const override { return true; }
    void setTrayIcon(const QString& imageName) override
    {
        m_trayIcon = imageName;
        trayIcons.append(imageName);
    }
    QString trayIconName() const override { return m_trayIcon; }
    QRect trayGeometry() const override { return geometry; }

    void setMainWindowContent(MainContentFactory) override { }
    void openMainWindow() override { }
    bool isMainWindowOpen() const override { return false; }

    void openUrl(const QUrl& url) override { openedUrls.append(url); }

    void setActivationPolicy(ActivationPolicy policy) override { m_policy = policy; }
    ActivationPolicy activationPolicy() const override { return m_policy; }
    QList<ToolkitWindow> windows() const override { return {}; }
    void closeWindow(const QString&) override { }
    void terminate() override { ++terminations; }
    void setBadgeLabel(const QString& label) override { m_badge = label; }
    QString badgeLabel() const override { return m_badge; }
    void post(const QObject*, Action action) override { action(); }
    void postDelayed(std::chrono::milliseconds, const QObject*, Action action) override { action(); }

    QStringList trayIcons;
    QList<QUrl> openedUrls;
    int terminations = 0;
    QRect geometry;

private:
    QString m_trayIcon;
    ActivationPolicy m_policy = ActivationPolicy::Regular;
    QString m_badge;
};

} // namespace kernwell::test
