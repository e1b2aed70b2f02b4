#include "ui/MenuBarExtra.h"

#include "ui/MenuBarPopup.h"
#include "ui/MenuBarView.h"
#include "ui/MenuBarWindow.h"
#include "ui/SessionModel.h"
#include "ui/toolkit/Toolkit.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <utility>

namespace kernwell {

MenuBarExtra::MenuBarExtra(std::unique_ptr<SessionModel> ownSession, Toolkit& toolkit, const ServicePages& pages,
    std::function<void()> checkForUpdates, const QString& versionString, QObject* parent)
    : MenuBarScene(parent)
    , m_ownSession(std::move(ownSession))
    , m_session(m_ownSession.get())
    , m_toolkit(toolkit)
{
    build(pages, std::move(checkForUpdates), versionString);
}

MenuBarExtra::MenuBarExtra(SessionModel& session, Toolkit& toolkit, const ServicePages& pages,
    std::function<void()> checkForUpdates, const QString& versionString, QObject* parent)
    : MenuBarScene(parent)
    , m_session(&session)
    , m_toolkit(toolkit)
{
    build(pages, std::move(checkForUpdates), versionString);
}

MenuBarExtra::~MenuBarExtra() = default;

void MenuBarExtra::build(const ServicePages& pages, std::function<void()> checkForUpdates, const QString& versionString)
{
    m_presentation = presentationFor(m_toolkit.isTrayAvailable(), QGuiApplication::platformName());
    m_buildContent = [this, pages, checkForUpdates = std::move(checkForUpdates), versionString] {
        buildContent(pages, checkForUpdates, versionString);
    };
    QMetaObject::invokeMethod(this, &MenuBarExtra::ensureContent, Qt::QueuedConnection);
    connect(m_session, &SessionModel::changed, this, &MenuBarExtra::updateIcon);
    connect(m_session, &SessionModel::changed, this, &MenuBarExtra::updateToolTip);
    connect(m_session, &SessionModel::addingProgressChanged, this, &MenuBarExtra::updateToolTip);
    connect(&m_toolkit, &Toolkit::trayActivated, this, &MenuBarExtra::toggle);
    updateIcon();
    updateToolTip();
}

void MenuBarExtra::buildContent(
    const ServicePages& pages, std::function<void()> checkForUpdates, const QString& versionString)
{
    if (m_presentation == Presentation::Window) {
        m_window = std::make_unique<MenuBarWindow>(new MenuBarView(
            *m_session, m_toolkit, pages, std::move(checkForUpdates), versionString, MenuBarView::Sizing::Resizable));
        return;
    }
    m_popup = std::make_unique<MenuBarPopup>(
        new MenuBarView(*m_session, m_toolkit, pages, std::move(checkForUpdates), versionString));
    connect(m_popup.get(), &MenuBarPopup::resized, this, [this] {
        if (m_popup->isVisible()) {
            place();
        }
    });
}

void MenuBarExtra::ensureContent()
{
    if (m_buildContent) {
        std::exchange(m_buildContent, {})();
        applyColorScheme(view(), m_scheme);
    }
}

void MenuBarExtra::setColorScheme(ColorScheme scheme)
{
    m_scheme = scheme;
    // Content not built yet takes the scheme when it is.
    if (!m_buildContent) {
        applyColorScheme(view(), scheme);
    }
}

MenuBarPopup* MenuBarExtra::popup()
{
    ensureContent();
    return m_popup.get();
}

MenuBarWindow* MenuBarExtra::window()
{
    ensureContent();
    return m_window.get();
}

MenuBarView* MenuBarExtra::view()
{
    ensureContent();
    return m_popup ? m_popup->view() : m_window->view();
}

MenuBarExtra::Presentation MenuBarExtra::presentationFor(bool trayAvailable, const QString& platformName)
{
    if (!trayAvailable || platformName.startsWith(QLatin1String("wayland"))) {
        return Presentation::Window;
    }
    return Presentation::Popup;
}

QString MenuBarExtra::iconName(ConnectionState state)
{
    switch (state) {
    case ConnectionState::SignedOut:
        return QStringLiteral("AppTrayYellow");
    case ConnectionState::SignedIn:
        return QStringLiteral("AppTrayBase");
    case ConnectionState::ProcessingUpdate:
        return QStringLiteral("AppTrayWorking");
    case ConnectionState::UpdateSuccess:
        return QStringLiteral("AppTrayGreen");
    case ConnectionState::TransientError:
        return QStringLiteral("AppTrayRed");
    }
    return QStringLiteral("AppTrayYellow");
}

QString MenuBarExtra::noTrayHint()
{
    return tr("Kernwell keeps running without an icon, because this desktop shows no tray icons. Launch Kernwell "
              "again to open its window, or turn on a tray extension (on GNOME: AppIndicator) to get the icon.");
}

QPoint MenuBarExtra::popupPosition(
    const QRect& trayGeometry, const QPoint& cursor, const QSize& popupSize, const QRect& screen)
{
    const QRect anchor = trayGeometry.isEmpty() ? QRect(cursor, QSize(1, 1)) : trayGeometry;
    int x = anchor.center().x() - popupSize.width() / 2;
    int y = anchor.y() + anchor.height();
    if (y + popupSize.height() > screen.y() + screen.height()) {
        y = anchor.y() - popupSize.height();
    }
    // Inside the screen; a popup larger than the screen keeps its top-left corner visible.
    x = std::max(screen.x(), std::min(x, screen.x() + screen.width() - popupSize.width()));
    y = std::max(screen.y(), std::min(y, screen.y() + screen.height() - popupSize.height()));
    return { x, y };
}

void MenuBarExtra::updateIcon()
{
    const QString name = iconName(m_session->connectionState());
    if (m_toolkit.trayIconName() != name) {
        m_toolkit.setTrayIcon(name);
    }
}

void MenuBarExtra::updateToolTip()
{
    const QString progress = m_session->addingProgressText();
    const QString text = progress.isEmpty() ? tr("Kernwell") : progress;
    if (m_toolkit.trayToolTip() != text) {
        m_toolkit.setTrayToolTip(text);
    }
}

void MenuBarExtra::openWindow()
{
    if (!opensAsWindow()) {
        return;
    }
    ensureContent();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void MenuBarExtra::toggle()
{
    ensureContent();
    if (m_window) {
        // Not by focus: a Wayland client can't rely on having it.
        if (m_window->isVisible()) {
            m_window->hide();
        } else {
            openWindow();
        }
        return;
    }
    if (m_popup->isVisible()) {
        m_popup->hide();
    } else if (!m_popup->closedMomentsAgo()) {
        open();
    }
}

void MenuBarExtra::open()
{
    m_popup->adjustSize();
    place();
    m_popup->show();
    m_popup->raise();
    m_popup->activateWindow();
}

void MenuBarExtra::place()
{
    const QRect tray = m_toolkit.trayGeometry();
    const QPoint cursor = QCursor::pos();
    const QPoint anchor = tray.isEmpty() ? cursor : tray.center();
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(), m_popup->size());
    m_popup->move(popupPosition(tray, cursor, m_popup->size(), available));
}

} // namespace kernwell
