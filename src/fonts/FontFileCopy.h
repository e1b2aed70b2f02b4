#pragma once

#include <QByteArray>

namespace kernwell {

// Copies a font file to `destination`, replacing what is there at once:
// written beside it under a hidden name (which fontconfig skips), then
// renamed, so that no application ever maps a half-written file. A reflink
// (shared blocks, no data copied) where the file system offers one, else
// the bytes. The copy gets the file's modification time, by which it is
// told apart from a stale one. Returns 0, or the error number.
int copyFontFile(const QByteArray& source, const QByteArray& destination);

} // namespace kernwell
