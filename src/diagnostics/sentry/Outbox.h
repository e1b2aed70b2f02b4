#pragma once

#include <QByteArray>
#include <QMutex>
#include <QSet>
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
    // Full paths, oldest first, without the skipped ones.
    QStringList files() const;
    // The envelope; nothing when the file cannot be read, and the file is
    // then removed (it will never be readable as an envelope) or skipped.
    std::optional<QByteArray> read(const QString& file);
    // A file that cannot be removed is skipped for the rest of the run, so
    // that a delivered envelope is never listed, and sent, again.
    void remove(const QString& file);

private:
    void prune();
    // Leaves `file` out of every later listing and says so once on stderr.
    void skip(const QString& file, const QString& problem);

    QString m_path;
    int m_maxFiles;
    qint64 m_maxBytes;
    QMutex m_mutex;
    mutable QMutex m_skippedMutex;
    QSet<QString> m_skipped;
    quint64 m_stored = 0; // orders files written within the same millisecond
};

} // namespace kernwell
