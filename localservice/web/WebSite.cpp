#include "WebSite.h"

#include "Accounts.h"
#include "AppcastFeed.h"
#include "ErrorReports.h"
#include "FontCatalog.h"
#include "LibrarySync.h"
#include "LocalOrigin.h"
#include "Router.h"
#include "WebSessions.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace kernwell::localservice {

namespace http = boost::beast::http;

namespace {

const char* const css = R"css(
body { margin: 0; font-family: "DejaVu Sans", "Liberation Sans", sans-serif; background: #fff; color: #000; }
header { display: flex; align-items: center; gap: 24px; padding: 14px 32px; border-bottom: 1px solid #ddd; }
header .brand { font-weight: bold; font-size: 20px; color: #000; text-decoration: none; }
header nav { display: flex; gap: 18px; align-items: center; flex: 1; }
header nav .account { margin-left: auto; display: flex; gap: 10px; align-items: center; color: #555; }
a { color: #1a4fd6; }
main { padding: 24px 32px; max-width: 980px; }
form.inline { display: inline; margin: 0; }
input[type=email] { font-size: 16px; padding: 8px; width: 320px; }
button { font-size: 14px; padding: 6px 14px; border: 1px solid #000; background: #fff; cursor: pointer; }
button.primary { background: #000; color: #fff; }
.note { background: #eef7ee; border: 1px solid #9c9; padding: 10px 14px; }
.error { background: #fbeeee; border: 1px solid #c99; padding: 10px 14px; }
.family { margin: 28px 0; }
.family h2 { font-size: 16px; margin: 0 0 8px; color: #555; }
.style { display: flex; align-items: center; gap: 16px; padding: 10px 0; border-top: 1px solid #eee; }
.style .preview { flex: 1; font-size: 26px; overflow: hidden; white-space: nowrap; text-overflow: ellipsis; }
.style .name { width: 220px; color: #555; }
.style.synced .name::after { content: " \2713"; color: #070; }
table { border-collapse: collapse; width: 100%; }
td, th { text-align: left; border-bottom: 1px solid #eee; padding: 6px; vertical-align: top; }
pre { white-space: pre-wrap; word-break: break-all; font-size: 12px; }
)css";

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

// A JSON string literal that is also safe inside a <script> element.
QString scriptString(const QString& text)
{
    QString json = QString::fromUtf8(QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact));
    json = json.mid(1, json.size() - 2);
    return json.replace(QLatin1Char('<'), QLatin1String("\\u003c"));
}

Reply htmlReply(http::status status, const QString& html)
{
    return Router::reply(status, html.toStdString(), "text/html; charset=utf-8");
}

Reply seeOther(const QString& location)
{
    Reply reply = Router::reply(http::status::see_other, {}, "text/plain");
    reply.response.set(http::field::location, location.toStdString());
    return reply;
}

QString formValue(const QByteArray& form, const QString& key)
{
    QString text = QString::fromUtf8(form);
    text.replace(QLatin1Char('+'), QLatin1Char(' '));
    return QUrlQuery(text).queryItemValue(key, QUrl::FullyDecoded);
}

QString fontFamilyName(const QString& id)
{
    return QStringLiteral("kw-") + id;
}

QString styleLabel(const CatalogFont& font)
{
    return font.subfamily.isEmpty() ? font.style : font.subfamily + QLatin1Char(' ') + font.style;
}

QString fontFaces(const FontCatalog& catalog)
{
    QString faces;
    for (const CatalogFont& font : catalog.fonts()) {
        faces += QStringLiteral("@font-face { font-family: \"%1\"; src: url(\"/preview/%2\"); font-display: swap; }\n")
                     .arg(fontFamilyName(font.id), font.id);
    }
    return QStringLiteral("<style>\n%1</style>").arg(faces);
}

} // namespace

WebSite::WebSite(Accounts& accounts, const FontCatalog& catalog, LibrarySync& library, WebSessions& sessions, const AppcastFeed& appcast,
    ErrorReports& reports, const LocalOrigin& origin)
    : m_accounts(accounts)
    , m_catalog(catalog)
    , m_library(library)
    , m_sessions(sessions)
    , m_appcast(appcast)
    , m_reports(reports)
    , m_origin(origin)
{
}

std::optional<Reply> WebSite::handle(const HttpRequest& request, const QString& path, const QString& query)
{
    const auto cookie = request.find(http::field::cookie);
    QString email = cookie == request.end() ? QString() : m_sessions.email(QString::fromUtf8(cookie->value().data(), static_cast<qsizetype>(cookie->value().size())));
    if (!email.isNull() && !m_accounts.hasUser(email)) {
        email.clear();
    }
    const QByteArray body = QByteArray::fromStdString(request.body());
    static const QRegularExpression envelopePath(QStringLiteral("^/api/([A-Za-z0-9_]+)/envelope/?$"));
    const bool get = request.method() == http::verb::get;
    const bool post = request.method() == http::verb::post;

    if (const QRegularExpressionMatch match = envelopePath.match(path); match.hasMatch()) {
        return post ? receiveEnvelope(request, match.captured(1)) : Router::errorReply(http::status::method_not_allowed, QStringLiteral("Envelopes are POSTed."));
    }
    if (path.startsWith(QLatin1String("/preview/")) && get) {
        return preview(path.mid(9));
    }
    if (get) {
        if (path == QLatin1String("/")) {
            return home(email);
        }
        if (path == QLatin1String("/signin") || path == QLatin1String("/signup")) {
            return signInPage(path == QLatin1String("/signup"), QUrlQuery(query).queryItemValue(QStringLiteral("email"), QUrl::FullyDecoded), {});
        }
        if (path == QLatin1String("/browse")) {
            return browse(email);
        }
        if (path == QLatin1String("/library")) {
            return library(email, query);
        }
        if (path == QLatin1String("/support")) {
            return support(email);
        }
        if (path == QLatin1String("/reports")) {
            return reportsPage(email);
        }
        if (path == QLatin1String("/appcast.xml")) {
            return Router::reply(http::status::ok, m_appcast.xml(m_origin.baseUrl()).toStdString(), "application/rss+xml; charset=utf-8");
        }
    }
    const bool changesState = post
        && (path == QLatin1String("/signin") || path == QLatin1String("/signup") || path == QLatin1String("/library") || path == QLatin1String("/signout"));
    if (changesState) {
        if (std::optional<Reply> refusal = refuseCrossSite(request)) {
            return refusal;
        }
    }
    if (post) {
        if (path == QLatin1String("/signin") || path == QLatin1String("/signup")) {
            return signIn(path == QLatin1String("/signup"), body);
        }
        if (path == QLatin1String("/library")) {
            return changeLibrary(email, body);
        }
        if (path == QLatin1String("/signout")) {
            m_sessions.end(cookie == request.end() ? QString() : QString::fromUtf8(cookie->value().data(), static_cast<qsizetype>(cookie->value().size())));
            Reply reply = seeOther(QStringLiteral("/"));
            reply.response.set(http::field::set_cookie, std::string(WebSessions::cookieName) + "=; Path=/; Max-Age=0");
            return reply;
        }
    }
    return std::nullopt;
}

// The SameSite cookie keeps other sites' forms signed out; this also keeps
// them from signing the browser in or out, and covers browsers that send
// cookies anyway.
std::optional<Reply> WebSite::refuseCrossSite(const HttpRequest& request) const
{
    const auto header = [&](http::field name) {
        const auto it = request.find(name);
        return it == request.end() ? QString() : QString::fromUtf8(it->value().data(), static_cast<qsizetype>(it->value().size()));
    };
    const QString origin = header(http::field::origin);
    const QString referer = header(http::field::referer);
    if (m_origin.isOwnOriginOrAbsent(origin, referer)) {
        return std::nullopt;
    }
    return htmlReply(http::status::forbidden,
        page(QStringLiteral("Refused"), {},
            QStringLiteral("<p class=\"error\" id=\"error\">This form was sent from %1, not from this site; nothing was changed.</p>"
                           "<p><a href=\"/\">Go to the start page</a></p>")
                .arg(esc(origin.isNull() ? referer : origin))));
}

QString WebSite::page(const QString& title, const QString& email, const QString& body, const QString& head) const
{
    const QString account = email.isEmpty()
        ? QStringLiteral("<span class=\"account\"><a href=\"/signin\">Sign in</a><a href=\"/signup\">Sign up</a></span>")
        : QStringLiteral("<span class=\"account\"><span id=\"signed-in-as\">%1</span><form class=\"inline\" method=\"post\" action=\"/signout\">"
                         "<button type=\"submit\">Sign out</button></form></span>")
              .arg(esc(email));
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                          "<title>%1 · Kernwell</title><style>%2</style>%3</head>\n<body><header><a class=\"brand\" href=\"/\">Kernwell</a>"
                          "<nav><a href=\"/browse\">Browse fonts</a><a href=\"/library\">Library</a><a href=\"/support\">Support</a>%4</nav>"
                          "</header>\n<main>%5</main></body></html>\n")
        .arg(esc(title), QLatin1String(css), head, account, body);
}

Reply WebSite::home(const QString& email) const
{
    return htmlReply(http::status::ok,
        page(QStringLiteral("Welcome"), email,
            QStringLiteral("<h1>Fonts for your desktop</h1><p>Pick styles in your <a href=\"/library\">library</a> and Kernwell installs them "
                           "on your computer at once. %1 styles in the catalog.</p><p><a href=\"/browse\">Browse fonts</a> · "
                           "<a href=\"/signin\">Sign in</a> · <a href=\"/signup\">Sign up</a></p>")
                .arg(m_catalog.fonts().size())));
}

Reply WebSite::signInPage(bool signUp, const QString& email, const QString& error) const
{
    const QString title = signUp ? QStringLiteral("Sign up") : QStringLiteral("Sign in");
    const QString intro = signUp ? QStringLiteral("Create your account with your e-mail address.")
                                 : QStringLiteral("Sign in with your e-mail address; a new address gets an account.");
    const QString errorLine = error.isEmpty() ? QString() : QStringLiteral("<p class=\"error\" id=\"error\">%1</p>").arg(esc(error));
    return htmlReply(error.isEmpty() ? http::status::ok : http::status::bad_request,
        page(title, {},
            QStringLiteral("<h1>%1</h1><p>%2</p>%3<form method=\"post\" action=\"%4\"><p><label>E-mail address<br>"
                           "<input type=\"email\" name=\"email\" id=\"email\" required autofocus value=\"%5\"></label></p>"
                           "<p><button class=\"primary\" type=\"submit\" id=\"submit\">%1</button></p></form>")
                .arg(title, intro, errorLine, signUp ? QStringLiteral("/signup") : QStringLiteral("/signin"), esc(email))));
}

Reply WebSite::signIn(bool signUp, const QByteArray& form)
{
    const QString email = formValue(form, QStringLiteral("email")).trimmed();
    if (!Accounts::isValidEmail(email)) {
        return signInPage(signUp, email,
            email.isEmpty() ? QStringLiteral("Enter your e-mail address.") : QStringLiteral("\"%1\" is not an e-mail address.").arg(email));
    }
    const QString token = m_accounts.issueSignInToken(email);
    // The token is base64url and needs no encoding; the address may hold "+" or "&".
    const QString link = QStringLiteral("kernwell://desktop/authorize?token=%1&email=%2").arg(token, QString::fromLatin1(QUrl::toPercentEncoding(email, "@")));

    Reply reply = htmlReply(http::status::ok,
        page(QStringLiteral("Signed in"), email,
            QStringLiteral("<h1>%1</h1><p>Opening Kernwell… If nothing happens, <a id=\"callback\" href=\"%2\">open Kernwell</a>.</p>"
                           "<p><code id=\"callback-url\">%3</code></p><p>Then pick styles in your <a href=\"/library\">library</a>.</p>"
                           "<script>window.location.href = %4;</script>")
                .arg(signUp ? QStringLiteral("Welcome to Kernwell") : QStringLiteral("Signed in"), esc(link), esc(link), scriptString(link))));
    reply.response.set(http::field::set_cookie,
        (QLatin1String(WebSessions::cookieName) + QLatin1Char('=') + m_sessions.create(email) + QStringLiteral("; Path=/; HttpOnly; SameSite=Lax"))
            .toStdString());
    return reply;
}

QString WebSite::catalogList(const QString& email, bool withActions) const
{
    const QStringList synced = email.isEmpty() ? QStringList() : m_accounts.state(email)->styles;
    QString html;
    QString family;
    for (const CatalogFont& font : m_catalog.fonts()) {
        if (font.family != family) {
            html += family.isNull() ? QString() : QStringLiteral("</section>");
            family = font.family;
            html += QStringLiteral("<section class=\"family\"><h2>%1</h2>").arg(esc(family));
        }
        const bool isSynced = synced.contains(font.id);
        QString action;
        if (withActions) {
            action = QStringLiteral("<form class=\"inline\" method=\"post\" action=\"/library\"><input type=\"hidden\" name=\"style\" value=\"%1\">"
                                    "<button type=\"submit\" name=\"action\" value=\"%2\" id=\"%2-%1\">%3</button></form>")
                         .arg(esc(font.id), isSynced ? QStringLiteral("remove") : QStringLiteral("add"),
                             isSynced ? QStringLiteral("Remove") : QStringLiteral("Add"));
        }
        html += QStringLiteral("<div class=\"style%1\" data-style-id=\"%2\"><span class=\"preview\" style=\"font-family: '%3', monospace\">"
                               "The quick brown fox jumps over the lazy dog</span><span class=\"name\">%4</span>%5</div>")
                    .arg(isSynced ? QStringLiteral(" synced") : QString(), esc(font.id), fontFamilyName(font.id), esc(styleLabel(font)), action);
    }
    if (!family.isNull()) {
        html += QStringLiteral("</section>");
    }
    return html.isEmpty() ? QStringLiteral("<p>The catalog is empty: the service found no fonts.</p>") : html;
}

Reply WebSite::browse(const QString& email) const
{
    return htmlReply(http::status::ok,
        page(QStringLiteral("Browse fonts"), email,
            QStringLiteral("<h1>Browse fonts</h1><p>%1 styles. Add them to your computer from your <a href=\"/library\">library</a>.</p>%2")
                .arg(m_catalog.fonts().size())
                .arg(catalogList(email, false)),
            fontFaces(m_catalog)));
}

Reply WebSite::library(const QString& email, const QString& query) const
{
    if (email.isEmpty()) {
        return htmlReply(http::status::ok,
            page(QStringLiteral("Library"), email,
                QStringLiteral("<h1>Your library</h1><p><a href=\"/signin\" id=\"signin\">Sign in</a> to pick the styles that Kernwell "
                               "keeps on your computer.</p>")));
    }
    const QUrlQuery items(query);
    QString note;
    for (const QString& kind : { QStringLiteral("added"), QStringLiteral("removed") }) {
        const CatalogFont* font = m_catalog.find(items.queryItemValue(kind));
        if (font) {
            const int sockets = items.queryItemValue(QStringLiteral("sockets")).toInt();
            note = QStringLiteral("<p class=\"note\" id=\"note\">%1 %2 %3 — sent to %4 open Kernwell connection%5.</p>")
                       .arg(kind == QLatin1String("added") ? QStringLiteral("Added") : QStringLiteral("Removed"), esc(font->family),
                           esc(styleLabel(*font)))
                       .arg(sockets)
                       .arg(sockets == 1 ? QString() : QStringLiteral("s"));
        }
    }
    const int count = static_cast<int>(m_accounts.state(email)->styles.size());
    return htmlReply(http::status::ok,
        page(QStringLiteral("Library"), email,
            QStringLiteral("<h1>Your library</h1>%1<p>%2 style%3 synced to your computers. Changes reach Kernwell at once.</p>%4")
                .arg(note)
                .arg(count)
                .arg(count == 1 ? QString() : QStringLiteral("s"))
                .arg(catalogList(email, true)),
            fontFaces(m_catalog)));
}

Reply WebSite::changeLibrary(const QString& email, const QByteArray& form)
{
    if (email.isEmpty()) {
        return seeOther(QStringLiteral("/signin"));
    }
    const QString id = formValue(form, QStringLiteral("style"));
    const QString action = formValue(form, QStringLiteral("action"));
    if (!m_catalog.find(id) || (action != QLatin1String("add") && action != QLatin1String("remove"))) {
        return htmlReply(http::status::bad_request,
            page(QStringLiteral("Library"), email,
                QStringLiteral("<p class=\"error\">That change cannot be made: the style \"%1\" or the action \"%2\" is unknown.</p>"
                               "<p><a href=\"/library\">Back to your library</a></p>")
                    .arg(esc(id), esc(action))));
    }
    const bool add = action == QLatin1String("add");
    const std::optional<LibrarySync::Result> result = m_library.change(email, add ? QStringList { id } : QStringList(), add ? QStringList() : QStringList { id });
    return seeOther(QStringLiteral("/library?%1=%2&sockets=%3").arg(add ? QStringLiteral("added") : QStringLiteral("removed"), id).arg(result ? result->sockets : 0));
}

Reply WebSite::support(const QString& email) const
{
    return htmlReply(http::status::ok,
        page(QStringLiteral("Support"), email,
            QStringLiteral("<h1>Support</h1><p>This is the local font service that comes with Kernwell: it serves the fonts of this computer "
                           "as a catalog, so that Kernwell can be tried without an account anywhere.</p>"
                           "<ul><li>Sign in with any e-mail address; no password is needed.</li>"
                           "<li>Pick styles in your <a href=\"/library\">library</a>; Kernwell installs them for your user only.</li>"
                           "<li>Error reports that Kernwell sends are listed under <a href=\"/reports\">error reports</a>.</li>"
                           "<li>Updates are announced in the <a href=\"/appcast.xml\">update feed</a>.</li></ul>")));
}

Reply WebSite::reportsPage(const QString& email) const
{
    QString rows;
    const QList<ErrorReports::Envelope>& envelopes = m_reports.envelopes();
    for (qsizetype i = envelopes.size() - 1; i >= 0; --i) {
        const ErrorReports::Envelope& envelope = envelopes[i];
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td><details><summary>%4 bytes</summary><pre>%5</pre></details></td></tr>")
                    .arg(esc(envelope.receivedAt.toString(Qt::ISODate)), esc(envelope.project), esc(envelope.eventId))
                    .arg(envelope.body.size())
                    .arg(esc(QString::fromUtf8(envelope.body.left(20000))));
    }
    return htmlReply(http::status::ok,
        page(QStringLiteral("Error reports"), email,
            QStringLiteral("<h1>Error reports</h1><p id=\"count\">%1 received, newest first.</p>"
                           "<table><tr><th>received</th><th>project</th><th>event</th><th>envelope</th></tr>%2</table>")
                .arg(envelopes.size())
                .arg(rows)));
}

Reply WebSite::receiveEnvelope(const HttpRequest& request, const QString& project)
{
    if (const std::optional<ErrorReports::Refusal> refusal = m_reports.takeRefusal()) {
        Reply reply = Router::errorReply(static_cast<http::status>(refusal->status), QStringLiteral("Refused on request."));
        if (refusal->retryAfterSeconds > 0) {
            reply.response.set(http::field::retry_after, std::to_string(refusal->retryAfterSeconds));
        }
        return reply;
    }
    if (request.body().empty()) {
        return Router::errorReply(http::status::bad_request, QStringLiteral("The envelope is empty."));
    }
    const auto auth = request.find("X-Sentry-Auth");
    const QString eventId = m_reports.store(project,
        auth == request.end() ? QString() : QString::fromUtf8(auth->value().data(), static_cast<qsizetype>(auth->value().size())),
        QByteArray::fromStdString(request.body()));
    return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("id"), eventId } });
}

Reply WebSite::preview(const QString& id) const
{
    const CatalogFont* font = m_catalog.find(id);
    if (!font) {
        return Router::errorReply(http::status::not_found, QStringLiteral("No font has the id \"%1\".").arg(id));
    }
    QFile file(font->path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Router::errorReply(http::status::internal_server_error, QStringLiteral("The font file cannot be read: %1").arg(file.errorString()));
    }
    Reply reply = Router::reply(http::status::ok, {}, font->mimeType().toLatin1().constData());
    reply.sendFile(QFile::encodeName(font->path).toStdString(), static_cast<std::uint64_t>(file.size()));
    reply.response.set(http::field::cache_control, "max-age=3600");
    return reply;
}

} // namespace kernwell::localservice
