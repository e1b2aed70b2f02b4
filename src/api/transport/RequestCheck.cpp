#include "api/transport/RequestCheck.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace kernwell {

namespace {

    bool isToken(const QByteArray& text)
    {
        return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
        });
    }

    // Framing and routing are the transport's: a caller's value would contradict them.
    constexpr std::array<const char*, 4> transportFields { "Content-Length", "Transfer-Encoding", "Connection", "Host" };

    Error refusal(const QString& text)
    {
        return Error(QLatin1String(UrlSession::errorDomain), UrlSession::badURL, text);
    }

} // namespace

std::optional<Error> unsendable(const QByteArray& method, const HeaderFields& headerFields)
{
    if (!isToken(method)) {
        return refusal(QStringLiteral("The request method \"%1\" cannot be sent.").arg(QString::fromLatin1(method.toPercentEncoding())));
    }
    for (const auto& [name, value] : headerFields) {
        if (!isToken(name)) {
            return refusal(QStringLiteral("The header field name \"%1\" cannot be sent.").arg(QString::fromLatin1(name.toPercentEncoding())));
        }
        if (value.contains('\r') || value.contains('\n') || value.contains('\0')) {
            return refusal(QStringLiteral("The value of the header field \"%1\" holds a line break.").arg(QString::fromLatin1(name)));
        }
        for (const char* own : transportFields) {
            if (name.compare(own, Qt::CaseInsensitive) == 0) {
                return refusal(QStringLiteral("The header field \"%1\" is set by the transport, not by a request.").arg(QString::fromLatin1(name)));
            }
        }
    }
    return std::nullopt;
}

} // namespace kernwell
