#include "SecretTool.h"

#include <QProcess>
#include <QStandardPaths>

namespace kernwell::test {

bool SecretTool::available() { return !QStandardPaths::findExecutable(QStringLiteral("secret-tool")).isEmpty(); }

std::optional<QByteArray> SecretTool::run(const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    process.start(QStringLiteral("secret-tool"), arguments);
    if (!process.waitForStarted(10000)) {
        return std::nullopt;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

bool SecretTool::store(const QStringList& attributes, const QByteArray& secret)
{
    return run(QStringList { QStringLiteral("store"), QStringLiteral("--label=kernwell test") } + attributes, secret).has_value();
}

std::optional<QByteArray> SecretTool::lookup(const QStringList& attributes)
{
    return run(QStringList { QStringLiteral("lookup") } + attributes);
}

int SecretTool::count(const QStringList& attributes)
{
    const auto output = run(QStringList { QStringLiteral("search"), QStringLiteral("--all") } + attributes);
    if (!output) {
        return -1;
    }
    int items = 0;
    for (const QByteArray& line : output->split('\n')) {
        items += line.startsWith("[/") ? 1 : 0;
    }
    return items;
}

void SecretTool::clear(const QStringList& attributes) { run(QStringList { QStringLiteral("clear") } + attributes); }

} // namespace kernwell::test
