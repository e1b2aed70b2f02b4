#pragma once

#include "fonts/HTTPDataDownloader.h"

#include <QFuture>
#include <QHash>

#include <memory>

namespace kernwell {

// Starts downloads before they are asked for, so that the next fonts' bytes
// arrive while the current one is written and registered. Each prefetched
// answer (bytes or error) is handed out once, to the first downloadData for
// its URL; anything else downloads as usual.
class DownloadPrefetcher final : public HTTPDataDownloader {
public:
    explicit DownloadPrefetcher(std::shared_ptr<HTTPDataDownloader> downloader);

    // Starts the download of `url` unless one is already waiting.
    void prefetch(const QUrl& url);
    // Forgets every answer nobody asked for; downloads still running finish
    // unseen.
    void discard();

    QCoro::Task<QByteArray> downloadData(QUrl url) override;

private:
    std::shared_ptr<HTTPDataDownloader> m_downloader;
    QHash<QUrl, QFuture<QByteArray>> m_pending;
};

} // namespace kernwell
