#pragma once

#include <QString>
#include <QUrl>

namespace kernwell {

// One update offered by the appcast feed.
struct AppcastItem {
    QString title;
    QString version; // the build number ("sparkle:version")
    QString displayVersion; // "sparkle:shortVersionString"; the build number when absent
    QUrl downloadURL; // the enclosure, else the item's link
    QString os; // "sparkle:os"; "macos" when the feed doesn't say, as the format defines

    friend bool operator==(const AppcastItem&, const AppcastItem&) = default;
};

} // namespace kernwell
