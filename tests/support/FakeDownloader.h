#pragma once

#include "diagnostics/Error.h"
#include "fonts/HTTPDataDownloader.h"

#include <QHash>
#include <QList>
#include <QPromise>
#include <QSet>

#include <memory>
#include <optional>

namespace kernwell::test {

// The font downloads of every test. A URL answers what serve() gave it, or
// the default answer (answer(), fail()); a URL with neither, or marked
// failing, fails like a server error. Records every URL asked for.
class FakeDownloader : public HTTPDataDownloader {
public:
    QCoro::Task<QByteArray> downloadData(QUrl url) override;

    void serve(const QUrl& url, QByteArray bytes) { m_files.insert(url, std::move(bytes)); }
    // Serves the file at `path` under `url`.
    void serveFile(const QUrl& url, const QString& path);
    // What every URL not served answers: these bytes, or this error thrown.
    void answer(QByteArray bytes);
    void fail(Error error);
    // Downloads asked for from now on wait until release().
    void hold();
    void release();

    QSet<QUrl> failing;
    QList<QUrl> requests;

private:
    QHash<QUrl, QByteArray> m_files;
    std::optional<QByteArray> m_bytes;
    std::optional<Error> m_error;
    std::shared_ptr<QPromise<void>> m_gate;
};

} // namespace kernwell::test
