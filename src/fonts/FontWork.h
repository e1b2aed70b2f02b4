#pragma once

#include <QString>
#include <QUrl>

namespace kernwell {

// Work items of one sync update. `fontId` is also the font's file name.
struct FontForAppend {
    QString fontId;
    QString qorDisplayName;
    QUrl remoteURL;
    friend bool operator==(const FontForAppend&, const FontForAppend&) = default;
};

struct FontForRemove {
    QString fontId;
    QString qorDisplayName;
    friend bool operator==(const FontForRemove&, const FontForRemove&) = default;
};

struct FontError {
    QString fontId;
    QString qorDisplayName;
    QString error;
    friend bool operator==(const FontError&, const FontError&) = default;
};

} // namespace kernwell
