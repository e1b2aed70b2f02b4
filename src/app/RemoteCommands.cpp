#include "app/RemoteCommands.h"

#include "app/FontsOnComputer.h"
#include "app/SessionStateExporter.h"
#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QThread>

#include <utility>

namespace kernwell {

namespace {

    QString describeState(const QString& state)
    {
        if (state == QLatin1String("SignedOut")) {
            return QCoreApplication::translate("RemoteCommands", "signed out");
        }
        if (state == QLatin1String("ProcessingUpdate")) {
            return QCoreApplication::translate("RemoteCommands", "updating fonts");
        }
        if (state == QLatin1String("TransientError")) {
            return QCoreApplication::translate("RemoteCommands", "interrupted");
        }
        return QCoreApplication::translate("RemoteCommands", "connected");
    }

    QString size(qint64 bytes) { return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat); }

} // namespace

RemoteCommands::RemoteCommands(QString bundleIdentifier, QDBusConnection bus, SyncedFontReader offline, QTextStream& out,
    QTextStream& err, std::chrono::milliseconds patience)
    : m_identifier(std::move(bundleIdentifier))
    , m_path(SingleInstance::objectPath(m_identifier))
    , m_bus(std::move(bus))
    , m_offline(std::move(offline))
    , m_out(out)
    , m_err(err)
    , m_patience(patience)
{
}

int RemoteCommands::run(Command command)
{
    switch (command) {
    case Command::Status:
        return status();
    case Command::List:
        return list(false);
    case Command::ListJson:
        return list(true);
    case Command::SignOut:
        return signOut();
    case Command::Quit:
        return quit();
    }
    return failed;
}

bool RemoteCommands::isRunning() const
{
    return m_bus.isConnected() && m_bus.interface() && m_bus.interface()->isServiceRegistered(m_identifier).value();
}

int RemoteCommands::tellNotRunning()
{
    m_err << QCoreApplication::translate("RemoteCommands", "Kernwell is not running.") << Qt::endl;
    return notRunning;
}

std::optional<QVariantMap> RemoteCommands::sessionProperties()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_identifier, m_path + QStringLiteral("/Session"), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    call << QString::fromLatin1(SessionStateExporter::interfaceName);
    const QDBusReply<QVariantMap> reply = m_bus.call(call);
    if (!reply.isValid()) {
        m_err << QCoreApplication::translate("RemoteCommands", "kernwell: Kernwell did not answer: %1").arg(reply.error().message()) << Qt::endl;
        return std::nullopt;
    }
    return reply.value();
}

std::optional<QList<SyncedFont>> RemoteCommands::remoteFonts()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        m_identifier, m_path + QStringLiteral("/Fonts"), QString::fromLatin1(FontsOnComputer::interfaceName), QStringLiteral("List"));
    const QDBusMessage reply = m_bus.call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        m_err << QCoreApplication::translate("RemoteCommands", "kernwell: Kernwell did not answer: %1").arg(reply.errorMessage()) << Qt::endl;
        return std::nullopt;
    }
    QList<SyncedFont> fonts;
    const QVariantList entries = qdbus_cast<QVariantList>(reply.arguments().constFirst());
    for (const QVariant& entry : entries) {
        const QVariant inner
            = entry.userType() == qMetaTypeId<QDBusVariant>() ? entry.value<QDBusVariant>().variant() : entry;
        const QStringList fields = qdbus_cast<QStringList>(inner);
        if (fields.size() != FontsOnComputer::listFields().size()) {
            m_err << QCoreApplication::translate("RemoteCommands", "kernwell: Kernwell answered with a list this version cannot read.") << Qt::endl;
            return std::nullopt;
        }
        SyncedFont font;
        font.family = fields.at(0);
        font.style = fields.at(1);
        font.fontId = fields.at(2);
        font.path = fields.at(3);
        font.size = fields.at(4).toLongLong();
        fonts.append(font);
    }
    return fonts;
}

int RemoteCommands::status()
{
    if (!isRunning()) {
        return tellNotRunning();
    }
    const std::optional<QVariantMap> session = sessionProperties();
    const std::optional<QList<SyncedFont>> fonts = remoteFonts();
    if (!session || !fonts) {
        return failed;
    }
    const QString username = session->value(QStringLiteral("Username")).toString();
    m_out << (session->value(QStringLiteral("SignedIn")).toBool() ? QCoreApplication::translate("RemoteCommands", "Signed in as %1").arg(username) : QCoreApplication::translate("RemoteCommands", "Signed out"))
          << Qt::endl;
    m_out << QCoreApplication::translate("RemoteCommands", "Connection: %1").arg(describeState(session->value(QStringLiteral("ConnectionState")).toString())) << Qt::endl;
    const QStringList error = session->value(QStringLiteral("VisibleError")).toStringList();
    if (!error.isEmpty()) {
        m_out << QCoreApplication::translate("RemoteCommands", "Error: %1").arg(error.join(QLatin1Char(' ')).trimmed()) << Qt::endl;
    }
    qint64 bytes = 0;
    for (const SyncedFont& font : *fonts) {
        bytes += font.size;
    }
    m_out << QCoreApplication::translate("RemoteCommands", "Fonts: %1 (%2)").arg(fonts->size()).arg(size(bytes)) << Qt::endl;
    const QStringList notifications = session->value(QStringLiteral("Notifications")).toStringList();
    if (!notifications.isEmpty()) {
        m_out << QCoreApplication::translate("RemoteCommands", "Latest notification: %1").arg(notifications.constFirst()) << Qt::endl;
    }
    return 0;
}

int RemoteCommands::list(bool json)
{
    std::optional<QList<SyncedFont>> fonts = isRunning() ? remoteFonts() : m_offline.read();
    if (!fonts) {
        return failed;
    }
    if (json) {
        QJsonArray entries;
        for (const SyncedFont& font : std::as_const(*fonts)) {
            entries.append(QJsonObject { { QStringLiteral("family"), font.family }, { QStringLiteral("style"), font.style },
                { QStringLiteral("fontId"), font.fontId }, { QStringLiteral("file"), font.path },
                { QStringLiteral("size"), font.size } });
        }
        m_out << QString::fromUtf8(QJsonDocument(entries).toJson(QJsonDocument::Indented));
        m_out.flush();
        return 0;
    }
    for (const SyncedFont& font : std::as_const(*fonts)) {
        m_out << QStringList { font.family, font.style, font.fontId, font.path }.join(QLatin1Char('\t')) << Qt::endl;
    }
    return 0;
}

bool RemoteCommands::activateAction(const QString& action)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_identifier, m_path, QStringLiteral("org.freedesktop.Application"), QStringLiteral("ActivateAction"));
    call << action << QVariantList() << QVariantMap();
    const QDBusMessage reply = m_bus.call(call);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_err << QCoreApplication::translate("RemoteCommands", "kernwell: Kernwell did not answer: %1").arg(reply.errorMessage()) << Qt::endl;
        return false;
    }
    return true;
}

bool RemoteCommands::waitFor(const std::function<bool()>& done) const
{
    const QDeadlineTimer deadline(m_patience);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(100);
    }
    return true;
}

int RemoteCommands::signOut()
{
    if (!isRunning()) {
        return tellNotRunning();
    }
    const std::optional<QVariantMap> session = sessionProperties();
    if (!session) {
        return failed;
    }
    if (!session->value(QStringLiteral("SignedIn")).toBool()) {
        m_out << QCoreApplication::translate("RemoteCommands", "Not signed in.") << Qt::endl;
        return 0;
    }
    if (!activateAction(QStringLiteral("sign-out"))) {
        return failed;
    }
    // Done once the account's fonts are withdrawn and the window says so.
    if (!waitFor([this] {
            const std::optional<QVariantMap> now = sessionProperties();
            return now && !now->value(QStringLiteral("SignedIn")).toBool();
        })) {
        m_err << QCoreApplication::translate("RemoteCommands", "kernwell: the sign-out has not finished yet.") << Qt::endl;
        return failed;
    }
    m_out << QCoreApplication::translate("RemoteCommands", "Signed out.") << Qt::endl;
    return 0;
}

int RemoteCommands::quit()
{
    if (!isRunning()) {
        return tellNotRunning();
    }
    if (!activateAction(QStringLiteral("quit"))) {
        return failed;
    }
    // Kernwell gives its name up last, once its fonts are withdrawn.
    if (!waitFor([this] { return !isRunning(); })) {
        m_err << QCoreApplication::translate("RemoteCommands", "kernwell: Kernwell has not quit yet.") << Qt::endl;
        return failed;
    }
    return 0;
}

} // namespace kernwell
