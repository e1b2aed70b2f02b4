#pragma once

#include "diagnostics/Error.h"

#include <QString>

#include <optional>

namespace kernwell {

// Which account's fonts the font folder holds, recorded beside the folder
// (in "<folder>.account"), so that the next run knows it too.
class FontFolderAccount {
public:
    static constexpr auto errorDomain = "FontFolderAccount";
    enum Code { notRecorded = 1, unreadable = 2 };

    // The recorded account; nothing when there is no record (a folder of an
    // older version). Throws an Error when there is one that cannot be read
    // (an open failure, damaged, written by something else): who owns the
    // fonts is not known then.
    static std::optional<QString> read(const QString& fontFolder);
    // Replaces the record as a whole: a reader finds the old one or the new
    // one, never a part. An empty account is refused: read() would not
    // take it back.
    static std::optional<Error> write(const QString& fontFolder, const QString& account);
    // Whether two names are one account: e-mail addresses, typed in any capitals.
    static bool sameAccount(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

private:
    static QString recordPath(const QString& fontFolder) { return fontFolder + QStringLiteral(".account"); }
};

} // namespace kernwell
