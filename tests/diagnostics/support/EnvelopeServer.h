#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QString>

#include <deque>
#include <utility>

namespace kernwell::test {

// One envelope as the error-reporting service receives it.
struct ReceivedEnvelope {
    QString path;
    QByteArray auth; // X-Sentry-Auth
    QByteArray contentType;
    QByteArray body;
    QDateTime received;
    QJsonObject header; // first line
    QJsonObject itemHeader; // second line
    QJsonObject event; // the payload
    bool wellFormed = false; // three lines, valid JSON, length matches
};

// A local error-reporting endpoint on 127.0.0.1 and a free port. Answers
// every request with the next scripted answer, or 200 when none is left.
class EnvelopeServer : public QAbstractHttpServer {
public:
    struct Answer {
        int status = 200;
        QList<std::pair<QByteArray, QByteArray>> headers;
    };

    EnvelopeServer();

    quint16 port() const { return m_port; }
    QString dsn(const QString& pathPrefix = QStringLiteral("/")) const;
    void script(Answer answer) { m_answers.push_back(std::move(answer)); }

    QList<ReceivedEnvelope> received() const { return m_received; }
    QList<QJsonObject> events() const;

    static ReceivedEnvelope parse(const QByteArray& body);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    quint16 m_port = 0;
    std::deque<Answer> m_answers;
    QList<ReceivedEnvelope> m_received;
};

} // namespace kernwell::test
