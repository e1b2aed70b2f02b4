#pragma once

#include "ui/toolkit/Toolkit.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>

namespace kernwell::test {

// The toolkit of every test, without a screen: windows are plain records the
// test arranges, every call is recorded, and posted actions run on the real
// event loop.
class FakeToolkit : public Toolkit {
    Q_OBJECT
public:
    using Toolkit::Toolkit;

    bool isTrayAvailable() const override { return trayAvailable; }
    void setTrayIcon(const QString& imageName) override { trayIcons.append(imageName); }
    QString trayIconName() const override { return trayIcons.isEmpty() ? QString() : trayIcons.last(); }
    QRect trayGeometry() const override { return geometry; }
    void setTrayToolTip(const QString& text) override { toolTip = text; }
    QString trayToolTip() const override { return toolTip; }

    void setMainWindowContent(MainContentFactory factory) override { contentFactory = std::move(factory); }
    void openMainWindow() override
    {
        ++mainWindowOpenings;
        for (const auto& window : std::as_const(windowList)) {
            if (window.identifier == QLatin1String(mainWindowIdentifier) && window.visible) {
                return;
            }
        }
        showWindow(QString::fromLatin1(mainWindowIdentifier));
        emit mainWindowAppeared();
    }
    bool isMainWindowOpen() const override
    {
        for (const auto& window : windowList) {
            if (window.identifier == QLatin1String(mainWindowIdentifier) && window.visible) {
                return true;
            }
        }
        return false;
    }

    void openUrl(const QUrl& url) override { openedUrls.append(url); }

    void setActivationPolicy(ActivationPolicy policy) override { policies.append(policy); }
    ActivationPolicy activationPolicy() const override
    {
        return policies.isEmpty() ? ActivationPolicy::Regular : policies.last();
    }
    QList<ToolkitWindow> windows() const override { return windowList; }
    void closeWindow(const QString& identifier) override
    {
        closedWindows.append(identifier);
        for (qsizetype i = 0; i < windowList.size(); ++i) {
            if (windowList[i].identifier == identifier) {
                emit windowWillClose(identifier);
                windowList.removeAt(i);
                return;
            }
        }
    }
    void terminate() override { ++terminations; }
    void setBadgeLabel(const QString& label) override { badges.append(label); }
    QString badgeLabel() const override { return badges.isEmpty() ? QString() : badges.last(); }

    void post(const QObject* context, Action action) override;
    void postDelayed(std::chrono::milliseconds delay, const QObject* context, Action action) override;
    // Runs every delayed action that still waits, now, as if its time had come.
    void runDelayed();

    // A main-capable window appears and becomes main, as a shown window does.
    void showWindow(const QString& identifier, bool canBecomeMain = true)
    {
        windowList.append(ToolkitWindow { identifier, true, canBecomeMain });
        if (canBecomeMain) {
            emit windowBecameMain(identifier);
        }
    }

    bool trayAvailable = true;
    // What trayGeometry() tells; empty: the tray doesn't tell.
    QRect geometry;
    QList<ToolkitWindow> windowList;
    QStringList trayIcons;
    QString toolTip;
    QStringList closedWindows;
    QList<QUrl> openedUrls;
    QList<ActivationPolicy> policies;
    QStringList badges;
    QList<std::chrono::milliseconds> delays;
    MainContentFactory contentFactory;
    int mainWindowOpenings = 0;
    int terminations = 0;
    int posts = 0;

private:
    struct Delayed {
        QTimer* timer;
        Action run;
    };
    void fire(QTimer* timer);

    QList<Delayed> m_delayed;
};

} // namespace kernwell::test
