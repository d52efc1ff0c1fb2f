// The routes of relo-web: the checks every request passes, the page's files,
// the login, and the API's reading and changing of the outputs.

#include "web/connectionguard.h"
#include "core/consoleline.h"
#include "core/servicecore.h"
#include "web/webserver.h"

#include <QFile>
#include <QHttpServerRequest>

namespace relo {

namespace {

using Method = QHttpServerRequest::Method;

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

QString methodName(Method method)
{
    switch (method) {
    case Method::Get:
        return QStringLiteral("GET");
    case Method::Put:
        return QStringLiteral("PUT");
    case Method::Post:
        return QStringLiteral("POST");
    default:
        return QStringLiteral("?");
    }
}

QString requestText(const QHttpServerRequest &request)
{
    return methodName(request.method()) + u' ' + shownText(request.url().path().toUtf8(), 128);
}

} // namespace

void WebServer::serve(Route route, const QString &arg, const QHttpServerRequest &request,
                      QHttpServerResponder &&responder)
{
    // A WebSocket handshake that a route lets pass without an answer becomes a
    // WebSocket once the route returns: on /api/live, LiveClients checks it
    // then. Anywhere else it is answered and the connection ends, before the
    // handshake could be completed.
    if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        if (route == Route::Live)
            return;
        replyError(responder, Status::NotFound, QStringLiteral("Bulunamadı"));
        if (QTcpSocket *socket = responder.socket()) {
            socket->flush();
            socket->abort();
            // The server rolls back the request it read, as for any handshake.
            socket->startTransaction();
        }
        return;
    }
    const QByteArray host = request.value("Host");
    const QString from = request.remoteAddress().toString();
    // A page of another site that had its name point here (DNS rebinding)
    // gets nothing.
    if (!m_access.hostAllowed(host)) {
        ServiceCore::log(QStringLiteral("Reddedildi: %1 (%2), Host \"%3\" bu sunucunun adı değil")
                             .arg(requestText(request), from, shownText(host)));
        return replyError(responder, Status::MisdirectedRequest,
                          QStringLiteral("Bu sunucu bu adla kullanılamaz"));
    }
    if (request.body().size() > ConnectionGuard::MaxBody)
        return reply(responder, Status::PayloadTooLarge, JsonType, ConnectionGuard::tooLargeJson(),
                     {{"Connection", "close"}});
    if (route == Route::Missing)
        return replyError(responder, Status::NotFound, QStringLiteral("Bulunamadı"));

    Method allowed = Method::Get;
    if (route == Route::Channel || route == Route::WholeMask)
        allowed = Method::Put;
    else if (route == Route::Login)
        allowed = Method::Post;
    if (request.method() != allowed)
        return replyError(responder, Status::MethodNotAllowed,
                          QStringLiteral("Bu adres %1 ile kullanılır").arg(methodName(allowed)),
                          {{"Allow", methodName(allowed).toLatin1()}});
    if (allowed != Method::Get &&
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
    const ApiCall call{route, arg, requestText(request), request.body().trimmed(), from};
    QByteArray password;
    switch (
        m_access.authorize(request.value("Authorization"), request.value("Cookie"), &password)) {
    case Access::Auth::Granted:
        return serveApi(call, std::move(responder));
    case Access::Auth::Missing:
        return replyError(responder, Status::Unauthorized, QStringLiteral("Parola gerekli"),
                          BearerChallenge);
    case Access::Auth::Password:
        break;
    }
    auto held =
        std::make_shared<HeldResponder>(HeldResponder{responder.socket(), std::move(responder)});
    m_access.checkPassword(request.remoteAddress(), password,
                           [this, held, call](GuessGuard::Verdict verdict, int retryAfterS) {
                               if (!held->socket)
                                   return;
                               if (verdict != GuessGuard::Verdict::Right)
                                   return refuse(held->responder, verdict, retryAfterS);
                               serveApi(call, std::move(held->responder));
                           });
}

void WebServer::serveApi(const ApiCall &call, QHttpServerResponder &&responder)
{
    const QByteArray &body = call.body;
    const QString &arg = call.arg;
    const QString given = shownText(body);
    const QString what = call.text + QStringLiteral(" \"%1\"").arg(given);
    switch (call.route) {
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
            return change(what, *asked, call.from, std::move(responder));
        return replyError(
            responder, Status::BadRequest,
            QStringLiteral("Geçersiz değer: \"%1\" (ON, OFF, 1 veya 0 olmalı)").arg(given));
    }
    case Route::WholeMask: {
        if (const std::optional<MaskChange> asked = wholeMaskChange(body))
            return change(what, *asked, call.from, std::move(responder));
        return replyError(responder, Status::BadRequest,
                          QStringLiteral("Geçersiz maske: \"%1\" (0-255 olmalı)").arg(given));
    }
    default:
        return replyError(responder, Status::NotFound, QStringLiteral("Bulunamadı"));
    }
}

void WebServer::serveFile(const QString &name, QHttpServerResponder &responder)
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

void WebServer::login(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    if (!m_access.passwordNeeded())
        return reply(responder, Status::NoContent, JsonType, {});
    const QString from = request.remoteAddress().toString();
    auto held =
        std::make_shared<HeldResponder>(HeldResponder{responder.socket(), std::move(responder)});
    m_access.checkPassword(request.remoteAddress(), request.body(),
                           [this, held, from](GuessGuard::Verdict verdict, int retryAfterS) {
                               if (!held->socket)
                                   return;
                               if (verdict != GuessGuard::Verdict::Right)
                                   return refuse(held->responder, verdict, retryAfterS);
                               ServiceCore::log(QStringLiteral("Oturum açıldı: %1").arg(from));
                               reply(held->responder, Status::NoContent, JsonType, {},
                                     {{"Set-Cookie", m_access.openSession()}});
                           });
}

// 401 for a wrong password; 429, unchecked, while this client or every client
// may not try.
void WebServer::refuse(QHttpServerResponder &responder, GuessGuard::Verdict verdict,
                       int retryAfterS)
{
    if (verdict == GuessGuard::Verdict::Wrong)
        return replyError(responder, Status::Unauthorized, QStringLiteral("Yanlış parola"),
                          BearerChallenge);
    replyError(responder, Status::TooManyRequests,
               QStringLiteral("Çok fazla parola denemesi; biraz sonra yeniden deneyin"),
               {{"Retry-After", QByteArray::number(retryAfterS)}});
}

void WebServer::change(const QString &what, const MaskChange &change, const QString &from,
                       QHttpServerResponder &&responder)
{
    if (m_core->isStopping()) {
        ServiceCore::log(QStringLiteral("Yok sayıldı: %1 (%2; durduruluyor)").arg(what, from));
        return replyError(responder, Status::ServiceUnavailable,
                          QStringLiteral("relo-web durduruluyor"));
    }
    auto held =
        std::make_unique<HeldResponder>(HeldResponder{responder.socket(), std::move(responder)});
    m_waiting.emplace(m_core->submit(QStringLiteral("%1 (%2)").arg(what, from), change),
                      std::move(held));
}

} // namespace relo
