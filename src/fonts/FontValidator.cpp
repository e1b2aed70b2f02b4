#include "fonts/FontValidator.h"

#include "fonts/MacOSFontManager.h"
#include "fonts/PosixError.h"

#include <QFile>
#include <QFileInfo>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

namespace kernwell {

namespace {

Error fontError(int code, const QString& description)
{
    return { QLatin1String(MacOSFontManager::errorDomain), code, description };
}

QString quoted(const QString& path) { return QStringLiteral("“%1”").arg(QFileInfo(path).fileName()); }

Error truncated(const QString& path)
{
    return fontError(MacOSFontManager::invalidFontData,
        QStringLiteral("The font file %1 is truncated or damaged.").arg(quoted(path)));
}

std::uint32_t bigEndian32(const QByteArray& bytes, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return (std::uint32_t { p[0] } << 24) | (std::uint32_t { p[1] } << 16) | (std::uint32_t { p[2] } << 8) | p[3];
}

std::uint16_t bigEndian16(const QByteArray& bytes, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// An open file and its size.
struct FontFile {
    int descriptor;
    qint64 size;
};

// Reads exactly `length` bytes at `offset`, or returns an empty array.
QByteArray readAt(const FontFile& file, qint64 offset, qint64 length)
{
    if (offset < 0 || length <= 0 || offset + length > file.size) {
        return {};
    }
    QByteArray bytes(length, Qt::Uninitialized);
    const ssize_t read = ::pread(file.descriptor, bytes.data(), static_cast<size_t>(length), offset);
    return read == length ? bytes : QByteArray {};
}

// FreeType opens a font whose later tables lie past the end of the file (it
// loads tables lazily), so a cut-off download would pass as a font. Every
// table of every face must lie inside the file.
void checkSfntTables(const QString& path, const FontFile& file, qint64 directoryOffset)
{
    const QByteArray header = readAt(file, directoryOffset, 12);
    if (header.isEmpty()) {
        throw truncated(path);
    }
    const qint64 tableCount = bigEndian16(header, 4);
    const QByteArray records = readAt(file, directoryOffset + 12, tableCount * 16);
    if (tableCount == 0 || records.isEmpty()) {
        throw truncated(path);
    }
    for (qint64 i = 0; i < tableCount; ++i) {
        const qint64 offset = bigEndian32(records, i * 16 + 8);
        const qint64 length = bigEndian32(records, i * 16 + 12);
        if (offset + length > file.size) {
            throw truncated(path);
        }
    }
}

// True when the file says it is an sfnt font (TrueType, OpenType or a
// collection of them); then every table of every face must lie inside it.
bool checkSfntContainer(const QString& path, const FontFile& file)
{
    const QByteArray head = readAt(file, 0, 4);
    if (head.isEmpty()) {
        return false;
    }
    const std::uint32_t tag = bigEndian32(head, 0);
    constexpr std::uint32_t collection = 0x74746366; // 'ttcf'
    constexpr std::uint32_t trueType = 0x00010000;
    constexpr std::uint32_t openType = 0x4F54544F; // 'OTTO'
    constexpr std::uint32_t appleTrueType = 0x74727565; // 'true'
    if (tag == collection) {
        const QByteArray header = readAt(file, 0, 12);
        if (header.isEmpty()) {
            throw truncated(path);
        }
        const qint64 faceCount = bigEndian32(header, 8);
        const QByteArray offsets = readAt(file, 12, faceCount * 4);
        if (offsets.isEmpty()) {
            throw truncated(path);
        }
        for (qint64 i = 0; i < faceCount; ++i) {
            checkSfntTables(path, file, bigEndian32(offsets, i * 4));
        }
        return true;
    }
    if (tag == trueType || tag == openType || tag == appleTrueType) {
        checkSfntTables(path, file, 0);
        return true;
    }
    return false;
}

unsigned long readAtOffset(FT_Stream stream, unsigned long offset, unsigned char* buffer, unsigned long count)
{
    if (count == 0) {
        return offset <= stream->size ? 0 : 1; // a seek: 0 when it lands inside
    }
    const ssize_t read = ::pread(stream->descriptor.value, buffer, count, static_cast<off_t>(offset));
    return read < 0 ? 0 : static_cast<unsigned long>(read);
}

// A negative face index only asks FreeType whether it knows the format,
// without loading the tables: several times cheaper than opening a face.
FT_Error probeFace(FT_Library library, const FT_Open_Args& arguments)
{
    FT_Face face = nullptr;
    const FT_Error opened = FT_Open_Face(library, &arguments, -1, &face);
    if (opened == 0) {
        FT_Done_Face(face);
    }
    return opened;
}

// Through the descriptor already open. Left to open the file itself,
// FreeType opens it a second time and maps it, and unmapping it stops every
// other core the process runs on to flush its address cache, for each font.
FT_Error probeFace(FT_Library library, const FontFile& file)
{
    FT_StreamRec stream {};
    stream.descriptor.value = file.descriptor;
    stream.size = static_cast<unsigned long>(file.size);
    stream.read = readAtOffset;
    FT_Open_Args arguments {};
    arguments.flags = FT_OPEN_STREAM;
    arguments.stream = &stream;
    return probeFace(library, arguments);
}

FT_Error probeFace(FT_Library library, QByteArray nativePath)
{
    FT_Open_Args arguments {};
    arguments.flags = FT_OPEN_PATHNAME;
    arguments.pathname = nativePath.data();
    return probeFace(library, arguments);
}

// The font engine of the calling thread: starting one costs about a third
// of a check, and an engine must not be shared between threads.
FT_Library fontEngine()
{
    struct Engine {
        FT_Library library = nullptr;
        Engine()
        {
            if (FT_Init_FreeType(&library) != 0) {
                library = nullptr;
            }
        }
        ~Engine()
        {
            if (library) {
                FT_Done_FreeType(library);
            }
        }
        Engine(const Engine&) = delete;
        Engine& operator=(const Engine&) = delete;
    };
    thread_local const Engine engine;
    return engine.library;
}

} // namespace

void FontValidator::validate(const QString& absolutePath)
{
    const QByteArray nativePath = QFile::encodeName(absolutePath);
    // Without waiting: a pipe is refused below, not read until a writer comes.
    const int descriptor = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        const int failure = errno;
        if (failure == ENOENT) {
            throw fontError(MacOSFontManager::fileNotFound,
                QStringLiteral("The font file %1 does not exist.").arg(quoted(absolutePath)));
        }
        throw PosixError::make(failure, QStringLiteral("Could not read the font file %1").arg(quoted(absolutePath)));
    }
    const std::unique_ptr<const int, void (*)(const int*)> closer(&descriptor, [](const int* fd) { ::close(*fd); });
    struct stat status { };
    if (::fstat(descriptor, &status) != 0) {
        const int failure = errno;
        throw PosixError::make(failure, QStringLiteral("Could not read the font file %1").arg(quoted(absolutePath)));
    }
    if (!S_ISREG(status.st_mode) || status.st_size == 0) {
        throw fontError(MacOSFontManager::unrecognizedFormat,
            QStringLiteral("The file %1 is not a font file.").arg(quoted(absolutePath)));
    }

    const FontFile file { descriptor, status.st_size };
    const bool sfnt = checkSfntContainer(absolutePath, file);

    FT_Library library = fontEngine();
    if (!library) {
        throw MacOSFontManager::FontManagerError::unexpected(QStringLiteral("Could not start the font engine."));
    }
    FT_Error opened = probeFace(library, file);
    if (opened != 0 && !sfnt) {
        // Most likely no font. FreeType's probes for other systems' font
        // files answer differently through a stream, so the file is asked
        // again by its name, which tells "not a font" from "damaged".
        opened = probeFace(library, nativePath);
    }
    if (opened == FT_Err_Unknown_File_Format && !sfnt) {
        throw fontError(MacOSFontManager::unrecognizedFormat,
            QStringLiteral("The file %1 is not a font file.").arg(quoted(absolutePath)));
    }
    if (opened != 0) {
        // Damaged beyond what FreeType accepts, or an sfnt cut short.
        throw truncated(absolutePath);
    }
}

} // namespace kernwell
