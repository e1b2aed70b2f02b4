#include "api/MacOSTokenStorage.h"

#include "api/keyring/KeyringStatus.h"
#include "api/keyring/SecretServiceKeyring.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace kernwell {

namespace {
// The text only when every byte is well-formed UTF-8; a leading byte-order
// mark is part of the text, not dropped.
std::optional<QString> strictUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

// Fails on text that has no UTF-8 form (an unpaired surrogate).
std::optional<QByteArray> strictUtf8(const QString& text)
{
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError()) {
        return std::nullopt;
    }
    return bytes;
}
} // namespace

MacOSTokenStorage::MacOSTokenStorage(std::shared_ptr<QorLogger> logger)
    : MacOSTokenStorage(std::move(logger), std::make_shared<SecretServiceKeyring>())
{
}

MacOSTokenStorage::MacOSTokenStorage(std::shared_ptr<QorLogger> logger, std::shared_ptr<Keyring> keyring)
    : m_logger(std::move(logger))
    , m_keyring(std::move(keyring))
{
}

std::optional<StoredCredentials> MacOSTokenStorage::loadCredentials(const QString& service)
{
    return readCredentials(service).credentials;
}

CredentialsRead MacOSTokenStorage::readCredentials(const QString& service)
{
    const Keyring::Found found = m_keyring->findOne(service);
    if (found.status == KeyringStatus::itemNotFound) {
        return {};
    }
    if (found.status != KeyringStatus::success) {
        report(found.status, QStringLiteral("Keychain access returned an unexpected status "));
        return { std::nullopt, found.status == KeyringStatus::locked };
    }
    const std::optional<QString> secret = found.item && found.item->data ? strictUtf8(*found.item->data) : std::nullopt;
    if (!secret || !found.item->account) {
        m_logger->logMessage(QStringLiteral("Keychain returned unexpected token data."));
        return {};
    }
    return { StoredCredentials { *found.item->account, *secret }, false };
}

void MacOSTokenStorage::saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service)
{
    if (!secret) {
        const int status = m_keyring->remove(service, account);
        if (status != KeyringStatus::success) {
            report(status, QStringLiteral("Keychain delete returned an unexpected status "));
        }
        return;
    }
    const std::optional<QByteArray> data = strictUtf8(*secret);
    if (!data) {
        m_logger->logMessage(QStringLiteral("Bad token value going into keychain."));
        return;
    }
    const int status = m_keyring->add(service, account, *data);
    if (status == KeyringStatus::duplicateItem) {
        const int updated = m_keyring->update(service, account, *data);
        if (updated != KeyringStatus::success) {
            report(updated, QStringLiteral("Keychain update returned an unexpected status "));
        }
    } else if (status != KeyringStatus::success) {
        report(status, QStringLiteral("Keychain add returned an unexpected status "));
    }
}

void MacOSTokenStorage::report(int status, const QString& lead)
{
    m_logger->logMessage(KeyringStatus::text(status).value_or(lead + QString::number(status)));
}

} // namespace kernwell
