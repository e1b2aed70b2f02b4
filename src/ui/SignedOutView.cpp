#include "ui/SignedOutView.h"

#include "ui/Controls.h"
#include "ui/ImageButton.h"
#include "ui/ImageView.h"
#include "ui/TextButton.h"
#include "ui/UiResources.h"
#include "ui/toolkit/Toolkit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace kernwell {

SignedOutView::SignedOutView(std::function<void()> checkForUpdates, const QUrl& authorizeURL, const QUrl& signupURL,
    Toolkit& toolkit, QWidget* parent)
    : QWidget(parent)
    , m_signIn(nullptr)
{
    setObjectName(QStringLiteral("SignedOutView"));
    setFixedSize(400, 326);
    const QFont font = typeface(Typeface::Regular, 14);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(32, 32, 32, 32);
    column->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->addWidget(new ImageView(QStringLiteral("MenuBarNav"), { 120, 28 }, tr("Kernwell"), this));
    header->addStretch(1);
    header->addWidget(makeButton(tr("Quit"), font, Tone::Secondary, [&toolkit] { toolkit.terminate(); }, this));
    column->addLayout(header);
    column->addWidget(makeDivider(this));
    column->addStretch(1);

    m_signIn = ImageButton::signIn(16, this);
    connect(m_signIn, &ImageButton::clicked, this, [&toolkit, authorizeURL] { toolkit.openUrl(authorizeURL); });
    column->addWidget(m_signIn, 0, Qt::AlignHCenter);

    auto* signUpRow = new QHBoxLayout;
    signUpRow->setSpacing(4);
    signUpRow->addStretch(1);
    signUpRow->addWidget(makeText(tr("No account?"), font, this));
    QFont bold = typeface(Typeface::Bold, 14);
    signUpRow->addWidget(makeLink(tr("Sign Up."), signupURL, toolkit, bold, this));
    signUpRow->addStretch(1);
    column->addLayout(signUpRow);

    column->addStretch(1);
    column->addWidget(makeButton(tr("Check for updates."), font, Tone::Secondary, std::move(checkForUpdates), this),
        0, Qt::AlignHCenter);
}

QWidget* SignedOutView::firstControl() const
{
    return m_signIn;
}

} // namespace kernwell
