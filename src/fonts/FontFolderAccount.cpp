#include "fonts/FontFolderAccount.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace kernwell {

namespace {

    const QString accountKey = QStringLiteral("account");
    // Far more than an e-mail address needs; anything longer is not ours.
    constexpr qint64 largestRecord = 64 * 1024;

} // namespace

std::optional<QString> FontFolderAccount::read(const QString& fontFolder)
{
    QFile record(recordPath(fontFolder));
    if (!record.open(QIODevice::ReadOnly) || record.size() > largestRecord) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(record.readAll());
    const QJsonValue account = document.object().value(accountKey);
    if (!account.isString() || account.toString().isEmpty()) {
        return std::nullopt;
    }
    return account.toString();
}

std::optional<Error> FontFolderAccount::write(const QString& fontFolder, const QString& account)
{
    QSaveFile record(recordPath(fontFolder));
    const QByteArray bytes = QJsonDocument(QJsonObject { { accountKey, account } }).toJson(QJsonDocument::Compact);
    if (record.open(QIODevice::WriteOnly) && record.write(bytes) == bytes.size() && record.commit()) {
        return std::nullopt;
    }
    return Error(QLatin1String(errorDomain), 1,
        QStringLiteral("Could not record the account of the font folder in “%1”: %2.")
            .arg(record.fileName(), record.errorString()));
}

} // namespace kernwell
