#include "TestCertificates.h"

#include <QtGlobal>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace kernwell::test {

namespace {

    struct KeyFree {
        void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    };
    struct CertificateFree {
        void operator()(X509* certificate) const { X509_free(certificate); }
    };
    struct BioFree {
        void operator()(BIO* bio) const { BIO_free(bio); }
    };
    using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
    using Certificate = std::unique_ptr<X509, CertificateFree>;

    void check(bool ok, const char* what)
    {
        if (!ok) {
            qFatal("TestCertificates: %s failed", what);
        }
    }

    Key newKey()
    {
        Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
        check(key != nullptr, "key generation");
        return key;
    }

    void addExtension(X509* certificate, X509* issuer, int nid, const char* value)
    {
        X509V3_CTX context;
        X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        check(extension != nullptr, "extension");
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }

    // Signed by `issuer` with `issuerKey`, or by itself when `issuer` is null.
    Certificate newCertificate(EVP_PKEY* key, const char* commonName, long serial, X509* issuer, EVP_PKEY* issuerKey)
    {
        Certificate certificate(X509_new());
        X509* raw = certificate.get();
        X509_set_version(raw, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(raw), serial);
        X509_gmtime_adj(X509_getm_notBefore(raw), -3600);
        X509_gmtime_adj(X509_getm_notAfter(raw), 24 * 3600);
        X509_set_pubkey(raw, key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(raw), "CN", MBSTRING_ASC,
            reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
        X509* signer = issuer ? issuer : raw;
        X509_set_issuer_name(raw, X509_get_subject_name(signer));
        if (issuer) {
            addExtension(raw, signer, NID_basic_constraints, "critical,CA:FALSE");
            addExtension(raw, signer, NID_subject_alt_name, "DNS:localhost");
            addExtension(raw, signer, NID_ext_key_usage, "serverAuth");
        } else {
            addExtension(raw, signer, NID_basic_constraints, "critical,CA:TRUE");
            addExtension(raw, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
            addExtension(raw, signer, NID_subject_key_identifier, "hash");
        }
        check(X509_sign(raw, issuer ? issuerKey : key, EVP_sha256()) > 0, "signing");
        return certificate;
    }

    std::unique_ptr<BIO, BioFree> openForWriting(const QString& path)
    {
        std::unique_ptr<BIO, BioFree> bio(BIO_new_file(path.toLocal8Bit().constData(), "w"));
        check(bio != nullptr, "opening a PEM file");
        return bio;
    }

} // namespace

TestCertificates::TestCertificates(const QString& directory)
    : m_directory(directory)
{
    const Key caKey = newKey();
    const Certificate ca = newCertificate(caKey.get(), "Kernwell Test CA", 1, nullptr, nullptr);
    const Key serverKey = newKey();
    const Certificate server = newCertificate(serverKey.get(), "localhost", 2, ca.get(), caKey.get());

    check(PEM_write_bio_X509(openForWriting(caFile()).get(), ca.get()) == 1, "writing the CA");
    check(PEM_write_bio_X509(openForWriting(serverCertificateFile()).get(), server.get()) == 1, "writing the certificate");
    check(PEM_write_bio_PrivateKey(openForWriting(serverKeyFile()).get(), serverKey.get(), nullptr, nullptr, 0, nullptr,
              nullptr)
            == 1,
        "writing the key");
}

} // namespace kernwell::test
