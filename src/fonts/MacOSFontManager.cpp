#include "fonts/MacOSFontManager.h"

#include "fonts/FontValidator.h"
#include "fonts/PosixError.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMutexLocker>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>

namespace kernwell {

namespace {

Error fontError(int code, const QString& description)
{
    return { QLatin1String(MacOSFontManager::errorDomain), code, description };
}

// A silent outcome (already registered / not registered) is false; every
// other refusal is thrown unchanged.
bool resultOf(const std::optional<Error>& refusal, int silentCode)
{
    if (!refusal) {
        return true;
    }
    if (refusal->domain() == QLatin1String(MacOSFontManager::errorDomain) && refusal->code() == silentCode) {
        return false;
    }
    throw *refusal;
}

bool sameFile(const QByteArray& a, const QByteArray& b)
{
    struct stat first { };
    struct stat second { };
    return ::stat(a.constData(), &first) == 0 && ::stat(b.constData(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

} // namespace

Error MacOSFontManager::FontManagerError::unexpected(const QString& text)
{
    return { QLatin1String(domain), 0, text };
}

MacOSFontManager::MacOSFontManager(RegistrationScope registrationScope)
    : m_registrationScope(registrationScope)
    , m_linkDirectory(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/fonts/")
          + QStringLiteral(KERNWELL_BUNDLE_IDENTIFIER))
{
    if (m_registrationScope == RegistrationScope::systemWide) {
        // The parent's cache lists its subfolders, ours among them.
        m_cacheRefresher = std::make_unique<FontCacheRefresher>(
            QStringList { QFileInfo(m_linkDirectory).path(), m_linkDirectory });
    }
}

MacOSFontManager::~MacOSFontManager() = default;

bool MacOSFontManager::registerFont(const QString& filePath)
{
    const QString absolutePath = QFileInfo(filePath).absoluteFilePath();
    const auto refusal = systemRegister(absolutePath);
    if (refusal && refusal->domain().isEmpty()) {
        throw FontManagerError::unexpected(QStringLiteral("Unexpected failure registering font."));
    }
    return resultOf(refusal, alreadyRegistered);
}

bool MacOSFontManager::unregisterFont(const QString& filePath)
{
    const QString absolutePath = QFileInfo(filePath).absoluteFilePath();
    const auto refusal = systemUnregister(absolutePath);
    if (refusal && refusal->domain().isEmpty()) {
        throw FontManagerError::unexpected(QStringLiteral("Unexpected failure unregistering font."));
    }
    return resultOf(refusal, notRegistered);
}

bool MacOSFontManager::isBadFontFile(const Error& error)
{
    return error.domain() == QLatin1String(errorDomain)
        && (error.code() == unrecognizedFormat || error.code() == invalidFontData);
}

void MacOSFontManager::flush()
{
    if (m_cacheRefresher) {
        m_cacheRefresher->request();
    }
}

void MacOSFontManager::waitForFlush()
{
    if (m_cacheRefresher) {
        m_cacheRefresher->wait();
    }
}

// The "system call": no value on success, otherwise the refusal. An error
// with an empty domain stands for a refusal without an error.
std::optional<Error> MacOSFontManager::systemRegister(const QString& absolutePath)
{
    // A file linked already was checked when it was linked.
    if (m_registrationScope == RegistrationScope::systemWide && isLinked(absolutePath)) {
        return fontError(alreadyRegistered, QStringLiteral("The font file is already registered."));
    }
    try {
        FontValidator::validate(absolutePath);
    } catch (const Error& error) {
        return error;
    }
    return m_registrationScope == RegistrationScope::systemWide ? linkIntoDirectory(absolutePath)
                                                                 : addApplicationFont(absolutePath);
}

std::optional<Error> MacOSFontManager::systemUnregister(const QString& absolutePath)
{
    return m_registrationScope == RegistrationScope::systemWide ? removeLink(absolutePath)
                                                                 : removeApplicationFont(absolutePath);
}

QString MacOSFontManager::linkPath(const QString& absolutePath) const
{
    const QString name = QFileInfo(absolutePath).fileName();
    // fontconfig skips hidden files, and the link must stay inside the folder.
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/'))) {
        return {};
    }
    return m_linkDirectory + QLatin1Char('/') + name;
}

bool MacOSFontManager::isLinked(const QString& absolutePath) const
{
    const QString link = linkPath(absolutePath);
    return !link.isEmpty() && sameFile(QFile::encodeName(link), QFile::encodeName(absolutePath));
}

std::optional<Error> MacOSFontManager::linkIntoDirectory(const QString& absolutePath)
{
    const QString link = linkPath(absolutePath);
    if (link.isEmpty()) {
        return fontError(invalidFileName,
            QStringLiteral("The font file name “%1” cannot be registered: fonts in hidden files are not seen.")
                .arg(QFileInfo(absolutePath).fileName()));
    }
    std::error_code created;
    std::filesystem::create_directories(QFile::encodeName(m_linkDirectory).toStdString(), created);
    if (created) {
        return PosixError::make(
            created.value(), QStringLiteral("Could not create the font folder “%1”").arg(m_linkDirectory));
    }
    const QByteArray target = QFile::encodeName(absolutePath);
    const QByteArray linkName = QFile::encodeName(link);
    struct stat existing { };
    if (::lstat(linkName.constData(), &existing) == 0) {
        // A registration of an earlier file of this name (replaced on disk
        // since): the current file takes its place.
        if (::unlink(linkName.constData()) != 0) {
            const int failure = errno;
            return PosixError::make(failure, QStringLiteral("Could not replace the registration of “%1”").arg(link));
        }
    }
    if (::link(target.constData(), linkName.constData()) == 0) {
        return std::nullopt;
    }
    if (errno == EXDEV && ::symlink(target.constData(), linkName.constData()) == 0) {
        return std::nullopt;
    }
    const int failure = errno;
    return PosixError::make(failure, QStringLiteral("Could not register the font file “%1”").arg(absolutePath));
}

std::optional<Error> MacOSFontManager::removeLink(const QString& absolutePath)
{
    const QString link = linkPath(absolutePath);
    if (link.isEmpty()) {
        return fontError(notRegistered, QStringLiteral("The font file is not registered."));
    }
    if (::unlink(QFile::encodeName(link).constData()) == 0) {
        return std::nullopt;
    }
    const int failure = errno;
    if (failure == ENOENT) {
        return fontError(notRegistered, QStringLiteral("The font file is not registered."));
    }
    return PosixError::make(failure, QStringLiteral("Could not unregister the font file “%1”").arg(absolutePath));
}

std::optional<Error> MacOSFontManager::addApplicationFont(const QString& absolutePath)
{
    const QMutexLocker lock(&m_applicationFontsMutex);
    if (m_applicationFonts.contains(absolutePath)) {
        return fontError(alreadyRegistered, QStringLiteral("The font file is already registered."));
    }
    const int id = QFontDatabase::addApplicationFont(absolutePath);
    if (id < 0) {
        return Error {};
    }
    m_applicationFonts.insert(absolutePath, id);
    return std::nullopt;
}

std::optional<Error> MacOSFontManager::removeApplicationFont(const QString& absolutePath)
{
    const QMutexLocker lock(&m_applicationFontsMutex);
    const auto found = m_applicationFonts.constFind(absolutePath);
    if (found == m_applicationFonts.constEnd()) {
        return fontError(notRegistered, QStringLiteral("The font file is not registered."));
    }
    if (!QFontDatabase::removeApplicationFont(found.value())) {
        return Error {};
    }
    m_applicationFonts.erase(found);
    return std::nullopt;
}

} // namespace kernwell
