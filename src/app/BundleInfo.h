#pragma once

#include "diagnostics/Error.h"

#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace kernwell {

// The bundle's Info.plist, read with libplist. Every accessor names the key
// and the file in the error it throws, so one line tells what to fix.
class BundleInfo {
public:
    static constexpr auto errorDomain = "Configuration";
    enum ErrorCode : int { unreadable = 1, malformed, missing, wrongType, badUrl, badFormat, badValue };

    // Throws Error when the file can't be read or is not a property list with
    // a dictionary at its root.
    static BundleInfo fromFile(const QString& path);

    QString text(const char* key) const;
    // An absolute http or https URL with a host.
    QUrl url(const char* key) const;
    std::optional<QUrl> optionalUrl(const char* key) const;
    std::optional<qint64> optionalInteger(const char* key) const;
    std::optional<bool> optionalBoolean(const char* key) const;

    // The error for `key` with `problem` ("is missing", …), for checks made
    // on a value after it was read.
    Error error(ErrorCode code, const char* key, const QString& problem) const;

private:
    struct PlistDeleter {
        void operator()(void* plist) const;
    };

    BundleInfo(QString path, std::shared_ptr<void> root);
    void* item(const char* key) const;
    QUrl parseUrl(const char* key, const QString& text) const;

    QString m_path;
    std::shared_ptr<void> m_root;
};

} // namespace kernwell
