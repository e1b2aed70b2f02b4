#include "StatusServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>

namespace kernwell::test {

StatusServer::StatusServer()
    : m_port(listen(QHostAddress::LocalHost, 0))
{
}

QUrl StatusServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
}

bool StatusServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QString path = request.url().path();
    const QString last = path.section(QLatin1Char('/'), -1);
    QHttpServerResponder responder = makeResponder(request, socket);
    if (path == QLatin1String("/empty")) {
        responder.write(QByteArray(), QByteArrayLiteral("application/octet-stream"));
    } else if (path.startsWith(QLatin1String("/redirect/"))) {
        responder.write({ { QByteArrayLiteral("Location"), QStringLiteral("/status/%1").arg(last).toUtf8() } },
            QHttpServerResponder::StatusCode::Found);
    } else {
        responder.write("body " + last.toUtf8(), QByteArrayLiteral("application/octet-stream"),
            static_cast<QHttpServerResponder::StatusCode>(last.toInt()));
    }
    return true;
}

void StatusServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

} // namespace kernwell::test
