#pragma once

#include "app/ColorSchemeSource.h"
#include "app/UpdateAlert.h"
#include "ui/toolkit/Toolkit.h"

#include <QPointer>
#include <QMessageBox>

namespace kernwell {

// The updater's windows as message boxes; one at a time, the newest replacing
// an older one. They are dark where the desktop prefers dark, also when the
// application's palette is a light one.
class QtUpdateAlert : public UpdateAlert {
public:
    QtUpdateAlert(Toolkit& toolkit, const ColorSchemeSource& colorScheme);
    ~QtUpdateAlert() override;

    void showUpdateFound(const AppcastItem& update, std::function<void()> closed) override;
    void showUpToDate(const QString& currentVersion) override;
    void showError(const QString& message) override;

private:
    QMessageBox* present(const QString& text, const QString& informativeText);

    Toolkit& m_toolkit;
    const ColorSchemeSource& m_colorScheme;
    QPointer<QMessageBox> m_box;
};

} // namespace kernwell
