#include "Sandbox.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

namespace kernwell::test {

namespace {
void setPath(const char* variable, const QString& path)
{
    QDir().mkpath(path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv(variable, QFile::encodeName(path));
}
} // namespace

Sandbox::Sandbox()
    : m_root(QDir::tempPath() + QStringLiteral("/kernwell-test-XXXXXX"))
{
    if (!m_root.isValid()) {
        qFatal("Sandbox: cannot create a temporary directory: %s", qPrintable(m_root.errorString()));
    }
    setPath("HOME", home());
    setPath("XDG_DATA_HOME", dataHome());
    setPath("XDG_CONFIG_HOME", configHome());
    setPath("XDG_CACHE_HOME", cacheHome());
    setPath("XDG_RUNTIME_DIR", runtimeDir());
}

QString Sandbox::home() const { return root() + QStringLiteral("/home"); }
QString Sandbox::dataHome() const { return root() + QStringLiteral("/home/.local/share"); }
QString Sandbox::configHome() const { return root() + QStringLiteral("/home/.config"); }
QString Sandbox::cacheHome() const { return root() + QStringLiteral("/home/.cache"); }
QString Sandbox::runtimeDir() const { return root() + QStringLiteral("/runtime"); }

} // namespace kernwell::test
