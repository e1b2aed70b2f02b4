#include "fonts/FontFileCopy.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace kernwell {

namespace {

// Closes the descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    ~Descriptor()
    {
        if (m_descriptor >= 0) {
            ::close(m_descriptor);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_descriptor; }
    // Closes now; 0, or the error number (a write-back may fail only here).
    int close()
    {
        const int result = ::close(m_descriptor);
        m_descriptor = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_descriptor;
};

int copyBytes(int from, int to)
{
    std::array<char, 128 * 1024> buffer {};
    for (;;) {
        const ssize_t read = ::read(from, buffer.data(), buffer.size());
        if (read == 0) {
            return 0;
        }
        if (read < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        for (ssize_t written = 0; written < read;) {
            const ssize_t chunk = ::write(to, buffer.data() + written, static_cast<size_t>(read - written));
            if (chunk < 0 && errno != EINTR) {
                return errno;
            }
            written += chunk > 0 ? chunk : 0;
        }
    }
}

// Gives the new file `to` the content and the permissions of `from`.
int fill(int from, const struct stat& source, int to)
{
    if (::ioctl(to, FICLONE, from) != 0) {
        if (const int failure = copyBytes(from, to)) {
            return failure;
        }
    }
    return ::fchmod(to, source.st_mode & 0777) == 0 ? 0 : errno;
}

} // namespace

int copyFontFile(const QByteArray& source, const QByteArray& destination)
{
    Descriptor from(::open(source.constData(), O_RDONLY | O_CLOEXEC));
    struct stat status { };
    if (from.get() < 0 || ::fstat(from.get(), &status) != 0) {
        return errno;
    }
    const qsizetype slash = destination.lastIndexOf('/');
    QByteArray temporary = destination.left(slash + 1) + ".copy-XXXXXX";
    Descriptor to(::mkostemp(temporary.data(), O_CLOEXEC));
    if (to.get() < 0) {
        return errno;
    }
    int failure = fill(from.get(), status, to.get());
    if (const int closing = to.close(); failure == 0) {
        failure = closing;
    }
    // Set by path after the close: on a network file system, writes still
    // pending at the close would stamp the time anew.
    const std::array<timespec, 2> times { status.st_atim, status.st_mtim };
    if (failure == 0 && ::utimensat(AT_FDCWD, temporary.constData(), times.data(), 0) != 0) {
        failure = errno;
    }
    if (failure == 0 && ::rename(temporary.constData(), destination.constData()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(temporary.constData());
    }
    return failure;
}

} // namespace kernwell
