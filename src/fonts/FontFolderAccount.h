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

    // The recorded account; nothing when there is no record or it cannot be
    // read (damaged, written by something else).
    static std::optional<QString> read(const QString& fontFolder);
    // Replaces the record as a whole: a reader finds the old one or the new
    // one, never a part.
    static std::optional<Error> write(const QString& fontFolder, const QString& account);

private:
    static QString recordPath(const QString& fontFolder) { return fontFolder + QStringLiteral(".account"); }
};

} // namespace kernwell
