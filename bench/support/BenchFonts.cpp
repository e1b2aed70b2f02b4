#include "BenchFonts.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <fontconfig/fontconfig.h>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

namespace kernwell::bench {

namespace {

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return (quint32 { p[0] } << 24) | (quint32 { p[1] } << 16) | (quint32 { p[2] } << 8) | p[3];
}

// Replaces every "Liberation" in the font's name table (both the one-byte
// and the UTF-16 records) by a tag of the same length, so that no offset moves.
bool renameFamily(QByteArray& font, const QByteArray& tag)
{
    const QByteArray from = QByteArrayLiteral("Liberation");
    QByteArray fromWide;
    QByteArray tagWide;
    for (qsizetype i = 0; i < from.size(); ++i) {
        fromWide.append('\0').append(from.at(i));
        tagWide.append('\0').append(tag.at(i));
    }
    const qsizetype tables = (static_cast<unsigned char>(font.at(4)) << 8) | static_cast<unsigned char>(font.at(5));
    for (qsizetype i = 0; i < tables; ++i) {
        const qsizetype record = 12 + 16 * i;
        if (font.mid(record, 4) != "name") {
            continue;
        }
        const qsizetype begin = bigEndian32(font, record + 8);
        const qsizetype end = begin + bigEndian32(font, record + 12);
        for (const auto& [needle, replacement] : { std::pair { from, tag }, std::pair { fromWide, tagWide } }) {
            for (qsizetype at = font.indexOf(needle, begin); at >= 0 && at + needle.size() <= end;
                 at = font.indexOf(needle, at + needle.size())) {
                font.replace(at, needle.size(), replacement);
            }
        }
        return true;
    }
    return false;
}

} // namespace

QStringList makeDistinctFonts(const QString& folder, int count)
{
    const QDir typefaces(QStringLiteral(KERNWELL_SOURCE_DIR "/resources/typefaces"));
    QList<QByteArray> sources;
    for (const QString& name : typefaces.entryList({ QStringLiteral("*.ttf") }, QDir::Files, QDir::Name)) {
        QFile file(typefaces.filePath(name));
        if (file.open(QIODevice::ReadOnly)) {
            sources.append(file.readAll());
        }
    }
    if (sources.isEmpty()) {
        qFatal("no typefaces in %s", qPrintable(typefaces.path()));
    }
    QDir().mkpath(folder);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        QByteArray font = sources.at(i % sources.size());
        // "Liberation" has ten letters: "Kw" and eight digits.
        if (!renameFamily(font, QByteArrayLiteral("Kw") + QByteArray::number(i / sources.size()).rightJustified(8, '0'))) {
            qFatal("no name table in a typeface");
        }
        const QString name = QStringLiteral("bench-%1.ttf").arg(i, 5, 10, QLatin1Char('0'));
        QFile target(folder + QLatin1Char('/') + name);
        if (!target.open(QIODevice::WriteOnly) || target.write(font) != font.size()) {
            qFatal("cannot write %s", qPrintable(target.fileName()));
        }
        names.append(name);
    }
    return names;
}

FolderState folderState(const QString& folder)
{
    FolderState state;
    DIR* directory = ::opendir(QFile::encodeName(folder).constData());
    if (!directory) {
        return state;
    }
    state.cachesFresh = FcDirCacheValid(reinterpret_cast<const FcChar8*>(QFile::encodeName(folder).constData())) == FcTrue;
    while (const dirent* entry = ::readdir(directory)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        if (entry->d_type == DT_DIR) {
            const FolderState inner = folderState(folder + QLatin1Char('/') + QFile::decodeName(name));
            state.files += inner.files;
            state.cachesFresh = state.cachesFresh && inner.cachesFresh;
        } else {
            ++state.files;
        }
    }
    ::closedir(directory);
    return state;
}

int fcCacheWithoutSleep(const QString& folder)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KERNWELL_NO_SLEEP_LIBRARY));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("fc-cache"), { folder });
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

qint64 endedChildrenCpuMs()
{
    rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& time) { return qint64 { time.tv_sec } * 1000 + time.tv_usec / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

qint64 stolenMs()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    // "cpu  user nice system idle iowait irq softirq steal …", in clock ticks.
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    return fields.value(8).toLongLong() * 1000 / ::sysconf(_SC_CLK_TCK);
}

int listedByFcList(const QString& folder)
{
    QProcess process;
    process.start(QStringLiteral("fc-list"), { QStringLiteral("--format"), QStringLiteral("%{file}\\n") });
    process.waitForFinished(600000);
    const QByteArray prefix = QFile::encodeName(folder) + '/';
    int count = 0;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        count += line.startsWith(prefix) ? 1 : 0;
    }
    return count;
}

} // namespace kernwell::bench
