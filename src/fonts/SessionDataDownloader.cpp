#include "fonts/SessionDataDownloader.h"

#include "api/ServiceError.h"

namespace kernwell {

SessionDataDownloader::SessionDataDownloader(std::shared_ptr<UrlSession> session)
    : m_session(std::move(session))
{
}

QCoro::Task<QByteArray> SessionDataDownloader::downloadData(QUrl url)
{
    const UrlDataResult result = co_await m_session->download(std::move(url));
    if (!result.http) {
        throw toError(ServiceError::network);
    }
    if (result.http->statusCode < 200 || result.http->statusCode >= 300) {
        throw downloadStatusError(result.http->statusCode);
    }
    co_return result.body;
}

} // namespace kernwell
