#include "FakeDownloader.h"

#include "api/ServiceError.h"

#include <QFile>

#include <QCoro/QCoroFuture>

namespace kernwell::test {

QCoro::Task<QByteArray> FakeDownloader::downloadData(QUrl url)
{
    requests.append(url);
    if (m_gate) {
        const QFuture<void> opened = m_gate->future();
        co_await opened;
    }
    if (failing.contains(url)) {
        throw toError(ServiceError::network);
    }
    if (m_files.contains(url)) {
        co_return m_files.value(url);
    }
    if (m_error) {
        throw *m_error;
    }
    if (m_bytes) {
        // A copy: the task moves from what it is given.
        co_return QByteArray(*m_bytes);
    }
    throw toError(ServiceError::network);
}

void FakeDownloader::serveFile(const QUrl& url, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("FakeDownloader: cannot read %s", qPrintable(path));
    }
    serve(url, file.readAll());
}

void FakeDownloader::answer(QByteArray bytes)
{
    m_error.reset();
    m_bytes = std::move(bytes);
}

void FakeDownloader::hold()
{
    m_gate = std::make_shared<QPromise<void>>();
    m_gate->start();
}

void FakeDownloader::release()
{
    if (const auto gate = std::exchange(m_gate, nullptr)) {
        gate->finish();
    }
}

void FakeDownloader::fail(Error error)
{
    m_bytes.reset();
    m_error = std::move(error);
}

} // namespace kernwell::test
