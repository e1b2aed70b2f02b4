#include "app/VersionFormat.h"

namespace kernwell {

VersionFormat::Result VersionFormat::format(const QString& format, const QString& first, const QString& second)
{
    const QString arguments[] = { first, second };
    QString out;
    bool used[2] = { false, false };
    int sequential = 0;
    bool positional = false;
    const auto fail = [](const QString& problem) { return Result { QString(), problem }; };

    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%')) {
            out.append(c);
            continue;
        }
        if (i + 1 >= format.size()) {
            return fail(QStringLiteral("ends with a lone \"%\""));
        }
        const QChar next = format.at(i + 1);
        if (next == QLatin1Char('%')) {
            out.append(QLatin1Char('%'));
            ++i;
            continue;
        }
        int index = -1;
        if (next == QLatin1Char('@')) {
            if (positional) {
                return fail(QStringLiteral("mixes \"%@\" with numbered arguments"));
            }
            if (sequential >= 2) {
                return fail(QStringLiteral("asks for more than two arguments"));
            }
            index = sequential++;
            i += 1;
        } else if (next.isDigit() && i + 3 < format.size() && format.at(i + 2) == QLatin1Char('$')
            && format.at(i + 3) == QLatin1Char('@')) {
            if (sequential > 0) {
                return fail(QStringLiteral("mixes \"%@\" with numbered arguments"));
            }
            const int number = next.digitValue();
            if (number < 1 || number > 2) {
                return fail(QStringLiteral("names argument %1; only 1 and 2 exist").arg(number));
            }
            positional = true;
            index = number - 1;
            i += 3;
        } else {
            return fail(QStringLiteral("has an unsupported conversion at position ") + QString::number(i + 1)
                + QStringLiteral(" (only %@, %1$@, %2$@ and %% are allowed)"));
        }
        used[index] = true;
        out.append(arguments[index]);
    }
    if (!used[0] || !used[1]) {
        return fail(QStringLiteral("must use both the version and the build number"));
    }
    return Result { out, QString() };
}

} // namespace kernwell
