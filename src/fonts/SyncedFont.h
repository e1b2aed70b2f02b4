#pragma once

#include <QString>

namespace kernwell {

// One font file of the synced library as the computer has it: named by the
// font itself, not by the service.
struct SyncedFont {
    QString fontId; // the file's name in the font folder
    QString path;
    QString family;
    QString style;
    qint64 size = 0; // bytes on disk
    // The file's identity, which every hard link of it shares.
    quint64 device = 0;
    quint64 inode = 0;

    friend bool operator==(const SyncedFont&, const SyncedFont&) = default;
};

} // namespace kernwell
