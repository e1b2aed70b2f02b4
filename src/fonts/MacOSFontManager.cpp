#include "fonts/MacOSFontManager.h"

#include "fonts/FontValidator.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QMutexLocker>
#include <QStandardPaths>

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

} // namespace

Error MacOSFontManager::FontManagerError::unexpected(const QString& text)
{
    return { QLatin1String(domain), 0, text };
}

MacOSFontManager::MacOSFontManager(RegistrationScope registrationScope, LinkFolderSettings settings)
    : m_registrationScope(registrationScope)
    , m_links(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/fonts/")
              + QStringLiteral(KERNWELL_BUNDLE_IDENTIFIER),
          // Beside the font store, out of fontconfig's view.
          QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/')
              + QStringLiteral(KERNWELL_BUNDLE_IDENTIFIER) + QStringLiteral("/withdrawn-links"),
          settings.linksPerFolder, settings.hardLink)
{
    if (m_registrationScope == RegistrationScope::systemWide) {
        m_cacheRefresher = std::make_unique<FontCacheRefresher>();
        m_folderTimeBumper = std::make_unique<FolderTimeBumper>(
            settings.quietPeriod, [refresher = m_cacheRefresher.get()](const QStringList& folders) {
                refresher->touch(folders);
            });
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

QList<Error> MacOSFontManager::unregisterAllFonts()
{
    if (m_registrationScope == RegistrationScope::systemWide) {
        return m_links.retainOnly({}) + m_links.dropParked();
    }
    return unregisterAllFontsExcept({});
}

QList<Error> MacOSFontManager::unregisterAllFontsForNow()
{
    if (m_registrationScope == RegistrationScope::systemWide) {
        return m_links.park();
    }
    return unregisterAllFontsExcept({});
}

int MacOSFontManager::unregisterAllFontsForNowAtOnce() const noexcept
{
    // A process's own fonts end with it.
    return m_registrationScope == RegistrationScope::systemWide ? m_links.parkAtOnce() : 0;
}

void MacOSFontManager::bringBackFontsWithdrawnForNow()
{
    if (m_registrationScope == RegistrationScope::systemWide) {
        m_links.unpark();
    }
}

QList<Error> MacOSFontManager::unregisterAllFontsExcept(const QStringList& absolutePaths)
{
    if (m_registrationScope == RegistrationScope::systemWide) {
        return m_links.retainOnly(absolutePaths);
    }
    const QSet<QString> kept(absolutePaths.cbegin(), absolutePaths.cend());
    const QMutexLocker lock(&m_applicationFontsMutex);
    QList<Error> errors;
    for (auto font = m_applicationFonts.begin(); font != m_applicationFonts.end();) {
        if (kept.contains(font.key())) {
            ++font;
        } else if (QFontDatabase::removeApplicationFont(font.value())) {
            font = m_applicationFonts.erase(font);
        } else {
            errors.append(FontManagerError::unexpected(QStringLiteral("Unexpected failure unregistering font.")));
            ++font;
        }
    }
    return errors;
}

void MacOSFontManager::flush()
{
    if (m_cacheRefresher) {
        refresh(m_links.takeChangedFolders(), Refresh::afterAPause);
    }
}

void MacOSFontManager::finishBatch()
{
    if (m_cacheRefresher) {
        refresh(m_links.takeChangedFolders(), Refresh::now);
    }
}

void MacOSFontManager::flushFilled()
{
    if (!m_cacheRefresher) {
        return;
    }
    // Called at every add: a request without folders would still keep the
    // refresher waiting for a pause.
    if (const LinkFolder::ChangedFolders filled = m_links.takeFilledFolders(); !filled.unchecked.isEmpty()) {
        refresh(filled, Refresh::now);
    }
}

void MacOSFontManager::refresh(const LinkFolder::ChangedFolders& folders, Refresh when)
{
    if (when == Refresh::now) {
        m_cacheRefresher->requestNow(folders.unchecked);
    } else {
        m_cacheRefresher->request(folders.unchecked);
    }
    m_folderTimeBumper->request(folders.written);
}

void MacOSFontManager::beginBatch(const QStringList& absolutePaths)
{
    if (m_registrationScope == RegistrationScope::systemWide) {
        m_links.beginBatch(absolutePaths);
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
    if (m_registrationScope == RegistrationScope::systemWide && m_links.isLinked(absolutePath)) {
        return fontError(alreadyRegistered, QStringLiteral("The font file is already registered."));
    }
    try {
        FontValidator::validate(absolutePath);
    } catch (const Error& error) {
        return error;
    }
    return m_registrationScope == RegistrationScope::systemWide ? m_links.link(absolutePath)
                                                                 : addApplicationFont(absolutePath);
}

std::optional<Error> MacOSFontManager::systemUnregister(const QString& absolutePath)
{
    return m_registrationScope == RegistrationScope::systemWide ? m_links.unlink(absolutePath)
                                                                 : removeApplicationFont(absolutePath);
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
