#include "ui/ContentView.h"

#include "ui/ColorScheme.h"
#include "ui/Controls.h"
#include "ui/ImageButton.h"
#include "ui/ImageView.h"
#include "ui/SessionModel.h"
#include "ui/TextButton.h"
#include "ui/UiResources.h"
#include "ui/toolkit/Toolkit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace kernwell {

ContentView::ContentView(std::unique_ptr<SessionModel> ownSession, Action dismiss, const ServicePages& pages,
    Action checkForUpdates, const QString& versionString, Toolkit& toolkit, QWidget* parent)
    : QWidget(parent)
    , m_ownSession(std::move(ownSession))
    , m_session(m_ownSession.get())
    , m_toolkit(toolkit)
    , m_dismiss(std::move(dismiss))
    , m_checkForUpdates(std::move(checkForUpdates))
{
    build(pages, versionString);
}

ContentView::ContentView(Action dismiss, const ServicePages& pages, Action checkForUpdates, SessionModel& session,
    const QString& versionString, Toolkit& toolkit, QWidget* parent)
    : QWidget(parent)
    , m_session(&session)
    , m_toolkit(toolkit)
    , m_dismiss(std::move(dismiss))
    , m_checkForUpdates(std::move(checkForUpdates))
{
    build(pages, versionString);
}

ContentView::~ContentView() = default;

QWidget* ContentView::currentPage() const
{
    return m_pages->currentWidget();
}

void ContentView::build(const ServicePages& pages, const QString& versionString)
{
    setObjectName(QStringLiteral("ContentView"));
    applyColorScheme(this, ColorScheme::Light);
    paintBackground(this);
    setFont(typeface(Typeface::Regular, 14));
    // 1000 × 600 of content inside a 32-point margin.
    setFixedSize(1064, 664);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(32, 32, 32, 32);
    column->setSpacing(0);
    column->addWidget(new ImageView(QStringLiteral("NavIcon"), { 1000, 56 }, tr("Kernwell"), this));
    m_pages = new QStackedLayout;
    m_signInPage = buildSignInPage(pages, versionString);
    m_welcomePage = buildWelcomePage(pages);
    m_pages->addWidget(m_signInPage);
    m_pages->addWidget(m_welcomePage);
    column->addLayout(m_pages, 1);

    connect(m_session, &SessionModel::changed, this, &ContentView::refresh);
    refresh();
}

QWidget* ContentView::buildSignInPage(const ServicePages& pages, const QString& versionString)
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("SignInPage"));
    const QFont font = typeface(Typeface::Regular, 14);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addStretch(1);

    column->addWidget(makeText(tr("Sign in to Kernwell"), typeface(Typeface::Regular, 32), page), 0, Qt::AlignHCenter);
    m_signIn = ImageButton::signIn(16, page);
    connect(m_signIn, &ImageButton::clicked, this, [this, url = pages.authorizeURL] { m_toolkit.openUrl(url); });
    column->addWidget(m_signIn, 0, Qt::AlignHCenter);

    m_errorRow = new QWidget(page);
    m_errorRow->setObjectName(QStringLiteral("SignInErrorRow"));
    auto* errorRow = new QHBoxLayout(m_errorRow);
    errorRow->setContentsMargins(0, 0, 0, 0);
    errorRow->setSpacing(4);
    m_errorText = makeText(QString(), font, m_errorRow);
    errorRow->addWidget(m_errorText);
    m_contactSupport = makeLink(tr("Contact support."), pages.supportURL, m_toolkit, font, m_errorRow);
    errorRow->addWidget(m_contactSupport);
    column->addWidget(m_errorRow, 0, Qt::AlignHCenter);

    auto* signUp = new QWidget(page);
    auto* signUpRow = new QHBoxLayout(signUp);
    signUpRow->setContentsMargins(0, 0, 0, 0);
    signUpRow->setSpacing(4);
    signUpRow->addWidget(makeText(tr("No Account?"), font, signUp));
    signUpRow->addWidget(makeLink(tr("Sign Up."), pages.signupURL, m_toolkit, typeface(Typeface::Bold, 14), signUp));
    column->addWidget(signUp, 0, Qt::AlignHCenter);

    column->addStretch(1);
    column->addWidget(makeButton(tr("Check for updates."), font, Tone::Secondary, m_checkForUpdates, page), 0,
        Qt::AlignHCenter);
    // Configuration text, shown as it is; at the bottom right however long.
    m_version = makeText(versionString, typeface(Typeface::Regular, 10), page, Tone::Secondary);
    m_version->setObjectName(QStringLiteral("VersionText"));
    m_version->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_version->setWordWrap(true);
    m_version->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(m_version);
    return page;
}

QWidget* ContentView::buildWelcomePage(const ServicePages& pages)
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("WelcomePage"));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addSpacing(40);
    column->addWidget(makeText(tr("Welcome to Kernwell"), typeface(Typeface::Regular, 32), page), 0, Qt::AlignHCenter);
    column->addSpacing(25);
    m_browse = ImageButton::browseFonts(0, page);
    connect(m_browse, &ImageButton::clicked, this, [this, url = pages.browseFontsURL] { m_toolkit.openUrl(url); });
    column->addWidget(m_browse, 0, Qt::AlignHCenter);
    column->addSpacing(25);
    column->addWidget(new ImageView(QStringLiteral("CTAPreview"), { 400, 160 }, tr("Kernwell in the system tray"), page),
        0, Qt::AlignHCenter);
    column->addSpacing(25);
    auto* pitch = makeText(
        tr("Find, sync, and test fonts with ease — access Kernwell in the system tray whenever you need it."),
        typeface(Typeface::Regular, 14), page);
    pitch->setWordWrap(true);
    pitch->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    pitch->setFixedWidth(346);
    // Centred in the column the label gets no height for its width; give it all its lines.
    pitch->setFixedHeight(pitch->heightForWidth(346));
    column->addWidget(pitch, 0, Qt::AlignHCenter);
    column->addSpacing(25);
    column->addWidget(makeButton(tr("You are now logged in. Close the window to continue."),
                          typeface(Typeface::Regular, 14), Tone::Primary,
                          [this] {
                              if (m_dismiss) {
                                  m_dismiss();
                              }
                          },
                          page),
        0, Qt::AlignHCenter);
    column->addSpacing(60);
    column->addStretch(1);
    return page;
}

void ContentView::refresh()
{
    QWidget* page = m_session->signedIn() ? m_welcomePage : m_signInPage;
    if (m_pages->currentWidget() != page) {
        m_pages->setCurrentWidget(page);
        focusFirstControl();
    }
    // The session's own error text is not shown here, only the fixed line;
    // but a locked keyring needs no support, only the user's unlock.
    const bool locked = m_session->keyringLocked();
    m_errorText->setText(locked ? m_session->visibleError().value_or(QString()) : tr("Unable to sign in, please try again."));
    m_contactSupport->setVisible(!locked);
    m_errorRow->setVisible(m_session->visibleError().has_value());
}

QWidget* ContentView::firstControl() const
{
    return currentPage() == m_welcomePage ? m_browse : m_signIn;
}

void ContentView::focusFirstControl()
{
    firstControl()->setFocus(Qt::OtherFocusReason);
}

void ContentView::showEvent(QShowEvent*)
{
    focusFirstControl();
}

} // namespace kernwell
