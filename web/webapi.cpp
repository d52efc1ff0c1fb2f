// The routes of relo-web: the checks every request passes, the page's files,
// the login, and the API's reading and changing of the outputs.

#include "core/consoleline.h"
#include "core/servicecore.h"
#include "web/webserver.h"

#include <QFile>

#include <memory>

namespace relo {

namespace {

// The files of the page, by the name they are asked for.
struct PageFile
{
    const char *name;
    const char *type;
};
constexpr PageFile PageFiles[] = {
    {"index.html", "text/html; charset=utf-8"},
    {"page.css", "text/css; charset=utf-8"},
    {"page.js", "text/javascript; charset=utf-8"},
    {"on.png", "image/png"},
    {"off.png", "image/png"},
};

const Headers BearerChallenge{{"WWW-Authenticate", "Bearer realm=\"relo-web\""}};
const Headers CloseAfter{{"Connection", "close"}};

QString methodName(const HttpRequest &request)
{
    const QByteArray &method = request.method;
    if (method == "GET" || method == "PUT" || method == "POST")
        return QString::fromLatin1(request.head ? "HEAD" : method);
    return QStringLiteral("?");
}

QString requestText(const HttpRequest &request)
{
    return methodName(request) + u' ' + shownText(request.path.toUtf8(), 128);
}

QByteArray tooLargeJson()
{
    return QStringLiteral("{\"error\":\"İstek çok büyük (en çok %1 bayt)\"}")
        .arg(HttpConnection::MaxBody)
        .toUtf8();
}

} // namespace

// The route for `path`: a path as it is, or one whose last part (`*`) is the
// argument.
WebServer::Route WebServer::route(const QString &path, QString *arg)
{
    static const std::pair<const char *, Route> Routes[] = {
        {"/", Route::Page},
        {"/api/state", Route::State},
        {"/api/mask", Route::WholeMask},
        {"/api/live", Route::Live},
        {"/api/login", Route::Login},
        {"/api/channels/*", Route::Channel},
        {"/*", Route::File},
    };
    for (const auto &[pattern, kind] : Routes) {
        const QLatin1String text(pattern);
        if (!text.endsWith(u'*')) {
            if (path == text)
                return kind;
            continue;
        }
        const QLatin1String prefix = text.chopped(1);
        if (path.startsWith(prefix) && path.size() > prefix.size() &&
            path.indexOf(u'/', prefix.size()) < 0) {
            *arg = path.mid(prefix.size());
            return kind;
        }
    }
    return Route::Missing;
}

void WebServer::refuseUnread(HttpResponder &responder, Status status)
{
    switch (status) {
    case Status::PayloadTooLarge:
        return reply(responder, status, JsonType, tooLargeJson(), CloseAfter);
    case Status::HeadersTooLarge:
        return replyError(responder, status, QStringLiteral("İstek başlığı çok büyük"), CloseAfter);
    case Status::RequestTimeout:
        return replyError(responder, status, QStringLiteral("İstek zamanında tamamlanmadı"),
                          CloseAfter);
    default:
        return replyError(responder, status, QStringLiteral("Geçersiz istek"), CloseAfter);
    }
}

void WebServer::serve(const HttpRequest &request, HttpResponder &&responder)
{
    QString arg;
    const Route route = WebServer::route(request.path, &arg);
    // A WebSocket handshake anywhere but on /api/live (where it never reaches
    // this) is answered, and the connection ends.
    if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0 &&
        route != Route::Live)
        return replyError(responder, Status::NotFound, QStringLiteral("Bulunamadı"), CloseAfter);
    const QByteArray host = request.value("Host");
    const QString from = request.peer.toString();
    // A page of another site that had its name point here (DNS rebinding)
    // gets nothing.
    if (!m_access.hostAllowed(host)) {
        ServiceCore::log(QStringLiteral("Reddedildi: %1 (%2), Host \"%3\" bu sunucunun adı değil")
                             .arg(requestText(request), from, shownText(host)));
        return replyError(responder, Status::MisdirectedRequest,
                          QStringLiteral("Bu sunucu bu adla kullanılamaz"));
    }
    if (route == Route::Missing)
        return replyError(responder, Status::NotFound, QStringLiteral("Bulunamadı"));

    QByteArray allowed = "GET";
    if (route == Route::Channel || route == Route::WholeMask)
        allowed = "PUT";
    else if (route == Route::Login)
        allowed = "POST";
    if (request.method != allowed)
        return replyError(responder, Status::MethodNotAllowed,
                          QStringLiteral("Bu adres %1 ile kullanılır").arg(QLatin1String(allowed)),
                          {{"Allow", allowed}});
    if (allowed != "GET" &&
        !m_access.sameOrigin(request.value("Origin"), host, request.value("Sec-Fetch-Site"))) {
        ServiceCore::log(QStringLiteral("Reddedildi: %1 (%2), başka bir siteden: \"%3\"")
                             .arg(requestText(request), from, shownText(request.value("Origin"))));
        return replyError(responder, Status::Forbidden,
                          QStringLiteral("Başka bir siteden gelen değişiklik reddedildi"));
    }

    switch (route) {
    case Route::Page:
        return serveFile(QStringLiteral("index.html"), responder);
    case Route::File:
        return serveFile(arg, responder);
    case Route::Login:
        return login(request, std::move(responder));
    default:
        break;
    }
    QByteArray password;
    switch (m_access.authorize(request.value("Authorization"), request.value("Cookie"), &password)) {
    case Access::Auth::Granted:
        return serveApi(route, arg, request, std::move(responder));
    case Access::Auth::Missing:
        return replyError(responder, Status::Unauthorized, QStringLiteral("Parola gerekli"),
                          BearerChallenge);
    case Access::Auth::Password:
        break;
    }
    auto held = std::make_shared<HttpResponder>(std::move(responder));
    m_access.checkPassword(request.peer, password,
                           [this, held, route, arg, request](GuessGuard::Verdict verdict,
                                                             int retryAfterS) {
                               if (!held->isOpen())
                                   return;
                               if (verdict != GuessGuard::Verdict::Right)
                                   return refuse(*held, verdict, retryAfterS);
                               serveApi(route, arg, request, std::move(*held));
                           });
}

void WebServer::serveApi(Route route, const QString &arg, const HttpRequest &request,
                         HttpResponder &&responder)
{
    const QByteArray body = request.body.trimmed();
    const QString given = shownText(body);
    const QString what = requestText(request) + QStringLiteral(" \"%1\"").arg(given);
    switch (route) {
    case Route::State:
        return reply(responder, Status::Ok, JsonType, stateJson());
    case Route::Live:
        return replyError(responder, Status::UpgradeRequired,
                          QStringLiteral("Bu adres bir WebSocket bağlantısı bekler"),
                          {{"Upgrade", "websocket"}});
    case Route::Channel: {
        const std::optional<int> channel = channelNumber(arg);
        if (!channel)
            return replyError(
                responder, Status::BadRequest,
                QStringLiteral("Geçersiz çıkış: \"%1\" (1-8 olmalı)").arg(shownText(arg.toUtf8())));
        if (const std::optional<MaskChange> asked = switchChange(*channel, body))
            return change(what, *asked, request, std::move(responder));
        return replyError(
            responder, Status::BadRequest,
            QStringLiteral("Geçersiz değer: \"%1\" (ON, OFF, 1 veya 0 olmalı)").arg(given));
    }
    case Route::WholeMask: {
        if (const std::optional<MaskChange> asked = wholeMaskChange(body))
            return change(what, *asked, request, std::move(responder));
        return replyError(responder, Status::BadRequest,
                          QStringLiteral("Geçersiz maske: \"%1\" (0-255 olmalı)").arg(given));
    }
    default:
        return replyError(responder, Status::NotFound, QStringLiteral("Bulunamadı"));
    }
}

void WebServer::serveFile(const QString &name, HttpResponder &responder)
{
    for (const PageFile &file : PageFiles) {
        if (name != QLatin1String(file.name))
            continue;
        QFile resource(QStringLiteral(":/relo-web/") + name);
        if (!resource.open(QIODevice::ReadOnly))
            break;
        return reply(responder, Status::Ok, file.type, resource.readAll());
    }
    replyError(responder, Status::NotFound, QStringLiteral("Bulunamadı"));
}

void WebServer::login(const HttpRequest &request, HttpResponder &&responder)
{
    if (!m_access.passwordNeeded())
        return reply(responder, Status::NoContent, JsonType, {});
    const QString from = request.peer.toString();
    auto held = std::make_shared<HttpResponder>(std::move(responder));
    m_access.checkPassword(request.peer, request.body,
                           [this, held, from](GuessGuard::Verdict verdict, int retryAfterS) {
                               if (!held->isOpen())
                                   return;
                               if (verdict != GuessGuard::Verdict::Right)
                                   return refuse(*held, verdict, retryAfterS);
                               ServiceCore::log(QStringLiteral("Oturum açıldı: %1").arg(from));
                               reply(*held, Status::NoContent, JsonType, {},
                                     {{"Set-Cookie", m_access.openSession()}});
                           });
}

// 401 for a wrong password; 429, unchecked, while this client or every client
// may not try.
void WebServer::refuse(HttpResponder &responder, GuessGuard::Verdict verdict, int retryAfterS)
{
    if (verdict == GuessGuard::Verdict::Wrong)
        return replyError(responder, Status::Unauthorized, QStringLiteral("Yanlış parola"),
                          BearerChallenge);
    replyError(responder, Status::TooManyRequests,
               QStringLiteral("Çok fazla parola denemesi; biraz sonra yeniden deneyin"),
               {{"Retry-After", QByteArray::number(retryAfterS)}});
}

void WebServer::change(const QString &what, const MaskChange &change, const HttpRequest &request,
                       HttpResponder &&responder)
{
    const QString from = request.peer.toString();
    if (m_core->isStopping()) {
        ServiceCore::log(QStringLiteral("Yok sayıldı: %1 (%2; durduruluyor)").arg(what, from));
        return replyError(responder, Status::ServiceUnavailable,
                          QStringLiteral("relo-web durduruluyor"));
    }
    m_waiting.emplace(m_core->submit(QStringLiteral("%1 (%2)").arg(what, from), change),
                      std::make_unique<HttpResponder>(std::move(responder)));
}

} // namespace relo
