#pragma once

#include "api/UrlSession.h"
#include "fonts/HTTPDataDownloader.h"

#include <memory>

namespace kernwell {

// Downloads through the shared network session: the body of a 200–299
// answer; downloadStatusError for any other status, ServiceError::network
// for a non-HTTP answer; the session's transport errors unchanged.
class SessionDataDownloader final : public HTTPDataDownloader {
public:
    explicit SessionDataDownloader(std::shared_ptr<UrlSession> session);

    QCoro::Task<QByteArray> downloadData(QUrl url) override;

private:
    std::shared_ptr<UrlSession> m_session;
};

} // namespace kernwell
