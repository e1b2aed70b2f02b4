#pragma once

#include "api/UrlSession.h"

#include <QList>

#include <variant>

namespace kernwell::test {

// A session whose downloads answer the scripted result or error; it records
// the URLs asked for. Nothing else of the session is used by the fonts.
class FakeUrlSession : public UrlSession {
public:
    void answer(UrlDataResult result) { m_answer = std::move(result); }
    void fail(Error error) { m_answer = std::move(error); }

    QCoro::Task<UrlDataResult> data(UrlRequest) override
    {
        throw Error(QStringLiteral("FakeUrlSession"), 0, QStringLiteral("Only downloads are scripted."));
    }
    QCoro::Task<UrlDataResult> download(QUrl url) override
    {
        m_downloads.append(url);
        if (const auto* error = std::get_if<Error>(&m_answer)) {
            throw *error;
        }
        co_return std::get<UrlDataResult>(m_answer);
    }
    std::shared_ptr<WebSocketTask> webSocketTask(UrlRequest) override { return nullptr; }

    const QList<QUrl>& downloads() const { return m_downloads; }

private:
    std::variant<UrlDataResult, Error> m_answer;
    QList<QUrl> m_downloads;
};

} // namespace kernwell::test
