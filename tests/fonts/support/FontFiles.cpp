#include "FontFiles.h"

#include "TestFonts.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace kernwell::test {

QByteArray FontFiles::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("FontFiles: cannot read %s", qPrintable(path));
    }
    return file.readAll();
}

QByteArray FontFiles::truncatedFont()
{
    const QByteArray whole = read(TestFonts::path());
    return whole.left(whole.size() / 2);
}

QByteArray FontFiles::htmlPage()
{
    return "<!DOCTYPE html>\n<html><head><title>Sign in</title></head><body>Please sign in.</body></html>\n";
}

void FontFiles::write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("FontFiles: cannot write %s", qPrintable(path));
    }
}

QStringList FontFiles::fcList(const QString& directory)
{
    QProcess process;
    process.start(QStringLiteral("fc-list"), { QStringLiteral("--format"), QStringLiteral("%{family[0]}|%{file}\\n") });
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qFatal("FontFiles: fc-list failed: %s", process.readAllStandardError().constData());
    }
    QStringList found;
    const QString prefix = QStringLiteral("|") + directory + QLatin1Char('/');
    for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.contains(prefix)) {
            found.append(line);
        }
    }
    found.sort();
    return found;
}

QStringList FontFiles::fcListFiles(const QString& directory)
{
    QStringList files;
    for (const QString& line : fcList(directory)) {
        files.append(line.section(QLatin1Char('|'), 1));
    }
    files.removeDuplicates();
    return files;
}

QStringList FontFiles::entries(const QString& directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace kernwell::test
