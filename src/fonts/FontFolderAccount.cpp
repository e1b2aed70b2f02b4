#include "fonts/FontFolderAccount.h"

#include "fonts/PosixError.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>

#include <fcntl.h>

#include <cerrno>

namespace kernwell {

namespace {

    const QString accountKey = QStringLiteral("account");
    // Far more than an e-mail address needs; anything longer is not ours.
    constexpr qint64 largestRecord = 64 * 1024;

    Error unreadableRecord(const QString& path, const QString& why)
    {
        return Error(QLatin1String(FontFolderAccount::errorDomain), FontFolderAccount::unreadable,
            QStringLiteral("The account record of the font folder “%1” %2.").arg(path, why));
    }

} // namespace

std::optional<QString> FontFolderAccount::read(const QString& fontFolder)
{
    const QString path = recordPath(fontFolder);
    // open(2) itself, for its errno: only a record that is not there is no record.
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        const int failure = errno;
        if (failure == ENOENT) {
            return std::nullopt;
        }
        throw PosixError::make(failure, QStringLiteral("Could not open the account record of the font folder “%1”").arg(path));
    }
    QFile record;
    record.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray bytes = record.read(largestRecord + 1);
    if (record.error() != QFileDevice::NoError) {
        throw unreadableRecord(path, QStringLiteral("could not be read: ") + record.errorString());
    }
    if (bytes.size() > largestRecord) {
        throw unreadableRecord(path, QStringLiteral("is larger than %1 bytes").arg(largestRecord));
    }
    QJsonParseError parsing;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parsing);
    if (parsing.error != QJsonParseError::NoError) {
        throw unreadableRecord(path, QStringLiteral("is not JSON: ") + parsing.errorString());
    }
    const QJsonValue account = document.object().value(accountKey);
    if (!account.isString() || account.toString().isEmpty()) {
        throw unreadableRecord(path, QStringLiteral("names no account"));
    }
    return account.toString();
}

std::optional<Error> FontFolderAccount::write(const QString& fontFolder, const QString& account)
{
    QSaveFile record(recordPath(fontFolder));
    const auto failure = [&record](const QString& why) {
        return Error(QLatin1String(errorDomain), notRecorded,
            QStringLiteral("Could not record the account of the font folder in “%1”: %2.").arg(record.fileName(), why));
    };
    if (account.isEmpty()) {
        return failure(QStringLiteral("the account is empty"));
    }
    const QByteArray bytes = QJsonDocument(QJsonObject { { accountKey, account } }).toJson(QJsonDocument::Compact);
    if (record.open(QIODevice::WriteOnly) && record.write(bytes) == bytes.size() && record.commit()) {
        return std::nullopt;
    }
    return failure(record.errorString());
}

} // namespace kernwell
