#include "app/VersionComparator.h"

#include <QList>

#include <algorithm>

namespace kernwell {

namespace {

    // None: no part is open (start, or after white space).
    enum class PartType { None, Number, Period, Text };

    PartType typeOf(QChar c)
    {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            return PartType::Number;
        }
        if (c == QLatin1Char('.')) {
            return PartType::Period;
        }
        return PartType::Text;
    }

    QList<QString> split(const QString& version)
    {
        QList<QString> parts;
        PartType previous = PartType::None;
        for (const QChar c : version) {
            if (c.isSpace()) {
                previous = PartType::None;
                continue;
            }
            const PartType type = typeOf(c);
            if (previous != type || type == PartType::Period) {
                parts.append(QString(c));
            } else {
                parts.last().append(c);
            }
            previous = type;
        }
        return parts;
    }

    // Digit runs of any length, by value.
    std::strong_ordering compareNumbers(QString a, QString b)
    {
        while (a.size() > 1 && a.startsWith(QLatin1Char('0'))) {
            a.remove(0, 1);
        }
        while (b.size() > 1 && b.startsWith(QLatin1Char('0'))) {
            b.remove(0, 1);
        }
        if (a.size() != b.size()) {
            return a.size() <=> b.size();
        }
        return a.compare(b) <=> 0;
    }

} // namespace

std::strong_ordering VersionComparator::compare(const QString& a, const QString& b)
{
    const QList<QString> partsA = split(a);
    const QList<QString> partsB = split(b);
    const qsizetype common = std::min(partsA.size(), partsB.size());
    for (qsizetype i = 0; i < common; ++i) {
        const PartType typeA = typeOf(partsA[i].front());
        const PartType typeB = typeOf(partsB[i].front());
        if (typeA == typeB) {
            if (typeA == PartType::Number) {
                if (const auto order = compareNumbers(partsA[i], partsB[i]); order != 0) {
                    return order;
                }
            } else if (typeA == PartType::Text) {
                if (const auto order = partsA[i].compare(partsB[i]) <=> 0; order != 0) {
                    return order;
                }
            }
        } else if (typeA != PartType::Text && typeB == PartType::Text) {
            return std::strong_ordering::greater;
        } else if (typeA == PartType::Text && typeB != PartType::Text) {
            return std::strong_ordering::less;
        } else {
            // A number against a period: the number is the more specific version.
            return typeA == PartType::Number ? std::strong_ordering::greater : std::strong_ordering::less;
        }
    }
    if (partsA.size() == partsB.size()) {
        return std::strong_ordering::equal;
    }
    const bool aLonger = partsA.size() > partsB.size();
    const QString& next = aLonger ? partsA[common] : partsB[common];
    const bool longerWins = typeOf(next.front()) != PartType::Text;
    return (aLonger == longerWins) ? std::strong_ordering::greater : std::strong_ordering::less;
}

} // namespace kernwell
