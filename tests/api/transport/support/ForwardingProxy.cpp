#include "ForwardingProxy.h"

namespace kernwell::test {

ForwardingProxy::ForwardingProxy(Mode mode)
    : m_mode(mode)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* client = m_server.nextPendingConnection()) {
            client->setParent(this);
            connect(client, &QTcpSocket::readyRead, this, [this, client] { readFrom(client); });
            connect(client, &QTcpSocket::disconnected, this, [this, client] {
                m_pending.remove(client);
                if (QPointer<QTcpSocket> upstream = m_upstreams.take(client)) {
                    upstream->disconnectFromHost();
                }
                client->deleteLater();
            });
        }
    });
    if (!m_server.listen(QHostAddress::LocalHost, 0)) {
        qFatal("ForwardingProxy: cannot listen");
    }
}

QUrl ForwardingProxy::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

void ForwardingProxy::readFrom(QTcpSocket* client)
{
    if (m_upstreams.contains(client)) {
        // Held until the upstream connects: Qt would flush them into a refused one.
        m_pending[client] += client->readAll();
        if (QTcpSocket* upstream = m_upstreams.value(client); upstream && upstream->state() == QAbstractSocket::ConnectedState) {
            upstream->write(m_pending.take(client));
        }
        return;
    }
    QByteArray buffer = m_pending.take(client) + client->readAll();
    for (qsizetype headEnd; (headEnd = buffer.indexOf("\r\n\r\n")) >= 0;) {
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        qsizetype contentLength = 0;
        QList<QByteArray> authorizations;
        for (const QByteArray& line : lines.mid(1)) {
            const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
            const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
            if (name == "proxy-authorization") {
                authorizations.append(value);
            } else if (name == "content-length") {
                contentLength = value.toLongLong();
            }
        }
        // A refused request's body must not be read as the next head.
        if (m_mode == Mode::refuseWith407 && buffer.size() < headEnd + 4 + contentLength) {
            break;
        }
        m_requestLines.append(lines.first().trimmed());
        m_authorizations += authorizations;
        if (m_mode == Mode::forward) {
            open(client, lines.first().trimmed(), buffer);
            return;
        }
        buffer.remove(0, headEnd + 4 + contentLength);
        client->write("HTTP/1.1 407 Proxy Authentication Required\r\n"
                      "Proxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n\r\n");
    }
    m_pending.insert(client, buffer);
}

void ForwardingProxy::open(QTcpSocket* client, const QByteArray& requestLine, QByteArray bytes)
{
    const QList<QByteArray> parts = requestLine.split(' ');
    const bool tunnel = parts.value(0) == "CONNECT";
    const QUrl target = QUrl::fromEncoded(tunnel ? "//" + parts.value(1) : parts.value(1));
    if (tunnel) {
        // The head is for the proxy; whatever followed it goes through.
        bytes.remove(0, bytes.indexOf("\r\n\r\n") + 4);
    }
    auto* upstream = new QTcpSocket(this);
    m_upstreams.insert(client, upstream);
    m_pending.insert(client, bytes);
    const QPointer<QTcpSocket> peer(client);
    connect(upstream, &QTcpSocket::errorOccurred, this, [peer] {
        if (peer) {
            peer->write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
            peer->disconnectFromHost();
        }
    });
    connect(upstream, &QTcpSocket::connected, this, [this, peer, upstream, tunnel] {
        // From here on an error is a close, not a failed connection.
        disconnect(upstream, &QTcpSocket::errorOccurred, this, nullptr);
        if (peer && tunnel) {
            peer->write("HTTP/1.1 200 Connection established\r\n\r\n");
        }
        upstream->write(m_pending.take(peer.data()));
    });
    connect(upstream, &QTcpSocket::readyRead, this, [peer, upstream] {
        if (peer) {
            peer->write(upstream->readAll());
        }
    });
    connect(upstream, &QTcpSocket::disconnected, this, [peer, upstream] {
        if (peer) {
            peer->write(upstream->readAll());
            peer->disconnectFromHost();
        }
        upstream->deleteLater();
    });
    upstream->connectToHost(target.host(), static_cast<quint16>(target.port(80)));
}

} // namespace kernwell::test
