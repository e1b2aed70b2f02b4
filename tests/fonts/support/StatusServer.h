#pragma once

#include <QAbstractHttpServer>
#include <QUrl>

namespace kernwell::test {

// A local HTTP server on a free port: GET /status/N answers status N with
// the body "body N"; /empty answers 200 with no body; /redirect/N answers
// 302 to /status/N.
class StatusServer : public QAbstractHttpServer {
public:
    StatusServer();
    QUrl url(const QString& path) const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    quint16 m_port;
};

} // namespace kernwell::test
