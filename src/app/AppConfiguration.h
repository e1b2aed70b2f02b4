#pragma once

#include "app/BundleInfo.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace kernwell {

// What the bundle's Info.plist configures, read once at start.
struct AppConfiguration {
    QUrl authorizationURL;
    QUrl browseFontsURL;
    QUrl signupURL;
    QUrl libraryURL;
    QUrl supportURL;
    QString formattedVersionString;
    QString shortVersion; // "CFBundleShortVersionString"
    QString build; // "CFBundleVersion"
    QString sentryDSN;
    QString sentryEnvironment;
    QUrl apiRoot; // "GlyphdeckURL"
    QString bundleIdentifier;

    // The updater's keys; no feed means no update checks.
    std::optional<QUrl> feedURL;
    std::chrono::seconds scheduledCheckInterval { 86400 };
    bool automaticChecks = false;

    // Reads every key in order; throws the first problem as an Error that
    // names the key.
    static AppConfiguration read(const BundleInfo& info);
};

} // namespace kernwell
