#pragma once

#include "ui/ProviderSession.h"
#include "ui/ServicePages.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QStackedLayout;

namespace kernwell {

class ImageButton;
class Toolkit;

// The main window's content: the sign-in page until the session is signed
// in, then the welcome page, switching live both ways.
class ContentView : public QWidget {
    Q_OBJECT
public:
    using Action = std::function<void()>;

    // Defined here, so that only a program that has the provider links it.
    ContentView(Action dismiss, const ServicePages& pages, Action checkForUpdates, MacOSProvider& provider,
        const QString& versionString, Toolkit& toolkit, QWidget* parent = nullptr)
        : ContentView(std::make_unique<ProviderSession>(provider), std::move(dismiss), pages,
              std::move(checkForUpdates), versionString, toolkit, parent)
    {
    }
    ContentView(Action dismiss, const ServicePages& pages, Action checkForUpdates, SessionModel& session,
        const QString& versionString, Toolkit& toolkit, QWidget* parent = nullptr);
    ~ContentView() override;

    QWidget* signInPage() const { return m_signInPage; }
    QWidget* welcomePage() const { return m_welcomePage; }
    QWidget* currentPage() const;
    // The sign-in failure row, shown while the session has an error.
    QWidget* errorRow() const { return m_errorRow; }
    QLabel* versionLabel() const { return m_version; }
    // Where the keyboard is put when the window opens and when the page
    // changes: the sign-in image, or the link to the catalogue.
    QWidget* firstControl() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    ContentView(std::unique_ptr<SessionModel> ownSession, Action dismiss, const ServicePages& pages,
        Action checkForUpdates, const QString& versionString, Toolkit& toolkit, QWidget* parent);
    void build(const ServicePages& pages, const QString& versionString);
    QWidget* buildSignInPage(const ServicePages& pages, const QString& versionString);
    QWidget* buildWelcomePage(const ServicePages& pages);
    void refresh();
    void focusFirstControl();

    std::unique_ptr<SessionModel> m_ownSession;
    SessionModel* m_session;
    Toolkit& m_toolkit;
    Action m_dismiss;
    Action m_checkForUpdates;
    QStackedLayout* m_pages = nullptr;
    QWidget* m_signInPage = nullptr;
    QWidget* m_welcomePage = nullptr;
    QWidget* m_errorRow = nullptr;
    QLabel* m_errorText = nullptr;
    QWidget* m_contactSupport = nullptr;
    ImageButton* m_signIn = nullptr;
    ImageButton* m_browse = nullptr;
    QLabel* m_version = nullptr;
};

} // namespace kernwell
