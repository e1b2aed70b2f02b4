#include "ui/toolkit/QtToolkit.h"

#include "ui/toolkit/ScreenFit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QIcon>
#include <QTimer>

namespace kernwell {

QtToolkit::QtToolkit(BadgePublisher badgePublisher, QObject* parent)
    : Toolkit(parent)
    , m_badgePublisher(std::move(badgePublisher))
{
    // Trigger is a left click; some tray hosts report every click as Context.
    connect(&m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) {
            emit trayActivated();
        }
    });
    qApp->installEventFilter(this);
}

QtToolkit::~QtToolkit()
{
    qApp->removeEventFilter(this);
    delete m_mainWindow.data();
}

bool QtToolkit::isTrayAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void QtToolkit::setTrayIcon(const QString& imageName)
{
    m_trayIconName = imageName;
    m_tray.setIcon(QIcon(QStringLiteral(":/assets/%1.svg").arg(imageName)));
    m_tray.show();
}

void QtToolkit::setTrayToolTip(const QString& text) { m_tray.setToolTip(text); }

QRect QtToolkit::trayGeometry() const { return m_tray.geometry(); }

void QtToolkit::setMainWindowContent(MainContentFactory factory) { m_mainContentFactory = std::move(factory); }

void QtToolkit::openMainWindow()
{
    if (m_mainWindow) {
        m_mainWindow->show();
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
        return;
    }
    auto* window = new QWidget;
    window->setObjectName(QString::fromLatin1(mainWindowIdentifier));
    window->setWindowTitle(tr("Kernwell"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (m_mainContentFactory) {
        QPointer<QWidget> guard(window);
        auto content = m_mainContentFactory([guard] {
            if (guard) {
                guard->close();
            }
        });
        if (content) {
            // The size of its content, or as much of it as the screen holds
            // (scrolling the rest); never larger.
            const QSize designed = content->size();
            addScrolling(window, content.release());
            window->setMaximumSize(designed);
            window->resize(fittedToScreen(window, designed));
        }
    }
    m_mainWindow = window;
    window->show();
    // Shown, it may have a frame to leave room for.
    window->resize(fittedToScreen(window, window->size()));
    window->raise();
    window->activateWindow();
}

bool QtToolkit::isMainWindowOpen() const { return m_mainWindow && m_mainWindow->isVisible(); }

void QtToolkit::openUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

void QtToolkit::setActivationPolicy(ActivationPolicy policy)
{
    // A shown window is always in the task bar on Linux, so there is nothing to
    // switch; the policy is kept for the shell's own bookkeeping.
    m_policy = policy;
}

bool QtToolkit::canBecomeMain(const QWidget* window)
{
    const Qt::WindowType type = window->windowType();
    return type == Qt::Window || type == Qt::Dialog;
}

QList<ToolkitWindow> QtToolkit::windows() const
{
    QList<ToolkitWindow> result;
    const auto topLevels = QApplication::topLevelWidgets();
    for (const QWidget* window : topLevels) {
        result.append(ToolkitWindow { window->objectName(), window->isVisible(), canBecomeMain(window) });
    }
    return result;
}

void QtToolkit::closeWindow(const QString& identifier)
{
    const auto topLevels = QApplication::topLevelWidgets();
    for (QWidget* window : topLevels) {
        if (window->objectName() == identifier) {
            window->close();
            return;
        }
    }
}

void QtToolkit::terminate() { QCoreApplication::quit(); }

void QtToolkit::setBadgeLabel(const QString& label)
{
    m_badgeLabel = label;
    if (m_badgePublisher) {
        m_badgePublisher(label);
    }
}

void QtToolkit::post(const QObject* context, Action action)
{
    QTimer::singleShot(0, context ? context : this, std::move(action));
}

void QtToolkit::postDelayed(std::chrono::milliseconds delay, const QObject* context, Action action)
{
    QTimer::singleShot(delay, context ? context : this, std::move(action));
}

bool QtToolkit::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (type != QEvent::WindowActivate && type != QEvent::Close && type != QEvent::Show) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !widget->isWindow()) {
        return false;
    }
    if (type == QEvent::WindowActivate && canBecomeMain(widget)) {
        emit windowBecameMain(widget->objectName());
    } else if (type == QEvent::Close) {
        emit windowWillClose(widget->objectName());
    } else if (type == QEvent::Show && widget == m_mainWindow) {
        emit mainWindowAppeared();
    }
    return false;
}

} // namespace kernwell
