#include "fonts/DownloadPrefetcher.h"

#include <QPromise>

#include <QCoro/QCoroFuture>

namespace kernwell {

namespace {
// Runs detached: it owns what it uses, so it may outlive the prefetcher.
QCoro::Task<> fetchInto(std::shared_ptr<HTTPDataDownloader> downloader, QUrl url,
    std::shared_ptr<QPromise<QByteArray>> promise)
{
    promise->start();
    try {
        promise->addResult(co_await downloader->downloadData(std::move(url)));
    } catch (...) {
        promise->setException(std::current_exception());
    }
    promise->finish();
}
} // namespace

DownloadPrefetcher::DownloadPrefetcher(std::shared_ptr<HTTPDataDownloader> downloader)
    : m_downloader(std::move(downloader))
{
}

void DownloadPrefetcher::prefetch(const QUrl& url)
{
    if (m_pending.contains(url)) {
        return;
    }
    auto promise = std::make_shared<QPromise<QByteArray>>();
    m_pending.insert(url, promise->future());
    fetchInto(m_downloader, url, promise);
}

void DownloadPrefetcher::discard() { m_pending.clear(); }

QCoro::Task<QByteArray> DownloadPrefetcher::downloadData(QUrl url)
{
    const auto pending = m_pending.constFind(url);
    if (pending == m_pending.cend()) {
        co_return co_await m_downloader->downloadData(std::move(url));
    }
    QFuture<QByteArray> answer = *pending;
    m_pending.erase(pending);
    co_return co_await answer;
}

} // namespace kernwell
