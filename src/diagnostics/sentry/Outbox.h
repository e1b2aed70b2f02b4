#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

namespace kernwell {

// A folder of envelopes that could not be sent yet, one file each, kept to
// at most `maxFiles` files and `maxBytes` bytes (the oldest go first). Safe
// from any thread.
class Outbox {
public:
    Outbox(QString path, int maxFiles, qint64 maxBytes);

    const QString& path() const { return m_path; }

    // Writes the envelope atomically (a half-written file is never listed).
    // A failure loses the envelope: there is nowhere left to report it; so
    // does an envelope larger than the whole bound.
    void store(const QByteArray& envelope);
    // Full paths, oldest first.
    QStringList files() const;
    static std::optional<QByteArray> read(const QString& file);
    static void remove(const QString& file);

private:
    void prune();

    QString m_path;
    int m_maxFiles;
    qint64 m_maxBytes;
    QMutex m_mutex;
    quint64 m_stored = 0; // orders files written within the same millisecond
};

} // namespace kernwell
