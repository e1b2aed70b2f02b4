#include "app/QtUpdateAlert.h"

#include <QLabel>
#include <QPushButton>
#include <QTextDocument>

namespace kernwell {

namespace {

// The dialog's icon says in a picture what its title says; screen readers
// are told in words.
void setIcon(QMessageBox* box, QMessageBox::Icon icon)
{
    box->setIcon(icon);
    const QString name = icon == QMessageBox::Warning ? QObject::tr("Warning") : QObject::tr("Information");
    for (QLabel* label : box->findChildren<QLabel*>()) {
        if (!label->pixmap().isNull()) {
            label->setAccessibleName(name);
        }
    }
}

} // namespace

QtUpdateAlert::QtUpdateAlert(Toolkit& toolkit, const ColorSchemeSource& colorScheme)
    : m_toolkit(toolkit)
    , m_colorScheme(colorScheme)
{
}

QtUpdateAlert::~QtUpdateAlert() { delete m_box.data(); }

QMessageBox* QtUpdateAlert::present(const QString& text, const QString& informativeText)
{
    if (m_box) {
        m_box->close();
    }
    auto* box = new QMessageBox;
    // A button ends the dialog without closing it, so WA_DeleteOnClose would not free it.
    QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
    box->setObjectName(QStringLiteral("UpdateWindow"));
    // Light keeps the desktop's own look.
    if (m_colorScheme.colorScheme() == ColorScheme::Dark) {
        applyColorScheme(box, ColorScheme::Dark);
    }
    box->setWindowTitle(QObject::tr("Kernwell"));
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    // The informative text carries versions and errors from the feed; its
    // label has no format setting of its own and would read them as rich
    // text (with links that open), so it is handed over as escaped text.
    box->setInformativeText(Qt::convertFromPlainText(informativeText, Qt::WhiteSpaceNormal));
    m_box = box;
    return box;
}

void QtUpdateAlert::showUpdateFound(const AppcastItem& update, std::function<void()> closed)
{
    QMessageBox* box = present(QObject::tr("A new version of Kernwell is available."),
        QObject::tr("Version %1 (%2) is now available.").arg(update.displayVersion, update.version));
    setIcon(box, QMessageBox::Information);
    QPushButton* download = box->addButton(QObject::tr("Download"), QMessageBox::AcceptRole);
    box->addButton(QObject::tr("Later"), QMessageBox::RejectRole);
    box->setDefaultButton(download);
    const QUrl url = update.downloadURL;
    QObject::connect(download, &QPushButton::clicked, box, [this, url] { m_toolkit.openUrl(url); });
    QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)] {
        if (closed) {
            closed();
        }
    });
    box->open();
}

void QtUpdateAlert::showUpToDate(const QString& currentVersion)
{
    QMessageBox* box = present(QObject::tr("You're up to date!"),
        QObject::tr("Kernwell %1 is currently the newest version available.").arg(currentVersion));
    setIcon(box, QMessageBox::Information);
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
}

void QtUpdateAlert::showError(const QString& message)
{
    QMessageBox* box = present(QObject::tr("Update Error!"), message);
    setIcon(box, QMessageBox::Warning);
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
}

} // namespace kernwell
