#include "DataFolderLock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kernwell::localservice {

namespace {

std::string holderOf(int descriptor)
{
    char text[32] = {};
    const ssize_t length = ::pread(descriptor, text, sizeof text - 1, 0);
    const QByteArray pid = QByteArray(text, length > 0 ? static_cast<qsizetype>(length) : 0).trimmed();
    return pid.isEmpty() ? std::string("another process") : "process " + pid.toStdString();
}

} // namespace

DataFolderLock::DataFolderLock(const QString& dataDir)
{
    if (dataDir.isEmpty()) {
        return; // nothing is kept
    }
    const QByteArray path = QFile::encodeName(QDir(dataDir).filePath(QStringLiteral("service.lock")));
    m_descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_descriptor < 0) {
        throw std::runtime_error("Cannot create " + path.toStdString() + ": " + std::strerror(errno) + ".");
    }
    if (::flock(m_descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const std::string holder = error == EWOULDBLOCK ? holderOf(m_descriptor) : std::string();
        ::close(m_descriptor);
        if (error != EWOULDBLOCK) {
            throw std::runtime_error("Cannot lock " + path.toStdString() + ": " + std::strerror(error) + ".");
        }
        throw std::runtime_error(QStringLiteral("The data folder %1 is in use by another kernwell-localservice (%2); stop it or choose another --data-dir.")
                                     .arg(dataDir, QString::fromStdString(holder))
                                     .toStdString());
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(m_descriptor, 0) != 0 || ::pwrite(m_descriptor, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the next one's message is poorer.
        std::fprintf(stderr, "Cannot write the process id into %s: %s\n", path.constData(), std::strerror(errno));
    }
}

DataFolderLock::~DataFolderLock()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor); // and with it the lock
    }
}

} // namespace kernwell::localservice
