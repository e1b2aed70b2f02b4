#pragma once

#include <QByteArray>
#include <QUrl>

#include <QCoro/QCoroTask>

namespace kernwell {

class HTTPDataDownloader {
public:
    virtual ~HTTPDataDownloader() = default;
    // The whole body for a 200–299 answer; throws the ServiceError (as
    // kernwell::Error) that names any other answer, and transport errors
    // unchanged.
    virtual QCoro::Task<QByteArray> downloadData(QUrl url) = 0;
};

} // namespace kernwell
