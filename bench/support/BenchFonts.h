#pragma once

#include <QString>
#include <QStringList>

namespace kernwell::bench {

// Writes `count` fonts into `folder`: copies of the repository's open-licence
// typefaces, each with a family name of its own patched into its name table
// (so that fontconfig and the catalog see `count` distinct families).
// Returns the file names.
QStringList makeDistinctFonts(const QString& folder, int count);

// What fontconfig clients see of a folder of fonts (subfolders included),
// found without scanning a font: the files, and whether every folder's
// cache is up to date, so that no client has to scan it itself.
struct FolderState {
    int files = 0;
    bool cachesFresh = false;
};
FolderState folderState(const QString& folder);

// Runs fc-cache on `folder` without the two-second sleep it takes after
// writing a cache (NoSleep.cpp, preloaded); its exit code.
int fcCacheWithoutSleep(const QString& folder);

// CPU time (user + system) of the children of this process that ended and
// were waited for, in ms.
qint64 endedChildrenCpuMs();

// Time the host has taken this machine's processors for its other guests
// (steal in /proc/stat), in ms summed over the processors: a side timed
// while it grows ran on less than the whole machine.
qint64 stolenMs();

// Files under `folder` that fc-list, run now in a fresh process, lists.
int listedByFcList(const QString& folder);

} // namespace kernwell::bench
