#pragma once

#include "api/WebSocketTask.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

namespace kernwell {

using HeaderFields = QList<QPair<QByteArray, QByteArray>>;

struct UrlRequest {
    QUrl url;
    QByteArray method = "GET";
    HeaderFields headerFields; // sent in this order, names as given
    QByteArray body;
    // Every request the program builds uses 60 s; a transfer that stalls
    // without data for this long fails with a time-out.
    std::chrono::milliseconds timeoutInterval { std::chrono::seconds(60) };

    void setValue(const QByteArray& value, const QByteArray& headerField)
    {
        headerFields.append({ headerField, value });
    }
};

// An HTTP answer as received: status and header fields, never acted on.
struct HttpUrlResponse {
    int statusCode = 0;
    HeaderFields headerFields; // names as received

    // Looks a field up by exactly this name; absent when there is none.
    std::optional<QByteArray> value(const QByteArray& headerField) const
    {
        for (const auto& [name, value] : headerFields) {
            if (name == headerField) {
                return value;
            }
        }
        return std::nullopt;
    }
};

// The body and the response; `http` is absent when the answer did not come
// over HTTP (a file: or data: URL, say).
struct UrlDataResult {
    QByteArray body;
    std::optional<HttpUrlResponse> http;
};

// The process-wide network session. Transport failures (no connection,
// time-out, cancellation, TLS) are thrown as kernwell::Error in the
// "NSURLErrorDomain"-like domain UrlSession::errorDomain.
class UrlSession {
public:
    static constexpr auto errorDomain = "UrlSession";

    // The stable codes of transport failures in errorDomain (the values the
    // platform URL error domain uses for the same kinds).
    enum ErrorCode : int {
        unknown = -1,
        cancelled = -999,
        badURL = -1000,
        timedOut = -1001,
        unsupportedURL = -1002,
        cannotFindHost = -1003,
        cannotConnectToHost = -1004,
        networkConnectionLost = -1005, // also: the answer ended before its announced length
        httpTooManyRedirects = -1007,
        redirectRefused = -1010, // the redirect would carry credentials elsewhere, or change the request
        badServerResponse = -1011,
        fileDoesNotExist = -1100,
        secureConnectionFailed = -1200,
    };

    virtual ~UrlSession() = default;

    // One request with the given settings; the whole body and the response.
    virtual QCoro::Task<UrlDataResult> data(UrlRequest request) = 0;
    // A plain GET of `url` with no header added and the session's defaults.
    virtual QCoro::Task<UrlDataResult> download(QUrl url) = 0;
    // A websocket task for `request` that has not touched the network yet,
    // or nullptr when none can be made.
    virtual std::shared_ptr<WebSocketTask> webSocketTask(UrlRequest request) = 0;
};

} // namespace kernwell
