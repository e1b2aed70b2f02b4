#include "app/AppConfiguration.h"

#include "app/VersionFormat.h"
#include "diagnostics/sentry/Dsn.h"

#include <QRegularExpression>

namespace kernwell {

namespace {

    // A reverse-DNS name that is also a valid D-Bus name, since it names the bus service.
    bool isReverseDnsIdentifier(const QString& identifier)
    {
        static const QRegularExpression pattern(
            QStringLiteral("^[A-Za-z_-][A-Za-z0-9_-]*(\\.[A-Za-z_-][A-Za-z0-9_-]*)+$"));
        return identifier.size() <= 255 && pattern.match(identifier).hasMatch();
    }

} // namespace

AppConfiguration AppConfiguration::read(const BundleInfo& info)
{
    AppConfiguration config;
    config.authorizationURL = info.url("AuthorizationURL");
    config.browseFontsURL = info.url("BrowseFontsURL");
    config.signupURL = info.url("SignUpURL");
    config.libraryURL = info.url("LibraryURL");
    config.supportURL = info.url("SupportURL");
    const QString format = info.text("VersionFormatString");
    config.shortVersion = info.text("CFBundleShortVersionString");
    config.build = info.text("CFBundleVersion");
    const auto formatted = VersionFormat::format(format, config.shortVersion, config.build);
    if (!formatted.problem.isEmpty()) {
        throw info.error(BundleInfo::badFormat, "VersionFormatString",
            QStringLiteral("\"%1\" is not a usable format: it %2.").arg(format, formatted.problem));
    }
    config.formattedVersionString = formatted.text;
    config.sentryDSN = info.text("SentryDSN");
    QString dsnProblem;
    if (!config.sentryDSN.isEmpty() && !Dsn::parse(config.sentryDSN, &dsnProblem)) {
        throw info.error(BundleInfo::badValue, "SentryDSN", QStringLiteral("is not a valid DSN: %1.").arg(dsnProblem));
    }
    config.sentryEnvironment = info.text("SentryEnvironment");
    config.apiRoot = info.url("GlyphdeckURL");

    config.bundleIdentifier = info.text("CFBundleIdentifier");
    if (!isReverseDnsIdentifier(config.bundleIdentifier)) {
        throw info.error(BundleInfo::badValue, "CFBundleIdentifier",
            QStringLiteral("is not a reverse-DNS identifier: \"%1\".").arg(config.bundleIdentifier));
    }
    if (config.build.isEmpty()) {
        throw info.error(BundleInfo::badValue, "CFBundleVersion", QStringLiteral("is empty."));
    }

    config.feedURL = info.optionalUrl("SUFeedURL");
    if (const auto interval = info.optionalInteger("SUScheduledCheckInterval")) {
        if (*interval <= 0) {
            throw info.error(BundleInfo::badValue, "SUScheduledCheckInterval", QStringLiteral("must be a positive number of seconds."));
        }
        // Any interval up to this is scheduled; beyond it the arithmetic of
        // time points would overflow, and no check would ever run anyway.
        constexpr qint64 tenYears = 10 * 365 * 24 * 3600;
        if (*interval > tenYears) {
            throw info.error(BundleInfo::badValue, "SUScheduledCheckInterval",
                QStringLiteral("must be at most %1 seconds (ten years).").arg(tenYears));
        }
        config.scheduledCheckInterval = std::chrono::seconds(*interval);
    }
    config.automaticChecks = info.optionalBoolean("SUEnableAutomaticChecks").value_or(false);
    return config;
}

} // namespace kernwell
