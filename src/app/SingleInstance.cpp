#include "app/SingleInstance.h"

#include "app/ApplicationAdaptor.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace kernwell {

SingleInstance::SingleInstance(QString bundleIdentifier, QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_identifier(std::move(bundleIdentifier))
    , m_bus(std::move(bus))
{
    auto* adaptor = new ApplicationAdaptor(&m_exported);
    connect(adaptor, &ApplicationAdaptor::activateRequested, this, &SingleInstance::activateRequested);
    connect(adaptor, &ApplicationAdaptor::openRequested, this, &SingleInstance::openRequested);
    connect(adaptor, &ApplicationAdaptor::showFontsRequested, this, &SingleInstance::showFontsRequested);
    connect(adaptor, &ApplicationAdaptor::signOutRequested, this, &SingleInstance::signOutRequested);
    connect(adaptor, &ApplicationAdaptor::quitRequested, this, &SingleInstance::quitRequested);
}

SingleInstance::~SingleInstance()
{
    if (m_registered) {
        m_bus.unregisterObject(objectPath(m_identifier));
        m_bus.unregisterService(m_identifier);
    }
}

QString SingleInstance::objectPath(const QString& bundleIdentifier)
{
    QString path = QLatin1Char('/') + bundleIdentifier;
    path.replace(QLatin1Char('.'), QLatin1Char('/'));
    path.replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

SingleInstance::Role SingleInstance::claim()
{
    if (!m_bus.isConnected() || !m_bus.interface()) {
        return Role::Standalone;
    }
    // The object is in place before the name is, so a forwarded call never
    // meets a name without its interface.
    if (!m_bus.registerObject(objectPath(m_identifier), &m_exported, QDBusConnection::ExportAdaptors)) {
        return Role::Standalone;
    }
    const auto reply = m_bus.interface()->registerService(
        m_identifier, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_registered = true;
        return Role::Primary;
    }
    m_bus.unregisterObject(objectPath(m_identifier));
    return reply.isValid() ? Role::Secondary : Role::Standalone;
}

QString SingleInstance::forward(const QStringList& urls, std::chrono::milliseconds timeout) const
{
    const QString interface = QStringLiteral("org.freedesktop.Application");
    QDBusMessage message = QDBusMessage::createMethodCall(
        m_identifier, objectPath(m_identifier), interface, urls.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("Open"));
    if (urls.isEmpty()) {
        message << QVariantMap();
    } else {
        message << urls << QVariantMap();
    }
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, static_cast<int>(timeout.count()));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    }
    return QString();
}

} // namespace kernwell
