#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace kernwell {

// The one error value of the program: what failed (domain, code) and what to
// tell a person about it. Thrown where an operation throws, passed by value
// where a failure is a result, and what the logger reports.
class Error : public std::exception {
public:
    Error() = default;
    Error(QString domain, int code, QString description);

    const QString& domain() const { return m_domain; }
    int code() const { return m_code; }
    // The user-facing description ("localizedDescription").
    const QString& description() const { return m_description; }

    const char* what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const Error& a, const Error& b)
    {
        return a.m_domain == b.m_domain && a.m_code == b.m_code && a.m_description == b.m_description;
    }

private:
    QString m_domain;
    int m_code = 0;
    QString m_description;
    QByteArray m_what;
};

} // namespace kernwell
