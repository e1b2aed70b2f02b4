#include "app/DataFolderLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kernwell {

namespace {

    // Who holds the lock, as its holder wrote it: "process <pid> on <host>".
    QString holderOf(int descriptor)
    {
        char text[256] {};
        const ssize_t length = ::pread(descriptor, text, sizeof text - 1, 0);
        return length > 0 ? QString::fromUtf8(text, length).trimmed() : QString();
    }

    void recordHolder(int descriptor)
    {
        const QByteArray holder = QStringLiteral("process %1 on %2\n")
                                      .arg(::getpid())
                                      .arg(QSysInfo::machineHostName())
                                      .toUtf8();
        // Only for the message of a process that finds the lock taken.
        if (::ftruncate(descriptor, 0) == 0) {
            [[maybe_unused]] const ssize_t written = ::pwrite(descriptor, holder.constData(), holder.size(), 0);
        }
    }

} // namespace

DataFolderLock::DataFolderLock(const QString& folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("instance.lock"));
    QDir().mkpath(folder);
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        m_problem = QCoreApplication::translate("kernwell::DataFolderLock",
            "Kernwell cannot lock its data folder “%1”: %2. It stops without touching any font.")
                        .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int failure = errno;
        if (failure == EWOULDBLOCK) {
            const QString holder = holderOf(descriptor);
            m_problem = QCoreApplication::translate("kernwell::DataFolderLock",
                "Kernwell is already running for the data folder “%1”%2, in another login or without a session bus "
                "to reach it by. This one stops without touching any font; quit the other to use this one.")
                            .arg(folder, holder.isEmpty() ? QString() : QStringLiteral(" (") + holder + QLatin1Char(')'));
        } else {
            m_problem = QCoreApplication::translate("kernwell::DataFolderLock",
                "Kernwell cannot lock its data folder “%1”: %2. It stops without touching any font.")
                            .arg(folder, QString::fromLocal8Bit(std::strerror(failure)));
        }
        ::close(descriptor);
        return;
    }
    m_descriptor = descriptor;
    recordHolder(m_descriptor);
}

DataFolderLock::~DataFolderLock()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
}

} // namespace kernwell
