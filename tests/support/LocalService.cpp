#include "LocalService.h"

#include "RunTask.h"
#include "TestFonts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTcpSocket>

#include <stdexcept>

namespace kernwell::test {

namespace {

constexpr int startTimeoutMs = 20000;
constexpr int requestTimeoutMs = 30000;

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error((QStringLiteral("LocalService: ") + message).toStdString());
}

} // namespace

std::optional<QByteArray> LocalService::HttpAnswer::header(const QByteArray& name) const
{
    const QByteArray wanted = name.toLower();
    for (const auto& [key, value] : headers) {
        if (key == wanted) {
            return value;
        }
    }
    return std::nullopt;
}

QJsonObject LocalService::HttpAnswer::json() const
{
    return QJsonDocument::fromJson(body).object();
}

LocalService::LocalService()
    : LocalService(Options {})
{
}

LocalService::LocalService(Options options)
    : m_options(std::move(options))
{
    m_fontsDir = m_options.fontsDir;
    if (m_fontsDir.isEmpty()) {
        m_ownFonts = std::make_unique<QTemporaryDir>();
        m_fontsDir = m_ownFonts->path();
        for (const QString& font : TestFonts::paths()) {
            if (!QFile::copy(font, m_fontsDir + QLatin1Char('/') + QFileInfo(font).fileName())) {
                fail(QStringLiteral("cannot copy %1.").arg(font));
            }
        }
    }
    m_dataDir = m_options.dataDir;
    if (m_dataDir.isEmpty()) {
        m_ownData = std::make_unique<QTemporaryDir>();
        m_dataDir = m_ownData->path();
    }
    m_program = m_options.program.isEmpty() ? findProgram() : m_options.program;
    start(0);
}

LocalService::~LocalService()
{
    stop();
}

QString LocalService::findProgram()
{
    const QString fromEnvironment = qEnvironmentVariable("KERNWELL_LOCALSERVICE");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    QDir dir(QCoreApplication::applicationDirPath());
    for (int level = 0; level < 5; ++level) {
        const QString candidate = dir.filePath(QStringLiteral("localservice/kernwell-localservice"));
        if (QFileInfo(candidate).isExecutable()) {
            return candidate;
        }
        if (!dir.cdUp()) {
            break;
        }
    }
    fail(QStringLiteral("kernwell-localservice not found above %1; build it or set KERNWELL_LOCALSERVICE.")
             .arg(QCoreApplication::applicationDirPath()));
}

void LocalService::start(quint16 port)
{
    QStringList arguments { QStringLiteral("--port"), QString::number(port), QStringLiteral("--fonts-dir"), m_fontsDir,
        QStringLiteral("--data-dir"), m_dataDir, QStringLiteral("--access-token-lifetime"),
        QString::number(m_options.accessTokenLifetimeSeconds) };
    if (m_options.control) {
        arguments.append(QStringLiteral("--control"));
    }
    arguments += m_options.extraArguments;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(m_program, arguments);
    if (!m_process.waitForStarted(startTimeoutMs)) {
        fail(QStringLiteral("cannot start %1: %2").arg(m_program, m_process.errorString()));
    }
    QElapsedTimer clock;
    clock.start();
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running || clock.elapsed() > startTimeoutMs) {
            fail(QStringLiteral("%1 did not print its address (exit code %2; see its messages above).").arg(m_program).arg(m_process.exitCode()));
        }
        m_process.waitForReadyRead(100);
    }
    m_baseUrl = QUrl(QString::fromUtf8(m_process.readLine().trimmed()));
    if (!m_baseUrl.isValid() || m_baseUrl.port() <= 0) {
        fail(QStringLiteral("unexpected first line from the service: %1").arg(m_baseUrl.toString()));
    }
}

void LocalService::stop()
{
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        qWarning("LocalService: kernwell-localservice ignored SIGTERM; killing it.");
        m_process.kill();
        m_process.waitForFinished(5000);
    } else if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0) {
        qWarning("LocalService: kernwell-localservice ended abnormally (exit code %d).", m_process.exitCode());
    }
}

void LocalService::restart()
{
    const quint16 previous = port();
    stop();
    start(previous);
}

QUrl LocalService::url(const QString& path) const
{
    return QUrl(m_baseUrl.toString() + path);
}

LocalService::HttpAnswer LocalService::request(const QByteArray& method, const QString& path, const QByteArray& body,
    const QList<QPair<QByteArray, QByteArray>>& headers) const
{
    QTcpSocket socket;
    socket.connectToHost(m_baseUrl.host(), port());
    if (!socket.waitForConnected(requestTimeoutMs)) {
        fail(QStringLiteral("cannot connect to %1: %2").arg(m_baseUrl.toString(), socket.errorString()));
    }
    QByteArray wire = method + ' ' + path.toUtf8() + " HTTP/1.1\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    bool hasHost = false;
    for (const auto& [name, value] : headers) {
        wire += name + ": " + value + "\r\n";
        hasHost = hasHost || name.compare("Host", Qt::CaseInsensitive) == 0;
    }
    if (!hasHost) {
        wire += "Host: " + m_baseUrl.authority().toUtf8() + "\r\n";
    }
    wire += "\r\n" + body;
    socket.write(wire);
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < requestTimeoutMs) {
        socket.waitForReadyRead(100);
        received += socket.readAll();
    }
    received += socket.readAll();

    const qsizetype headerEnd = received.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        fail(QStringLiteral("no complete answer to %1 %2").arg(QString::fromLatin1(method), path));
    }
    HttpAnswer answer;
    const QList<QByteArray> lines = received.left(headerEnd).split('\n');
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    answer.status = statusLine.value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) {
            answer.headers.append({ lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed() });
        }
    }
    answer.body = received.mid(headerEnd + 4);
    return answer;
}

QJsonObject LocalService::control(const QByteArray& method, const QString& path, const QJsonObject& body) const
{
    const QByteArray payload = method == "GET" || method == "DELETE" ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
    const HttpAnswer answer = request(method, QStringLiteral("/_control/") + path, payload, { { "Content-Type", "application/json" } });
    if (answer.status < 200 || answer.status > 299) {
        fail(QStringLiteral("%1 /_control/%2 answered %3: %4").arg(QString::fromLatin1(method), path).arg(answer.status).arg(QString::fromUtf8(answer.body)));
    }
    return answer.json();
}

QString LocalService::createUser(const QString& email) const
{
    return control("POST", QStringLiteral("users"), { { QStringLiteral("email"), email } }).value(QLatin1String("signInToken")).toString();
}

LocalService::Tokens LocalService::exchange(const QString& token) const
{
    const HttpAnswer answer = request("POST", QStringLiteral("/1/access/users"), {}, { { "Authorization", "Bearer " + token.toUtf8() } });
    return { answer.status, QString::fromUtf8(answer.header("st-access-token").value_or(QByteArray())),
        QString::fromUtf8(answer.header("st-refresh-token").value_or(QByteArray())) };
}

LocalService::Tokens LocalService::signIn(const QString& email) const
{
    return exchange(createUser(email));
}

int LocalService::push(const QString& email, const QJsonObject& message) const
{
    return control("POST", QStringLiteral("push"), { { QStringLiteral("email"), email }, { QStringLiteral("message"), message } })
        .value(QLatin1String("sockets"))
        .toInt();
}

int LocalService::pushText(const QString& email, const QString& text) const
{
    return control("POST", QStringLiteral("push"), { { QStringLiteral("email"), email }, { QStringLiteral("message"), text } })
        .value(QLatin1String("sockets"))
        .toInt();
}

int LocalService::pushBinary(const QString& email, const QString& utf8Payload) const
{
    return control("POST", QStringLiteral("push"),
        { { QStringLiteral("email"), email }, { QStringLiteral("message"), utf8Payload }, { QStringLiteral("binary"), true } })
        .value(QLatin1String("sockets"))
        .toInt();
}

QJsonObject LocalService::syncStyles(const QString& email, const QStringList& append, const QStringList& remove) const
{
    return control("POST", QStringLiteral("styles"),
        { { QStringLiteral("email"), email }, { QStringLiteral("append"), QJsonArray::fromStringList(append) },
            { QStringLiteral("remove"), QJsonArray::fromStringList(remove) } })
        .value(QLatin1String("message"))
        .toObject();
}

void LocalService::refuseNextHandshakes(int status, int count) const
{
    control("POST", QStringLiteral("handshake"), { { QStringLiteral("status"), status }, { QStringLiteral("count"), count } });
}

void LocalService::revoke(const QString& email, bool revoked) const
{
    control("POST", QStringLiteral("revoke"), { { QStringLiteral("email"), email }, { QStringLiteral("revoked"), revoked } });
}

int LocalService::expireAccessTokens(const QString& email) const
{
    return control("POST", QStringLiteral("expire"), { { QStringLiteral("email"), email } }).value(QLatin1String("expired")).toInt();
}

int LocalService::closeSockets(const QString& email, int code, const QString& reason) const
{
    return control("POST", QStringLiteral("close"),
        { { QStringLiteral("email"), email }, { QStringLiteral("code"), code }, { QStringLiteral("reason"), reason } })
        .value(QLatin1String("sockets"))
        .toInt();
}

int LocalService::dropSockets(const QString& email) const
{
    return control("POST", QStringLiteral("close"), { { QStringLiteral("email"), email }, { QStringLiteral("drop"), true } })
        .value(QLatin1String("sockets"))
        .toInt();
}

void LocalService::faultNextDownloads(DownloadFault fault, int count, std::chrono::milliseconds delay) const
{
    static const char* const names[] = { "none", "drop", "delay", "stall", "html", "truncate" };
    control("POST", QStringLiteral("downloads"),
        { { QStringLiteral("fault"), QLatin1String(names[static_cast<int>(fault)]) }, { QStringLiteral("count"), count },
            { QStringLiteral("delayMs"), static_cast<qint64>(delay.count()) } });
}

LocalService::UserState LocalService::state(const QString& email) const
{
    const QJsonObject object = control("GET", QStringLiteral("state?email=") + QString::fromLatin1(QUrl::toPercentEncoding(email)));
    UserState result;
    result.revoked = object.value(QLatin1String("revoked")).toBool();
    result.refreshToken = object.value(QLatin1String("refreshToken")).toString();
    result.refreshTokens = object.value(QLatin1String("refreshTokens")).toInt();
    result.accessTokens = object.value(QLatin1String("accessTokens")).toInt();
    result.openSockets = object.value(QLatin1String("openSockets")).toInt();
    result.socketOpenedAt = object.value(QLatin1String("socketOpenedAt")).toInteger(-1);
    for (const QJsonValue& style : object.value(QLatin1String("styles")).toArray()) {
        result.styles.append(style.toString());
    }
    return result;
}

QList<LocalService::Style> LocalService::catalog() const
{
    QList<Style> result;
    for (const QJsonValue& value : control("GET", QStringLiteral("catalog")).value(QLatin1String("styles")).toArray()) {
        const QJsonObject object = value.toObject();
        Style style;
        style.id = object.value(QLatin1String("id")).toString();
        style.family = object.value(QLatin1String("family")).toString();
        if (object.value(QLatin1String("subfamily")).isString()) {
            style.subfamily = object.value(QLatin1String("subfamily")).toString();
        }
        style.style = object.value(QLatin1String("style")).toString();
        style.file = object.value(QLatin1String("file")).toString();
        result.append(style);
    }
    return result;
}

QJsonArray LocalService::requests() const
{
    return control("GET", QStringLiteral("requests")).value(QLatin1String("requests")).toArray();
}

void LocalService::clearRequests() const
{
    control("DELETE", QStringLiteral("requests"));
}

void LocalService::setAppcast(const QString& version, const QString& shortVersion, const QString& url) const
{
    control("POST", QStringLiteral("appcast"),
        { { QStringLiteral("version"), version }, { QStringLiteral("shortVersion"), shortVersion }, { QStringLiteral("url"), url } });
}

QJsonArray LocalService::envelopes() const
{
    return control("GET", QStringLiteral("envelopes")).value(QLatin1String("envelopes")).toArray();
}

void LocalService::clearEnvelopes() const
{
    control("DELETE", QStringLiteral("envelopes"));
}

void LocalService::refuseNextEnvelopes(int status, int retryAfterSeconds, int count) const
{
    control("POST", QStringLiteral("envelopes"),
        { { QStringLiteral("status"), status }, { QStringLiteral("retryAfter"), retryAfterSeconds }, { QStringLiteral("count"), count } });
}

bool LocalService::waitForOpenSockets(const QString& email, int count, std::chrono::milliseconds timeout) const
{
    return waitUntil([&] { return state(email).openSockets == count; }, timeout);
}

} // namespace kernwell::test
