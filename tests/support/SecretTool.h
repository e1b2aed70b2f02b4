#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace kernwell::test {

// The keyring seen from outside the program, through `secret-tool`.
// Attributes are given as name, value, name, value, ...
class SecretTool {
public:
    static bool available();
    static bool store(const QStringList& attributes, const QByteArray& secret);
    // The secret's bytes exactly, or nothing when no item matches.
    static std::optional<QByteArray> lookup(const QStringList& attributes);
    // How many items match.
    static int count(const QStringList& attributes);
    static void clear(const QStringList& attributes);

private:
    static std::optional<QByteArray> run(const QStringList& arguments, const QByteArray& input = {});
};

} // namespace kernwell::test
