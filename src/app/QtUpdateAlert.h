#pragma once

#include "app/UpdateAlert.h"
#include "ui/toolkit/Toolkit.h"

#include <QPointer>
#include <QMessageBox>

namespace kernwell {

// The updater's windows as message boxes; one at a time, the newest replacing
// an older one.
class QtUpdateAlert : public UpdateAlert {
public:
    explicit QtUpdateAlert(Toolkit& toolkit);
    ~QtUpdateAlert() override;

    void showUpdateFound(const AppcastItem& update, std::function<void()> closed) override;
    void showUpToDate(const QString& currentVersion) override;
    void showError(const QString& message) override;

private:
    QMessageBox* present(const QString& text, const QString& informativeText);

    Toolkit& m_toolkit;
    QPointer<QMessageBox> m_box;
};

} // namespace kernwell
