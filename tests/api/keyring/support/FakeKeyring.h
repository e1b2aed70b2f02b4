#pragma once

#include "api/keyring/Keyring.h"

#include <QStringList>

namespace kernwell::test {

// Answers with preset statuses and records each call as "operation service account data".
class FakeKeyring : public Keyring {
public:
    Found found { -25300, std::nullopt };
    int addStatus = 0;
    int updateStatus = 0;
    int removeStatus = 0;
    QStringList calls;

    Found findOne(const QString& service) override
    {
        calls.append(QStringLiteral("find ") + service);
        return found;
    }
    int add(const QString& service, const QString& account, const QByteArray& data) override
    {
        calls.append(QStringLiteral("add %1 %2 %3").arg(service, account, QString::fromLatin1(data.toHex())));
        return addStatus;
    }
    int update(const QString& service, const QString& account, const QByteArray& data) override
    {
        calls.append(QStringLiteral("update %1 %2 %3").arg(service, account, QString::fromLatin1(data.toHex())));
        return updateStatus;
    }
    int remove(const QString& service, const QString& account) override
    {
        calls.append(QStringLiteral("remove %1 %2").arg(service, account));
        return removeStatus;
    }
};

} // namespace kernwell::test
