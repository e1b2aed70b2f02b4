#pragma once

#include <QString>

namespace kernwell::localservice {

// The update feed: one item for Linux, in the update framework's RSS format
// with the sparkle: namespace. Tests change the offered version through the
// control API.
class AppcastFeed {
public:
    QString version = QStringLiteral("1"); // build number, compared by the updater
    QString shortVersion = QStringLiteral("0.1.0"); // shown to people
    QString downloadUrl; // empty: <base URL>/downloads/kernwell-<shortVersion>.tar.gz
    QString notes = QStringLiteral("Bug fixes and improvements.");

    QByteArray xml(const QString& baseUrl) const;
};

} // namespace kernwell::localservice
