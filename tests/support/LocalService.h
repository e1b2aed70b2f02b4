#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace kernwell::test {

// Runs kernwell-localservice in a child process for one test, on a free port
// of 127.0.0.1, with its control API turned on, and drives it. Every helper blocks (plain
// socket I/O, no event loop) and throws std::runtime_error when the service
// refuses; waitForOpenSockets() spins the event loop so that an in-process
// client can make progress. The process is stopped in the destructor.
class LocalService {
public:
    struct Options {
        QString fontsDir; // empty: a temporary folder with the four files of the bundled typeface
        QString dataDir; // empty: a temporary folder
        int accessTokenLifetimeSeconds = 3600;
        bool control = true; // --control: the helpers below need it
        QStringList extraArguments;
        // Empty: $KERNWELL_LOCALSERVICE, else localservice/kernwell-localservice
        // found upwards from the test executable's folder (the build tree).
        QString program;
    };

    struct HttpAnswer {
        int status = 0;
        QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
        QByteArray body;
        std::optional<QByteArray> header(const QByteArray& name) const;
        QJsonObject json() const;
    };

    struct Tokens {
        int status = 0;
        QString accessToken; // empty when the header was missing
        QString refreshToken;
    };

    enum class DownloadFault {
        None,
        Drop, // headers and half the body, then the connection closes
        Delay, // nothing for `delay`, then the whole file
        Stall, // half the body, nothing for `delay`, then the rest
        Html, // 200 with an HTML page
        Truncate, // 200 with the first half of the file, correctly framed
    };

    struct UserState {
        bool revoked = false;
        QString refreshToken; // the newest
        int refreshTokens = 0;
        int accessTokens = 0; // unexpired
        int openSockets = 0;
        qint64 socketOpenedAt = -1; // the latest, in ms of CLOCK_MONOTONIC (QElapsedTimer's reference)
        QStringList styles; // the synced set, in order
    };

    struct Style {
        QString id;
        QString family;
        QString subfamily; // null when none
        QString style;
        QString file; // relative to the fonts folder
    };

    LocalService();
    explicit LocalService(Options options);
    ~LocalService();
    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;

    // Stops the process and starts it again on the same port, fonts and data.
    void restart();

    // "http://127.0.0.1:<port>", no trailing slash: the API root.
    QUrl baseUrl() const { return m_baseUrl; }
    QUrl url(const QString& path) const;
    quint16 port() const { return static_cast<quint16>(m_baseUrl.port()); }
    QString fontsDir() const { return m_fontsDir; }
    QString dataDir() const { return m_dataDir; }

    // The service's process, e.g. to read its memory use.
    qint64 processId() const { return m_process.processId(); }

    // One request to the service; `path` may carry a query. Host is the
    // service's address unless `headers` names one.
    HttpAnswer request(const QByteArray& method, const QString& path, const QByteArray& body = {},
        const QList<QPair<QByteArray, QByteArray>>& headers = {}) const;
    // A control endpoint (path after "/_control/"); throws unless it answers 2xx.
    QJsonObject control(const QByteArray& method, const QString& path, const QJsonObject& body = {}) const;

    // Creates the user when needed; a fresh sign-in token each call.
    QString createUser(const QString& email) const;
    // POST /1/access/users with "Bearer <token>", as a client would.
    Tokens exchange(const QString& token) const;
    // createUser + exchange.
    Tokens signIn(const QString& email) const;

    // Send to every open socket of the user; return how many were reached.
    int push(const QString& email, const QJsonObject& message) const;
    int pushText(const QString& email, const QString& text) const;
    int pushBinary(const QString& email, const QString& utf8Payload) const;
    // Changes the user's synced set as the library page does, pushing one
    // message with what actually changed; returns that message (empty when
    // nothing changed).
    QJsonObject syncStyles(const QString& email, const QStringList& append, const QStringList& remove = {}) const;

    void refuseNextHandshakes(int status, int count = 1) const;
    void revoke(const QString& email, bool revoked = true) const;
    int expireAccessTokens(const QString& email) const;
    int closeSockets(const QString& email, int code, const QString& reason = {}) const;
    int dropSockets(const QString& email) const;
    void faultNextDownloads(DownloadFault fault, int count = 1, std::chrono::milliseconds delay = {}) const;

    UserState state(const QString& email) const;
    QList<Style> catalog() const;
    // The API requests received so far (not control ones), oldest first:
    // objects with method, target, authorization, contentType, body.
    QJsonArray requests() const;
    void clearRequests() const;

    // The update feed's one item; an empty `url` means the service's default.
    void setAppcast(const QString& version, const QString& shortVersion, const QString& url = {}) const;
    // Envelopes received at /api/<project>/envelope/, oldest first: objects
    // with receivedAt, project, eventId, auth, body.
    QJsonArray envelopes() const;
    void clearEnvelopes() const;
    // The next `count` envelopes are answered with `status` (and Retry-After
    // when `retryAfterSeconds` > 0) and not stored.
    void refuseNextEnvelopes(int status, int retryAfterSeconds = 0, int count = 1) const;

    // Spins the event loop until the user has `count` open sockets.
    bool waitForOpenSockets(const QString& email, int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    void start(quint16 port);
    void stop();
    static QString findProgram();

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_ownFonts;
    std::unique_ptr<QTemporaryDir> m_ownData;
    QString m_fontsDir;
    QString m_dataDir;
    QString m_program;
    QProcess m_process;
    QUrl m_baseUrl;
};

} // namespace kernwell::test
