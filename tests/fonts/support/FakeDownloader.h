#pragma once

#include "diagnostics/Error.h"
#include "fonts/HTTPDataDownloader.h"

#include <QList>
#include <QUrl>

#include <optional>
#include <variant>

namespace kernwell::test {

// Answers every download with the scripted bytes or error and records the
// URLs asked for.
class FakeDownloader : public HTTPDataDownloader {
public:
    void answer(QByteArray bytes) { m_answer = std::move(bytes); }
    void fail(Error error) { m_answer = std::move(error); }

    QCoro::Task<QByteArray> downloadData(QUrl url) override
    {
        m_requests.append(url);
        if (const auto* error = std::get_if<Error>(&m_answer)) {
            throw *error;
        }
        co_return std::get<QByteArray>(m_answer);
    }

    const QList<QUrl>& requests() const { return m_requests; }

private:
    std::variant<QByteArray, Error> m_answer;
    QList<QUrl> m_requests;
};

} // namespace kernwell::test
