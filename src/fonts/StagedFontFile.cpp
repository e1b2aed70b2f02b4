#include "fonts/StagedFontFile.h"

#include "fonts/FontStore.h"
#include "fonts/PosixError.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kernwell {

namespace {

// Hidden, beside the file's place; not made from the file's name, which may
// be as long as a name can be.
QByteArray temporaryTemplate(const QString& path)
{
    return QFile::encodeName(QFileInfo(path).path()) + "/.staged-XXXXXX";
}

// The template with its trailing X's replaced by random letters and digits.
QByteArray randomName(QByteArray name)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (qsizetype at = name.size() - 6; at < name.size(); ++at) {
        name[at] = letters[QRandomGenerator::global()->bounded(static_cast<int>(sizeof letters - 1))];
    }
    return name;
}

} // namespace

StagedFontFile::StagedFontFile(const QString& path, const QByteArray& bytes)
    : m_path(path)
{
    const QString folder = QFileInfo(path).path();
    std::error_code failure;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), failure);
    if (failure) {
        throw PosixError::make(failure.value(), QStringLiteral("Could not create the font folder “%1”").arg(folder));
    }
    try {
        open(folder);
        write(bytes);
    } catch (...) {
        discard();
        throw;
    }
}

StagedFontFile::~StagedFontFile() { discard(); }

void StagedFontFile::open(const QString& folder)
{
    constexpr mode_t readableByAll = 0666; // less the umask, as for any new file
    m_descriptor = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, readableByAll);
    if (m_descriptor >= 0) {
        return;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        failWithErrno();
    }
    // No unnamed files on this file system: a hidden name instead.
    QByteArray name = temporaryTemplate(m_path);
    m_descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (m_descriptor < 0) {
        failWithErrno();
    }
    m_temporaryPath = name;
}

void StagedFontFile::write(const QByteArray& bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t wrote
            = ::write(m_descriptor, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (wrote < 0 && errno != EINTR) {
            failWithErrno();
        }
        written += wrote > 0 ? wrote : 0;
    }
}

void StagedFontFile::name()
{
    char descriptorPath[32];
    std::snprintf(descriptorPath, sizeof descriptorPath, "/proc/self/fd/%d", m_descriptor);
    const QByteArray pattern = temporaryTemplate(m_path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = randomName(pattern);
        if (::linkat(AT_FDCWD, descriptorPath, AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0) {
            m_temporaryPath = name;
            return;
        }
        if (errno != EEXIST) {
            failWithErrno();
        }
    }
    fail(QString::fromLocal8Bit(std::strerror(EEXIST)));
}

void StagedFontFile::commit()
{
    if (m_temporaryPath.isEmpty()) {
        name();
    }
    if (::rename(m_temporaryPath.constData(), QFile::encodeName(m_path).constData()) != 0) {
        failWithErrno();
    }
    m_temporaryPath.clear();
    discard();
}

void StagedFontFile::discard()
{
    if (!m_temporaryPath.isEmpty()) {
        ::unlink(m_temporaryPath.constData());
        m_temporaryPath.clear();
    }
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
        m_descriptor = -1;
    }
}

void StagedFontFile::failWithErrno() const { fail(QString::fromLocal8Bit(std::strerror(errno))); }

void StagedFontFile::fail(const QString& reason) const
{
    throw Error(QLatin1String(FontStore::errorDomain), FontStore::writeFailed,
        QStringLiteral("Could not write the font file “%1”: %2.").arg(QFileInfo(m_path).fileName(), reason));
}

} // namespace kernwell
