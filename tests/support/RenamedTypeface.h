#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace kernwell::test {

// Writes one of the repository's own typefaces (resources/typefaces, SIL Open
// Font Licence), e.g. "LiberationSans-Bold.ttf", to `destination` with its
// names changed: in its name table each `from` becomes its `to`, in turn,
// which must be just as long. The renames always end with "Liberation" →
// "Kernwelled", so that the copy's family ("Kernwelled Sans") and PostScript
// name ("KernwelledSans-Bold") are on no computer already.
void writeRenamedTypeface(
    const QString& typeface, const QString& destination, const QList<QPair<QString, QString>>& renames = {});

} // namespace kernwell::test
