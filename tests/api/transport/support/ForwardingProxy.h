#pragma once

#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace kernwell::test {

// An HTTP proxy on 127.0.0.1, port 0: forwards absolute-form requests and CONNECT
// tunnels, or answers every request with 407. A client connection gets one upstream,
// chosen by its first request; then bytes pass both ways unread, so in forward mode
// only a connection's first request line is recorded.
class ForwardingProxy : public QObject {
    Q_OBJECT
public:
    enum class Mode { forward, refuseWith407 };
    explicit ForwardingProxy(Mode mode = Mode::forward);
    QUrl url() const;
    QList<QByteArray> requestLines() const { return m_requestLines; }
    QList<QByteArray> authorizations() const { return m_authorizations; }

private:
    void readFrom(QTcpSocket* client);
    void open(QTcpSocket* client, const QByteArray& requestLine, QByteArray bytes);

    Mode m_mode;
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending; // from clients, not yet passed on
    QHash<QTcpSocket*, QPointer<QTcpSocket>> m_upstreams;
    QList<QByteArray> m_requestLines;
    QList<QByteArray> m_authorizations;
};

} // namespace kernwell::test
