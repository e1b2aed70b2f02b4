#pragma once

#include "app/AppcastItem.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace kernwell {

// The update framework's RSS feed: one item per offered version.
class Appcast {
public:
    static constexpr auto errorDomain = "Appcast";
    static constexpr auto sparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

    // Every item with a version; throws Error when the feed is not well-formed XML
    // or not an RSS feed.
    static QList<AppcastItem> parse(const QByteArray& feed);

    // The newest item for `os` that is newer than `currentBuild`.
    static std::optional<AppcastItem> bestUpdate(const QList<AppcastItem>& items, const QString& currentBuild,
        const QString& os = QStringLiteral("linux"));
};

} // namespace kernwell
