#include "api/StringEscaping.h"

namespace kernwell {

QString escapeForStringLiteral(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            escaped += c;
            escaped += text.at(++i);
            continue;
        }
        switch (c.unicode()) {
        case u'"':
            escaped += QLatin1String("\\\"");
            break;
        case u'\\':
            escaped += QLatin1String("\\\\");
            break;
        case u'\b':
            escaped += QLatin1String("\\b");
            break;
        case u'\f':
            escaped += QLatin1String("\\f");
            break;
        case u'\n':
            escaped += QLatin1String("\\n");
            break;
        case u'\r':
            escaped += QLatin1String("\\r");
            break;
        case u'\t':
            escaped += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.isSurrogate()) {
                escaped += QLatin1String("\\u") + QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
            } else {
                escaped += c;
            }
        }
    }
    return escaped;
}

} // namespace kernwell
