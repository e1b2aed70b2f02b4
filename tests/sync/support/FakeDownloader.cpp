#include "FakeDownloader.h"

#include "api/ServiceError.h"

#include <QFile>

namespace kernwell::test {

QCoro::Task<QByteArray> FakeDownloader::downloadData(QUrl url)
{
    requests.append(url);
    if (failing.contains(url) || !m_files.contains(url)) {
        throw toError(ServiceError::network);
    }
    co_return m_files.value(url);
}

void FakeDownloader::serve(const QUrl& url, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("FakeDownloader: cannot read %s", qPrintable(path));
    }
    m_files.insert(url, file.readAll());
}

} // namespace kernwell::test
