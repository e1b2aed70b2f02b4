#pragma once

#include "fonts/HTTPDataDownloader.h"

#include <QHash>
#include <QList>
#include <QSet>

namespace kernwell::test {

// Serves font files by URL; a URL marked failing answers like a server error.
class FakeDownloader : public HTTPDataDownloader {
public:
    QCoro::Task<QByteArray> downloadData(QUrl url) override;

    // Serves the file at `path` under `url`.
    void serve(const QUrl& url, const QString& path);

    QSet<QUrl> failing;
    QList<QUrl> requests;

private:
    QHash<QUrl, QByteArray> m_files;
};

} // namespace kernwell::test
