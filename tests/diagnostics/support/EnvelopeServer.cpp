#include "EnvelopeServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>

namespace kernwell::test {

namespace {
std::optional<QJsonObject> object(const QByteArray& line)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}
} // namespace

EnvelopeServer::EnvelopeServer()
    : m_port(listen(QHostAddress::LocalHost, 0))
{
}

QString EnvelopeServer::dsn(const QString& pathPrefix) const
{
    return QStringLiteral("http://publickey@127.0.0.1:%1%2%3").arg(m_port).arg(pathPrefix, QStringLiteral("42"));
}

QList<QJsonObject> EnvelopeServer::events() const
{
    QList<QJsonObject> result;
    for (const ReceivedEnvelope& envelope : m_received) {
        result.append(envelope.event);
    }
    return result;
}

ReceivedEnvelope EnvelopeServer::parse(const QByteArray& body)
{
    ReceivedEnvelope envelope;
    envelope.body = body;
    const qsizetype first = body.indexOf('\n');
    const qsizetype second = first < 0 ? -1 : body.indexOf('\n', first + 1);
    if (second < 0) {
        return envelope;
    }
    const auto header = object(body.left(first));
    const auto itemHeader = object(body.mid(first + 1, second - first - 1));
    if (!header || !itemHeader) {
        return envelope;
    }
    const QByteArray payload = body.mid(second + 1, itemHeader->value(QStringLiteral("length")).toInt());
    const auto event = object(payload);
    envelope.header = *header;
    envelope.itemHeader = *itemHeader;
    envelope.event = event.value_or(QJsonObject());
    envelope.wellFormed = event.has_value() && payload.size() == itemHeader->value(QStringLiteral("length")).toInt()
        && body.mid(second + 1 + payload.size()).trimmed().isEmpty();
    return envelope;
}

bool EnvelopeServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    ReceivedEnvelope envelope = parse(request.body());
    envelope.path = request.url().path();
    envelope.received = QDateTime::currentDateTimeUtc();
    for (const auto& [name, value] : request.headers()) {
        if (name.compare("X-Sentry-Auth", Qt::CaseInsensitive) == 0) {
            envelope.auth = value;
        } else if (name.compare("Content-Type", Qt::CaseInsensitive) == 0) {
            envelope.contentType = value;
        }
    }
    m_received.append(envelope);

    Answer answer;
    if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    }
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(answer.status));
    for (const auto& [name, value] : answer.headers) {
        responder.writeHeader(name, value);
    }
    responder.writeHeader(QByteArrayLiteral("Content-Length"), QByteArrayLiteral("2"));
    responder.writeBody(QByteArrayLiteral("{}"));
    return true;
}

void EnvelopeServer::missingHandler(const QHttpServerRequest&, QTcpSocket*) { }

} // namespace kernwell::test
