#pragma once

#include "app/UpdateAlert.h"

#include <QList>
#include <QStringList>

namespace kernwell::test {

// Records what the updater would show; the test closes the update window.
class FakeUpdateAlert : public UpdateAlert {
public:
    void showUpdateFound(const AppcastItem& update, std::function<void()> closed) override
    {
        updatesShown.append(update);
        closeUpdateWindow = std::move(closed);
    }
    void showUpToDate(const QString& currentVersion) override { upToDate.append(currentVersion); }
    void showError(const QString& message) override { errors.append(message); }

    QList<AppcastItem> updatesShown;
    QStringList upToDate;
    QStringList errors;
    std::function<void()> closeUpdateWindow;
};

} // namespace kernwell::test
