#include "fonts/LinkFolder.h"

#include "fonts/FolderEntries.h"
#include "fonts/FontFileCopy.h"
#include "fonts/MacOSFontManager.h"
#include "fonts/PosixError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace kernwell {

namespace {

Error notRegistered()
{
    return { QLatin1String(MacOSFontManager::errorDomain), MacOSFontManager::notRegistered,
        QStringLiteral("The font file is not registered.") };
}

// The number a subfolder of ours is named by, or 0 for any other name.
int subfolderNumber(const QString& name)
{
    bool isNumber = false;
    const int number = name.toInt(&isNumber);
    return isNumber && number > 0 && QString::number(number) == name ? number : 0;
}

bool entryExists(const QString& path)
{
    struct stat status { };
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

bool isFolder(const QString& path)
{
    struct stat status { };
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

// True when `entry` registers `file` as it is now: a hard link to it, or a
// copy of it, which has its size and modification time (given to the copy,
// and new whenever the file is written) as the copy's file system keeps it:
// to the nanosecond, or to the second only (ext4 with small inodes, ext3).
// A symbolic link never does: it leads out of the folder a sandboxed
// application sees.
bool registers(const QByteArray& entry, const QByteArray& file)
{
    struct stat link { };
    struct stat font { };
    if (::lstat(entry.constData(), &link) != 0 || !S_ISREG(link.st_mode) || ::stat(file.constData(), &font) != 0) {
        return false;
    }
    if (link.st_dev == font.st_dev && link.st_ino == font.st_ino) {
        return true;
    }
    return link.st_size == font.st_size && link.st_mtim.tv_sec == font.st_mtim.tv_sec
        && (link.st_mtim.tv_nsec == font.st_mtim.tv_nsec || link.st_mtim.tv_nsec == 0);
}

// True when a hard link is impossible here, but a copy may work: another
// file system, too many links, or a file system without hard links.
bool copyInstead(int linkFailure)
{
    return linkFailure == EXDEV || linkFailure == EMLINK || linkFailure == EPERM || linkFailure == EOPNOTSUPP;
}

// Removes the entry `name` of `folder`: a link or a file, or a folder with
// what it holds; a link to a folder is not followed. False, with the error
// added to `errors`, when it stays.
bool removeEntry(const QString& folder, const QString& name, QList<Error>& errors)
{
    std::error_code removal;
    std::filesystem::remove_all(QFile::encodeName(folder + QLatin1Char('/') + name).toStdString(), removal);
    if (removal) {
        errors.append(PosixError::make(removal.value(), QStringLiteral("Could not unregister “%1”").arg(name)));
    }
    return !removal;
}

} // namespace

LinkFolder::LinkFolder(QString path, QString parkedPath, int linksPerFolder, HardLink hardLink, Rename rename)
    : m_path(std::move(path))
    , m_nativePath(QFile::encodeName(m_path))
    , m_parkedPaths { QFile::encodeName(parkedPath),
        QFile::encodeName(QFileInfo(m_path).path() + QStringLiteral("/.") + QFileInfo(m_path).fileName()
            + QStringLiteral(".withdrawn")) }
    , m_linksPerFolder(linksPerFolder)
    , m_hardLink(hardLink)
    , m_rename(rename)
{
}

QString LinkFolder::linkName(const QString& absolutePath)
{
    const QString name = QFileInfo(absolutePath).fileName();
    // fontconfig skips hidden files, and the link must stay inside the folder.
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/'))) {
        return {};
    }
    return name;
}

void LinkFolder::index()
{
    if (m_indexed) {
        return;
    }
    m_indexed = true;
    const auto [names, failure] = entriesOf(m_path);
    for (const QString& name : names) {
        // A numbered entry of an earlier layout (a link named by a numeric
        // font id) is no subfolder.
        if (const int number = subfolderNumber(name); number && isFolder(subfolderPath(number))) {
            const QStringList links = entriesOf(subfolderPath(number)).first;
            for (const QString& link : links) {
                m_subfolderOf.insert(link, number);
            }
            m_linkCounts.insert(number, static_cast<int>(links.size()));
        }
    }
}

int LinkFolder::subfolderWithRoom() const
{
    // The fullest with room: the others empty out as links go, and vanish.
    int fullest = 0;
    int fullestCount = -1;
    for (auto count = m_linkCounts.cbegin(); count != m_linkCounts.cend(); ++count) {
        if (count.value() < m_linksPerFolder && count.value() > fullestCount && !m_passedOver.contains(count.key())) {
            fullest = count.key();
            fullestCount = count.value();
        }
    }
    if (fullest != 0) {
        return fullest;
    }
    int number = 1;
    while (m_linkCounts.contains(number)) {
        ++number;
    }
    return number;
}

bool LinkFolder::isLinked(const QString& absolutePath)
{
    const QString name = linkName(absolutePath);
    const QMutexLocker lock(&m_mutex);
    index();
    const auto found = m_subfolderOf.constFind(name);
    return !name.isEmpty() && found != m_subfolderOf.cend()
        && registers(QFile::encodeName(subfolderPath(found.value()) + QLatin1Char('/') + name),
            QFile::encodeName(absolutePath));
}

std::optional<Error> LinkFolder::link(const QString& absolutePath)
{
    const QString name = linkName(absolutePath);
    if (name.isEmpty()) {
        return Error(QLatin1String(MacOSFontManager::errorDomain), MacOSFontManager::invalidFileName,
            QStringLiteral("The font file name “%1” cannot be registered: fonts in hidden files are not seen.")
                .arg(QFileInfo(absolutePath).fileName()));
    }
    const QMutexLocker lock(&m_mutex);
    index();
    // An earlier file of this name (replaced on disk since) keeps its place.
    const auto earlier = m_subfolderOf.constFind(name);
    const bool replacing = earlier != m_subfolderOf.cend();
    const int number = replacing ? earlier.value() : subfolderWithRoom();
    if (auto failure = makeSubfolder(number)) {
        return failure;
    }
    const QString folder = subfolderPath(number);
    if (auto failure = place(absolutePath, folder + QLatin1Char('/') + name)) {
        return failure;
    }
    if (!replacing) {
        m_subfolderOf.insert(name, number);
        ++m_linkCounts[number];
    }
    m_written.insert(folder);
    return std::nullopt;
}

std::optional<Error> LinkFolder::makeSubfolder(int number)
{
    const QString folder = subfolderPath(number);
    const QByteArray path = QFile::encodeName(folder);
    struct stat existing { };
    if (::lstat(path.constData(), &existing) == 0 && !S_ISDIR(existing.st_mode)) {
        // An earlier layout's link named by a numeric font id.
        if (::unlink(path.constData()) != 0) {
            const int failure = errno;
            return PosixError::make(failure, QStringLiteral("Could not create the font folder “%1”").arg(folder));
        }
        m_written.insert(m_path);
    }
    // The folder above ours holds the user's own fonts too: it is changed
    // (and so rescanned) only when ours is new there.
    const bool newFolder = !isFolder(m_path);
    std::error_code creation;
    if (std::filesystem::create_directories(path.toStdString(), creation)) {
        // A new subfolder changes the listing of the folder above it.
        m_written.insert(m_path);
        if (newFolder) {
            m_written.insert(QFileInfo(m_path).path());
        }
    }
    if (creation) {
        return PosixError::make(creation.value(), QStringLiteral("Could not create the font folder “%1”").arg(folder));
    }
    return std::nullopt;
}

std::optional<Error> LinkFolder::place(const QString& absolutePath, const QString& link)
{
    const QByteArray target = QFile::encodeName(absolutePath);
    const QByteArray linkPath = QFile::encodeName(link);
    struct stat existing { };
    if (::lstat(linkPath.constData(), &existing) == 0 && ::unlink(linkPath.constData()) != 0) {
        const int failure = errno;
        return PosixError::make(failure, QStringLiteral("Could not replace the registration of “%1”").arg(link));
    }
    if (m_hardLink(target.constData(), linkPath.constData()) == 0) {
        return std::nullopt;
    }
    int failure = errno;
    if (copyInstead(failure)) {
        failure = copyFontFile(target, linkPath);
        if (failure == 0) {
            return std::nullopt;
        }
    }
    return PosixError::make(failure, QStringLiteral("Could not register the font file “%1”").arg(absolutePath));
}

std::optional<Error> LinkFolder::unlink(const QString& absolutePath)
{
    const QString name = linkName(absolutePath);
    const QMutexLocker lock(&m_mutex);
    index();
    const auto found = m_subfolderOf.constFind(name);
    if (name.isEmpty() || found == m_subfolderOf.cend()) {
        return notRegistered();
    }
    const QString folder = subfolderPath(found.value());
    if (::unlink(QFile::encodeName(folder + QLatin1Char('/') + name).constData()) != 0) {
        const int failure = errno;
        if (failure != ENOENT) {
            return PosixError::make(
                failure, QStringLiteral("Could not unregister the font file “%1”").arg(absolutePath));
        }
        forget(name);
        return notRegistered();
    }
    forget(name);
    m_written.insert(folder);
    return std::nullopt;
}

void LinkFolder::forget(const QString& name)
{
    const int number = m_subfolderOf.take(name);
    if (--m_linkCounts[number] > 0) {
        return;
    }
    // An empty subfolder would stay on every fontconfig client's list.
    m_linkCounts.remove(number);
    if (::rmdir(QFile::encodeName(subfolderPath(number)).constData()) == 0) {
        m_written.insert(m_path);
    }
}

QList<Error> LinkFolder::retainOnly(const QStringList& absolutePaths)
{
    QHash<QString, QByteArray> kept; // link name → the file it must lead to
    for (const QString& path : absolutePaths) {
        if (const QString name = linkName(path); !name.isEmpty()) {
            kept.insert(name, QFile::encodeName(path));
        }
    }
    const QMutexLocker lock(&m_mutex);
    // What is on disk now, whatever put it there.
    forgetIndex();
    index();
    const auto [names, failure] = entriesOf(m_path);
    if (failure == ENOENT) {
        return {};
    }
    if (failure != 0) {
        return { PosixError::make(failure, QStringLiteral("Could not list the font folder “%1”").arg(m_path)) };
    }
    QList<Error> errors;
    // An earlier layout's links, or anything else that is not a subfolder of ours.
    for (const QString& name : names) {
        if (!m_linkCounts.contains(subfolderNumber(name)) && removeEntry(m_path, name, errors)) {
            m_written.insert(m_path);
        }
    }
    const QHash<QString, int> links = m_subfolderOf;
    for (auto link = links.cbegin(); link != links.cend(); ++link) {
        const QString subfolder = subfolderPath(link.value());
        const auto file = kept.constFind(link.key());
        if (file != kept.cend()
            && registers(QFile::encodeName(subfolder + QLatin1Char('/') + link.key()), file.value())) {
            continue;
        }
        if (removeEntry(subfolder, link.key(), errors)) {
            m_written.insert(subfolder);
            forget(link.key());
        }
    }
    for (auto count = m_linkCounts.cbegin(); count != m_linkCounts.cend();) {
        // A subfolder found empty is never forgotten link by link.
        if (count.value() == 0 && removeEntry(m_path, QString::number(count.key()), errors)) {
            m_written.insert(m_path);
            count = m_linkCounts.erase(count);
            continue;
        }
        m_unchecked.insert(subfolderPath(count.key()));
        ++count;
    }
    return errors;
}

QList<Error> LinkFolder::park()
{
    QList<Error> errors = dropParked(); // an earlier run's, should any be left
    {
        const QMutexLocker lock(&m_mutex);
        QDir().mkpath(QFileInfo(QFile::decodeName(m_parkedPaths.front())).path());
        if (parkAtOnce() == 0 || !entryExists(m_path)) {
            forgetIndex();
            return errors;
        }
    }
    // Nowhere to move it: the links go one by one.
    return errors + retainOnly({});
}

int LinkFolder::parkAtOnce() const noexcept
{
    for (const QByteArray& parked : m_parkedPaths) {
        if (m_rename(m_nativePath.constData(), parked.constData()) == 0) {
            return 0;
        }
    }
    return errno;
}

void LinkFolder::unpark()
{
    const QMutexLocker lock(&m_mutex);
    QDir().mkpath(QFileInfo(m_path).path());
    for (const QByteArray& parked : m_parkedPaths) {
        // Replaces an empty folder, never links in place. The folder above
        // is left to the clients that notice the move: rebuilding its cache
        // would scan the user's own fonts there.
        if (m_rename(parked.constData(), m_nativePath.constData()) == 0) {
            break;
        }
    }
    dropParked();
    forgetIndex();
}

void LinkFolder::forgetIndex()
{
    m_indexed = false; // learnt afresh at the next use
    m_subfolderOf.clear();
    m_linkCounts.clear();
}

QList<Error> LinkFolder::dropParked()
{
    QList<Error> errors;
    for (const QByteArray& parked : m_parkedPaths) {
        const QFileInfo folder(QFile::decodeName(parked));
        removeEntry(folder.path(), folder.fileName(), errors);
    }
    return errors;
}

void LinkFolder::beginBatch(const QStringList& absolutePaths)
{
    const QMutexLocker lock(&m_mutex);
    m_passedOver.clear();
    // Only files without a link need room: a catch-up names the fonts in
    // place too.
    const auto links = std::count_if(absolutePaths.cbegin(), absolutePaths.cend(),
        [this](const QString& path) { return !m_subfolderOf.contains(linkName(path)); });
    // Before the first index, nothing is passed over: this thread lists no folders.
    for (auto count = m_linkCounts.cbegin(); count != m_linkCounts.cend(); ++count) {
        const int room = m_linksPerFolder - count.value();
        const QString folder = subfolderPath(count.key());
        if (room > 0 && room < links && !m_written.contains(folder) && !m_unchecked.contains(folder)) {
            m_passedOver.insert(count.key());
        }
    }
}

LinkFolder::ChangedFolders LinkFolder::takeChangedFolders()
{
    const QMutexLocker lock(&m_mutex);
    m_passedOver.clear();
    m_unchecked.unite(m_written);
    ChangedFolders folders { QStringList(m_written.cbegin(), m_written.cend()),
        QStringList(m_unchecked.cbegin(), m_unchecked.cend()) };
    m_written.clear();
    m_unchecked.clear();
    return folders;
}

LinkFolder::ChangedFolders LinkFolder::takeFilledFolders()
{
    const QMutexLocker lock(&m_mutex);
    ChangedFolders folders;
    for (auto count = m_linkCounts.cbegin(); count != m_linkCounts.cend(); ++count) {
        const QString folder = subfolderPath(count.key());
        if (count.value() >= m_linksPerFolder && m_written.remove(folder)) {
            m_unchecked.remove(folder);
            folders.written.append(folder);
            folders.unchecked.append(folder);
        }
    }
    return folders;
}

} // namespace kernwell
