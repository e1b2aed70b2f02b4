#include "diagnostics/sentry/Outbox.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUuid>

#include <algorithm>

namespace kernwell {

namespace {
const QString suffix = QStringLiteral(".envelope");
}

Outbox::Outbox(QString path, int maxFiles, qint64 maxBytes)
    : m_path(std::move(path))
    , m_maxFiles(qMax(1, maxFiles))
    , m_maxBytes(maxBytes)
{
}

void Outbox::store(const QByteArray& envelope)
{
    QMutexLocker lock(&m_mutex);
    if (envelope.size() > m_maxBytes) {
        return;
    }
    if (!QDir().mkpath(m_path)) {
        return;
    }
    // Reports may quote paths and names of the user: keep the folder private.
    QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Time and count first, so that names sort oldest first; the UUID keeps
    // names unique across processes.
    const QString name = QStringLiteral("%1-%2-%3%4")
                             .arg(QDateTime::currentMSecsSinceEpoch(), 16, 10, QLatin1Char('0'))
                             .arg(m_stored++, 8, 10, QLatin1Char('0'))
                             .arg(QUuid::createUuid().toString(QUuid::Id128), suffix);
    QSaveFile file(m_path + QLatin1Char('/') + name);
    if (file.open(QIODevice::WriteOnly) && file.write(envelope) == envelope.size() && file.commit()) {
        prune();
    }
}

QStringList Outbox::files() const
{
    const QDir dir(m_path);
    QStringList result;
    QMutexLocker lock(&m_skippedMutex);
    for (const QString& name : dir.entryList({ QLatin1Char('*') + suffix }, QDir::Files, QDir::Name)) {
        if (const QString file = dir.filePath(name); !m_skipped.contains(file)) {
            result.append(file);
        }
    }
    return result;
}

std::optional<QByteArray> Outbox::read(const QString& file)
{
    QFile in(file);
    if (in.open(QIODevice::ReadOnly)) {
        QByteArray envelope = in.readAll();
        if (in.error() == QFileDevice::NoError) {
            return envelope;
        }
    }
    if (!QFile::remove(file)) {
        skip(file, QStringLiteral("cannot be read (%1) or removed").arg(in.errorString()));
    }
    return std::nullopt;
}

void Outbox::remove(const QString& file)
{
    QFile envelope(file);
    if (!envelope.remove()) {
        skip(file, QStringLiteral("cannot be removed (%1)").arg(envelope.errorString()));
    }
}

void Outbox::skip(const QString& file, const QString& problem)
{
    QMutexLocker lock(&m_skippedMutex);
    if (!m_skipped.contains(file)) {
        m_skipped.insert(file);
        qWarning("Error reporting: the waiting report %s %s; it is left alone until the next start.", qUtf8Printable(file),
            qUtf8Printable(problem));
    }
}

void Outbox::prune()
{
    // Newest first: keep files while both bounds allow, drop the older rest.
    QStringList all = files();
    std::reverse(all.begin(), all.end());
    qint64 bytes = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        bytes += QFileInfo(all.at(i)).size();
        if (i >= m_maxFiles || bytes > m_maxBytes) {
            QFile::remove(all.at(i));
        }
    }
}

} // namespace kernwell
