#pragma once

#include "fonts/MacOSFontManager.h"

#include <QString>
#include <QTest>

namespace kernwell::test {

// The result contract shared by both registration scopes, as a table:
// R = registerFont, U = unregisterFont; t/f = the result expected.
class RegistrationOutcomes {
public:
    static void addRows()
    {
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("results");
        QTest::newRow("register twice") << QStringLiteral("RR") << QStringLiteral("tf");
        QTest::newRow("unregister, never registered") << QStringLiteral("U") << QStringLiteral("f");
        QTest::newRow("unregister twice") << QStringLiteral("RUU") << QStringLiteral("ttf");
        QTest::newRow("register again after unregistering") << QStringLiteral("RURR") << QStringLiteral("tttf");
    }

    // Makes the calls on `path` and returns the results in the table's letters.
    static QString run(MacOSFontManager& manager, const QString& path, const QString& calls)
    {
        QString results;
        for (const QChar call : calls) {
            const bool changed = call == QLatin1Char('R') ? manager.registerFont(path) : manager.unregisterFont(path);
            results += changed ? QLatin1Char('t') : QLatin1Char('f');
        }
        return results;
    }
};

} // namespace kernwell::test
