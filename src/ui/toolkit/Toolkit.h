#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>

namespace kernwell {

// Whether the application shows itself in the task bar (regular) or lives in
// the tray only (accessory).
enum class ActivationPolicy { Regular, Accessory };

// One top-level window as the application sees it, in the application's order.
struct ToolkitWindow {
    QString identifier; // the widget's objectName; "MainWindow" for the main window
    bool visible = false;
    bool canBecomeMain = false; // false for popups, tool windows and tooltips

    friend bool operator==(const ToolkitWindow&, const ToolkitWindow&) = default;
};

// The desktop toolkit operations the shell and its windows stand on. One Qt
// implementation (QtToolkit); tests use a fake. Every call is made on, and
// every signal is emitted on, the main thread.
class Toolkit : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void()>;
    // Builds the main window's content each time the window opens; `dismiss`
    // closes the window. The toolkit takes ownership of the returned widget.
    using MainContentFactory = std::function<std::unique_ptr<QWidget>(Action dismiss)>;

    using QObject::QObject;
    ~Toolkit() override = default;

    static constexpr const char* mainWindowIdentifier = "MainWindow";

    // --- Tray icon (the menu-bar extra) -----------------------------------
    // False when the desktop has no system tray; the app still runs.
    virtual bool isTrayAvailable() const = 0;
    // Shows the image `:/assets/<imageName>.svg` as the tray icon.
    virtual void setTrayIcon(const QString& imageName) = 0;
    virtual QString trayIconName() const = 0;
    // The icon's screen rectangle; empty when the tray doesn't tell (then place
    // popups at the cursor).
    virtual QRect trayGeometry() const = 0;
    // The text shown while the pointer rests on the icon.
    virtual void setTrayToolTip(const QString& text) = 0;
    virtual QString trayToolTip() const = 0;

    // --- The single main window -------------------------------------------
    virtual void setMainWindowContent(MainContentFactory factory) = 0;
    // Opens the main window (creating its content) if it is closed; raises it otherwise.
    virtual void openMainWindow() = 0;
    virtual bool isMainWindowOpen() const = 0;

    // --- Links --------------------------------------------------------------
    // Opens `url` in the user's default browser; a page that can't be opened gives no message.
    virtual void openUrl(const QUrl& url) = 0;

    // --- Application object -------------------------------------------------
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    virtual ActivationPolicy activationPolicy() const = 0;
    virtual QList<ToolkitWindow> windows() const = 0;
    // Closes the first window whose identifier equals `identifier`, if any.
    virtual void closeWindow(const QString& identifier) = 0;
    // Ends the application through the normal termination path.
    virtual void terminate() = 0;
    // The task-bar badge; empty text removes it.
    virtual void setBadgeLabel(const QString& label) = 0;
    virtual QString badgeLabel() const = 0;

    // --- Main queue -----------------------------------------------------------
    // Runs `action` later on the main thread, unless `context` is gone by then.
    virtual void post(const QObject* context, Action action) = 0;
    virtual void postDelayed(std::chrono::milliseconds delay, const QObject* context, Action action) = 0;

signals:
    void trayActivated();
    // A window became the active (main) window.
    void windowBecameMain(const QString& identifier);
    // A window is about to close.
    void windowWillClose(const QString& identifier);
    // The main window's content was shown (each time the window opens).
    void mainWindowAppeared();
};

} // namespace kernwell
