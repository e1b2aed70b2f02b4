#pragma once

#include "api/UrlSession.h"

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

namespace kernwell::test {

// A bare HTTP/1.1 server on 127.0.0.1, port 0, whose answers the test writes
// byte for byte (or withholds): the way to send odd header spellings,
// partial bodies, stalls and drops. Records every request it parsed.
class RawHttpServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray target;
        HeaderFields headerFields; // as received
        QByteArray body;

        bool hasField(const QByteArray& name) const;
    };
    using Responder = std::function<void(QTcpSocket& socket, const Request& request)>;

    explicit RawHttpServer(Responder responder);

    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;
    const QList<Request>& requests() const { return m_requests; }

    // A complete answer with a Content-Length and the given extra fields.
    static QByteArray answer(int status, const QByteArray& reason, const HeaderFields& fields, const QByteArray& body);

private:
    void readFrom(QTcpSocket* socket);

    Responder m_responder;
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
    QList<Request> m_requests;
};

} // namespace kernwell::test
