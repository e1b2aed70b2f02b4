#include "ui/FontUsageScanner.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <utility>

namespace kernwell {

namespace {

    struct FileKey {
        quint64 major = 0;
        quint64 minor = 0;
        quint64 inode = 0;
        friend bool operator==(const FileKey&, const FileKey&) = default;
    };

    size_t qHash(const FileKey& key, size_t seed = 0) { return qHashMulti(seed, key.major, key.minor, key.inode); }

    // "7f… r--s 00000000 08:02 1234567 /path" -> the device and inode of
    // the mapped file; none for anonymous mappings.
    std::optional<FileKey> mappedFile(const QByteArray& line)
    {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6) {
            return std::nullopt;
        }
        const QList<QByteArray> device = fields.at(3).split(':');
        bool majorOk = false;
        bool minorOk = false;
        bool inodeOk = false;
        FileKey key { device.value(0).toULongLong(&majorOk, 16), device.value(1).toULongLong(&minorOk, 16),
            fields.at(4).toULongLong(&inodeOk) };
        if (device.size() != 2 || !majorOk || !minorOk || !inodeOk || key.inode == 0) {
            return std::nullopt;
        }
        return key;
    }

    QString firstLine(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
    }

    // Name= and Exec= of the [Desktop Entry] group.
    std::pair<QString, QString> nameAndCommand(const QString& path)
    {
        QFile file(path);
        std::pair<QString, QString> found;
        if (!file.open(QIODevice::ReadOnly)) {
            return found;
        }
        bool inEntry = false;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith(QLatin1Char('['))) {
                inEntry = line == QLatin1String("[Desktop Entry]");
            } else if (inEntry && line.startsWith(QLatin1String("Name="))) {
                found.first = line.mid(5);
            } else if (inEntry && line.startsWith(QLatin1String("Exec="))) {
                found.second = line.mid(5);
            }
        }
        return found;
    }

} // namespace

FontUsageScanner::FontUsageScanner(QString procFolder, pid_t self, uid_t user, QHash<QString, QString> desktopNames)
    : m_procFolder(std::move(procFolder))
    , m_self(self)
    , m_user(user)
    , m_desktopNames(std::move(desktopNames))
{
}

QHash<QString, QStringList> FontUsageScanner::scan(const QList<SyncedFont>& fonts) const
{
    QHash<FileKey, QString> fontIds;
    for (const SyncedFont& font : fonts) {
        fontIds.insert(FileKey { major(font.device), minor(font.device), font.inode }, font.fontId);
    }
    QHash<QString, QSet<QString>> users;
    QDirIterator processes(m_procFolder, QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        const QString folder = processes.next();
        bool isPid = false;
        const pid_t pid = processes.fileName().toInt(&isPid);
        struct stat status { };
        if (!isPid || pid == m_self || ::stat(QFile::encodeName(folder).constData(), &status) != 0
            || status.st_uid != m_user) {
            continue;
        }
        QFile maps(folder + QStringLiteral("/maps"));
        if (!maps.open(QIODevice::ReadOnly)) {
            continue; // ended meanwhile
        }
        QSet<QString> mapped;
        // Read whole: a /proc file has no size, so atEnd() would end at once.
        const QList<QByteArray> lines = maps.readAll().split('\n');
        for (const QByteArray& line : lines) {
            if (const std::optional<FileKey> key = mappedFile(line)) {
                if (const auto found = fontIds.constFind(*key); found != fontIds.cend()) {
                    mapped.insert(*found);
                }
            }
        }
        if (mapped.isEmpty()) {
            continue;
        }
        const QString name = programName(QFileInfo(folder + QStringLiteral("/exe")).symLinkTarget(),
            firstLine(folder + QStringLiteral("/comm")), m_desktopNames);
        for (const QString& fontId : std::as_const(mapped)) {
            users[fontId].insert(name);
        }
    }
    QHash<QString, QStringList> sorted;
    for (auto it = users.cbegin(); it != users.cend(); ++it) {
        QStringList names(it->cbegin(), it->cend());
        names.sort(Qt::CaseInsensitive);
        sorted.insert(it.key(), names);
    }
    return sorted;
}

QString FontUsageScanner::programName(
    const QString& executable, const QString& processName, const QHash<QString, QString>& desktopNames)
{
    return desktopNames.value(QFileInfo(executable).fileName(), processName);
}

QHash<QString, QString> FontUsageScanner::readDesktopNames(const QStringList& dataFolders)
{
    QHash<QString, QString> names;
    // The first folder wins, as for the desktop itself.
    for (auto folder = dataFolders.crbegin(); folder != dataFolders.crend(); ++folder) {
        QDirIterator entries(*folder + QStringLiteral("/applications"), { QStringLiteral("*.desktop") }, QDir::Files,
            QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            const auto [name, command] = nameAndCommand(entries.next());
            const QString executable = QFileInfo(command.section(QLatin1Char(' '), 0, 0).remove(QLatin1Char('"'))).fileName();
            // A launcher runs someone else's executable: its name says nothing.
            if (!name.isEmpty() && !executable.isEmpty() && executable != QLatin1String("flatpak")
                && executable != QLatin1String("env")) {
                names.insert(executable, name);
            }
        }
    }
    return names;
}

} // namespace kernwell
