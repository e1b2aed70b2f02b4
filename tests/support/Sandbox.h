#pragma once

#include <QString>
#include <QTemporaryDir>

namespace kernwell::test {

// Gives the process a private HOME and XDG dirs, so no test touches the real
// user's files, fonts or configuration. Create it before the application object.
class Sandbox {
public:
    Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    QString root() const { return m_root.path(); }
    QString home() const;
    QString dataHome() const; // XDG_DATA_HOME
    QString configHome() const; // XDG_CONFIG_HOME
    QString cacheHome() const; // XDG_CACHE_HOME
    QString runtimeDir() const; // XDG_RUNTIME_DIR

private:
    QTemporaryDir m_root;
};

} // namespace kernwell::test
