#include "app/SignInCallback.h"

#include <QByteArray>
#include <QList>
#include <QStringDecoder>

namespace kernwell {

namespace {

    bool isHexDigit(char c)
    {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }

    // The characters a URL may hold as they are (RFC 3986 unreserved,
    // sub-delims, ":", "@", "/", "?", "#", and "%" for escapes). Anything else
    // (spaces, controls, non-ASCII, brackets outside a host) makes the URL
    // unsplittable, as a strict URL parser would refuse it.
    bool isUrlCharacter(char c)
    {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            return true;
        }
        switch (c) {
        case '-': case '.': case '_': case '~':
        case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
        case ':': case '@': case '/': case '?': case '#': case '%': case '[': case ']':
            return true;
        default:
            return false;
        }
    }

    // Percent-decodes one component whose escapes are well-formed; nothing
    // when the bytes are not UTF-8. "+" is kept as "+".
    std::optional<QString> decode(QByteArrayView component)
    {
        QByteArray bytes;
        bytes.reserve(component.size());
        for (qsizetype i = 0; i < component.size(); ++i) {
            const char c = component[i];
            if (c != '%') {
                bytes.append(c);
                continue;
            }
            bytes.append(QByteArray::fromHex(component.sliced(i + 1, 2).toByteArray()));
            i += 2;
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8(bytes);
        if (utf8.hasError()) {
            return std::nullopt;
        }
        return text;
    }

    bool hasWellFormedEscapes(QByteArrayView text)
    {
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == '%') {
                if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) {
                    return false;
                }
                i += 2;
            }
        }
        return true;
    }

    // The first `limit` items of a query split at "&" (the last holds the rest).
    QList<QByteArrayView> splitItems(QByteArrayView query, qsizetype limit)
    {
        QList<QByteArrayView> items;
        qsizetype start = 0;
        while (items.size() + 1 < limit) {
            const qsizetype amp = query.indexOf('&', start);
            if (amp < 0) {
                break;
            }
            items.append(query.sliced(start, amp - start));
            start = amp + 1;
        }
        items.append(query.sliced(start));
        return items;
    }

    struct QueryItem {
        QString name;
        std::optional<QString> value;
    };

} // namespace

std::optional<SignInCallback> SignInCallback::parse(const QString& url)
{
    // Non-ASCII characters are not URL characters; the Latin-1 conversion of
    // such text is never inspected because the check below fails first.
    for (const QChar c : url) {
        if (c.unicode() > 0x7f || !isUrlCharacter(static_cast<char>(c.unicode()))) {
            return std::nullopt;
        }
    }
    const QByteArray raw = url.toLatin1();
    if (!hasWellFormedEscapes(raw)) {
        return std::nullopt;
    }
    QByteArrayView rest(raw);

    // scheme ":"
    const qsizetype colon = rest.indexOf(':');
    if (colon <= 0) {
        return std::nullopt;
    }
    for (qsizetype i = 0; i < colon; ++i) {
        const char c = rest[i];
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!(alpha || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))) {
            return std::nullopt;
        }
    }
    rest = rest.sliced(colon + 1);

    // The fragment is no part of the query.
    if (const qsizetype hash = rest.indexOf('#'); hash >= 0) {
        rest = rest.first(hash);
    }
    std::optional<QByteArrayView> query;
    if (const qsizetype question = rest.indexOf('?'); question >= 0) {
        query = rest.sliced(question + 1);
        rest = rest.first(question);
    }

    // "//" authority, then the path.
    if (!rest.startsWith("//")) {
        return std::nullopt; // no host
    }
    rest = rest.sliced(2);
    qsizetype slash = rest.indexOf('/');
    const QByteArrayView authority = slash >= 0 ? rest.first(slash) : rest;
    const QByteArrayView pathPart = slash >= 0 ? rest.sliced(slash) : QByteArrayView();
    QByteArrayView hostPart = authority;
    if (const qsizetype at = hostPart.lastIndexOf('@'); at >= 0) {
        hostPart = hostPart.sliced(at + 1);
    }
    if (const qsizetype portColon = hostPart.lastIndexOf(':'); portColon >= 0 && !hostPart.contains(']')) {
        const QByteArrayView port = hostPart.sliced(portColon + 1);
        for (const char c : port) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
        }
        hostPart = hostPart.first(portColon);
    }
    const auto host = decode(hostPart);
    const auto path = decode(pathPart);
    if (!host || !path) {
        return std::nullopt;
    }
    if (*host != QLatin1String("desktop") || *path != QLatin1String("/authorize") || !query) {
        return std::nullopt;
    }

    // Only the first two items are looked at; an empty query has none.
    const QList<QByteArrayView> rawItems = query->isEmpty() ? QList<QByteArrayView>() : splitItems(*query, 3);
    QList<QueryItem> items;
    for (qsizetype i = 0; i < rawItems.size() && i < 2; ++i) {
        const QByteArrayView item = rawItems[i];
        const qsizetype equals = item.indexOf('=');
        const auto name = decode(equals < 0 ? item : item.first(equals));
        if (!name) {
            return std::nullopt;
        }
        QueryItem parsed { *name, std::nullopt };
        if (equals >= 0) {
            parsed.value = decode(item.sliced(equals + 1));
            if (!parsed.value) {
                return std::nullopt;
            }
        }
        items.append(parsed);
    }
    if (rawItems.size() < 2) {
        return std::nullopt;
    }
    if (items[0].name != QLatin1String("token") || items[1].name != QLatin1String("email")) {
        return std::nullopt;
    }
    // Without an e-mail the fonts could not be recorded as anyone's.
    if (!items[0].value || !items[1].value || items[1].value->isEmpty()) {
        return std::nullopt;
    }
    return SignInCallback { *items[0].value, *items[1].value };
}

} // namespace kernwell
