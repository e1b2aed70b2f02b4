#include "RawHttpServer.h"

namespace kernwell::test {

bool RawHttpServer::Request::hasField(const QByteArray& name) const
{
    for (const auto& field : headerFields) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

RawHttpServer::RawHttpServer(Responder responder)
    : m_responder(std::move(responder))
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_pending.remove(socket);
                socket->deleteLater();
            });
        }
    });
    if (!m_server.listen(QHostAddress::LocalHost, 0)) {
        qFatal("RawHttpServer: cannot listen");
    }
}

QUrl RawHttpServer::url(const QString& pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(pathAndQuery));
}

QByteArray RawHttpServer::answer(int status, const QByteArray& reason, const HeaderFields& fields, const QByteArray& body)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const auto& [name, value] : fields) {
        bytes += name + ": " + value + "\r\n";
    }
    return bytes + "\r\n" + body;
}

void RawHttpServer::readFrom(QTcpSocket* socket)
{
    // Taken out while answering: a responder may close the socket.
    QByteArray buffer = m_pending.take(socket) + socket->readAll();
    while (socket->state() == QAbstractSocket::ConnectedState) {
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            m_pending.insert(socket, buffer);
            return;
        }
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        Request request;
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        qsizetype contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            QByteArray line = lines.at(i);
            line.chop(line.endsWith('\r') ? 1 : 0);
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.left(colon);
            // Only the separating blanks go: trailing ones are part of what was sent.
            QByteArray value = line.mid(colon + 1);
            while (value.startsWith(' ') || value.startsWith('\t')) {
                value.remove(0, 1);
            }
            request.headerFields.append({ name, value });
            if (name.compare("content-length", Qt::CaseInsensitive) == 0) {
                contentLength = value.toLongLong();
            }
        }
        if (buffer.size() < headEnd + 4 + contentLength) {
            m_pending.insert(socket, buffer);
            return;
        }
        request.body = buffer.mid(headEnd + 4, contentLength);
        buffer.remove(0, headEnd + 4 + contentLength);
        m_requests.append(request);
        m_responder(*socket, request);
    }
}

} // namespace kernwell::test
