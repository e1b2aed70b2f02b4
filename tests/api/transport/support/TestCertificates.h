#pragma once

#include <QString>

namespace kernwell::test {

// A throwaway certificate authority and a server certificate it signed for
// the DNS name "localhost" only, valid for a day, written as PEM files into
// `directory`. Point SSL_CERT_FILE at caFile() to make the system trust it.
class TestCertificates {
public:
    explicit TestCertificates(const QString& directory);

    QString caFile() const { return m_directory + QStringLiteral("/ca.pem"); }
    QString serverCertificateFile() const { return m_directory + QStringLiteral("/server.pem"); }
    QString serverKeyFile() const { return m_directory + QStringLiteral("/server-key.pem"); }

private:
    QString m_directory;
};

} // namespace kernwell::test
