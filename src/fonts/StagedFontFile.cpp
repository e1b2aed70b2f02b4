#include "fonts/StagedFontFile.h"

#include "fonts/FontStore.h"
#include "fonts/PosixError.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kernwell {

StagedFontFile::StagedFontFile(const QString& path, const QByteArray& bytes)
    : m_file(path)
{
    const QString folder = QFileInfo(path).path();
    std::error_code failure;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), failure);
    if (failure) {
        throw PosixError::make(failure.value(), QStringLiteral("Could not create the font folder “%1”").arg(folder));
    }
    if (!m_file.open(QIODevice::WriteOnly) || m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        fail(m_file.errorString());
    }
    // Flushed to disk here, the data costs commit's own flush next to nothing.
    if (::fdatasync(m_file.handle()) != 0) {
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
}

void StagedFontFile::commit()
{
    if (!m_file.commit()) {
        fail(m_file.errorString());
    }
}

void StagedFontFile::fail(const QString& reason) const
{
    throw Error(QLatin1String(FontStore::errorDomain), FontStore::writeFailed,
        QStringLiteral("Could not write the font file “%1”: %2.").arg(QFileInfo(m_file.fileName()).fileName(), reason));
}

} // namespace kernwell
