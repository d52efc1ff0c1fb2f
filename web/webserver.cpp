#include "webserver.h"

#include "connectionguard.h"
#include "headless.h"
#include "settingsfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>

namespace relo {

namespace {

using Status = QHttpServerResponder::StatusCode;
using Method = QHttpServerRequest::Method;
using Headers = QList<QPair<QByteArray, QByteArray>>;

const QByteArray JsonType = "application/json; charset=utf-8";
const QByteArray SessionCookie = "relo_session";
constexpr int PingMs = 30000;
// The first wrong password of an address is answered after this long; each
// further one waits twice as long, up to MaxRefusalDelayMs.
constexpr int RefusalDelayMs = 250;
constexpr int MaxRefusalDelayMs = 16000;
constexpr int MaxSessions = 1024;
constexpr int MaxTrackedAddresses = 4096;

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

void reply(QHttpServerResponder &responder, Status status, const QByteArray &type,
           const QByteArray &body, const Headers &extra = {})
{
    const QTcpSocket *socket = responder.socket();
    if (!socket || !socket->isOpen())
        return;
    responder.writeStatusLine(status);
    responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    responder.writeHeader("X-Frame-Options", "DENY");
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'none'; script-src 'self'; style-src 'self'; "
                          "img-src 'self'; connect-src 'self'; frame-ancestors 'none'; "
                          "base-uri 'none'; form-action 'none'");
    for (const auto &header : extra)
        responder.writeHeader(header.first, header.second);
    responder.writeBody(body);
}

QByteArray errorJson(const QString &text)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), text}})
        .toJson(QJsonDocument::Compact);
}

void replyError(QHttpServerResponder &responder, Status status, const QString &text,
                const Headers &extra = {})
{
    reply(responder, status, JsonType, errorJson(text), extra);
}

// Equal without telling by its time how much of a guess was right.
bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    const QByteArray x = QCryptographicHash::hash(a, QCryptographicHash::Sha256);
    const QByteArray y = QCryptographicHash::hash(b, QCryptographicHash::Sha256);
    char difference = 0;
    for (qsizetype i = 0; i < x.size(); ++i)
        difference = char(difference | (x.at(i) ^ y.at(i)));
    return difference == 0;
}

QByteArray cookieValue(const QByteArray &cookies, const QByteArray &name)
{
    for (const QByteArray &cookie : cookies.split(';')) {
        const QByteArray trimmed = cookie.trimmed();
        if (trimmed.startsWith(name + '='))
            return trimmed.mid(name.size() + 1);
    }
    return {};
}

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

} // namespace

QString WebServer::version()
{
    return QStringLiteral("%1.%2.%3").arg(VersionMajor).arg(VersionMinor).arg(VersionRevision);
}

WebServer::WebServer(const WebOptions &options, const QString &settingsFolder, SerialPort *port,
                     QObject *parent)
    : QObject(parent), m_options(options), m_settingsFolder(settingsFolder),
      m_queue(new CommandQueue(port, settingsFolder, this)),
      m_watch(new SettingsWatch(settingsFolder, this)), m_http(new QHttpServer(this)),
      m_guard(new ConnectionGuard(this)), m_ping(new QTimer(this)), m_stopLimit(new QTimer(this))
{
    m_queue->setFirstFrameAtOnce(true); // a switch must feel instant
    connect(m_queue, &CommandQueue::batchStarted, this, &WebServer::onBatchStarted);
    connect(m_queue, &CommandQueue::finished, this, &WebServer::onFinished);
    connect(m_watch, &SettingsWatch::changed, this, &WebServer::onFileChanged);
    connect(m_watch, &SettingsWatch::polling, this,
            [] { logLine(QStringLiteral("ayar.ini izlenemiyor; saniyede bir okunacak")); });

    const auto route = [this](const char *path, Route kind) {
        m_http->route(path, [this, kind](const QHttpServerRequest &request,
                                         QHttpServerResponder &&responder) {
            serve(kind, {}, request, std::move(responder));
        });
    };
    const auto routeWithArg = [this](const char *path, Route kind) {
        m_http->route(path, [this, kind](const QString &arg, const QHttpServerRequest &request,
                                         QHttpServerResponder &&responder) {
            serve(kind, arg, request, std::move(responder));
        });
    };
    route("/", Route::Page);
    route("/api/state", Route::State);
    route("/api/mask", Route::WholeMask);
    route("/api/live", Route::Live);
    route("/api/login", Route::Login);
    routeWithArg("/api/channels/<arg>", Route::Channel);
    routeWithArg("/<arg>", Route::File);
    m_http->setMissingHandler(
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            serve(Route::Missing, {}, request, std::move(responder));
        });
    connect(m_http, &QHttpServer::newWebSocketConnection, this, &WebServer::onWebSocket);

    // A WebSocket whose peer went away without a word is found by its missing pong.
    connect(m_ping, &QTimer::timeout, this, [this] {
        const QList<QWebSocket *> sockets = m_live.keys();
        for (QWebSocket *socket : sockets) {
            if (!m_live.value(socket)) {
                socket->abort();
                continue;
            }
            m_live[socket] = false;
            socket->ping();
        }
    });
    m_stopLimit->setSingleShot(true);
    connect(m_stopLimit, &QTimer::timeout, this, &WebServer::finishStop);
}

WebServer::~WebServer() = default;

bool WebServer::start(QString *error)
{
    m_mask = m_watch->start();
    QTcpServer *server = nullptr;
    if (!m_options.certFile.isEmpty()) {
        QFile certFile(m_options.certFile);
        QFile keyFile(m_options.keyFile);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Sertifika veya anahtar okunamadı: %1, %2")
                         .arg(m_options.certFile, m_options.keyFile);
            return false;
        }
        const QList<QSslCertificate> chain = QSslCertificate::fromDevice(&certFile);
        const QByteArray keyText = keyFile.readAll();
        QSslKey key(keyText, QSsl::Rsa);
        if (key.isNull())
            key = QSslKey(keyText, QSsl::Ec);
        if (chain.isEmpty() || key.isNull()) {
            *error = QStringLiteral("Sertifika veya anahtar PEM biçiminde değil: %1, %2")
                         .arg(m_options.certFile, m_options.keyFile);
            return false;
        }
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(chain);
        tls.setPrivateKey(key);
        auto *sslServer = new GuardedServer<QSslServer>(m_guard, this);
        sslServer->setSslConfiguration(tls);
        server = sslServer;
    } else {
        server = new GuardedServer<QTcpServer>(m_guard, this);
    }
    if (!server->listen(m_options.address, m_options.port)) {
        *error = QStringLiteral("%1 dinlenemiyor: %2")
                     .arg(m_options.listenText(), server->errorString());
        delete server;
        return false;
    }
    m_http->bind(server);
    m_ping->start(PingMs);
    WebOptions shown = m_options;
    shown.port = server->serverPort();
    logLine(
        QStringLiteral("relo-web %1 başladı: %2://%3/, %4, %5, ayar dosyası %6")
            .arg(version(),
                 m_options.certFile.isEmpty() ? QStringLiteral("http") : QStringLiteral("https"),
                 shown.listenText(),
                 m_options.password ? QStringLiteral("parola ile") : QStringLiteral("parolasız"),
                 openChannelsText(m_mask), settingsPath(m_settingsFolder)));
    return true;
}

void WebServer::serve(Route route, const QString &arg, const QHttpServerRequest &request,
                      QHttpServerResponder &&responder)
{
    const QByteArray host = request.value("Host");
    const QString from = request.remoteAddress().toString();
    const QString what =
        methodName(request.method()) + u' ' + shownText(request.url().path().toUtf8(), 128);
    // A page of another site that had its name point here (DNS rebinding)
    // gets nothing.
    if (!hostAllowed(host)) {
        logLine(QStringLiteral("Reddedildi: %1 (%2), Host \"%3\" bu sunucunun adı değil")
                    .arg(what, from, shownText(host)));
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
        !sameOrigin(request.value("Origin"), host, request.value("Sec-Fetch-Site"))) {
        logLine(QStringLiteral("Reddedildi: %1 (%2), başka bir siteden: \"%3\"")
                    .arg(what, from, shownText(request.value("Origin"))));
        return replyError(responder, Status::Forbidden,
                          QStringLiteral("Başka bir siteden gelen değişiklik reddedildi"));
    }

    if (route == Route::Page)
        return serveFile(QStringLiteral("index.html"), responder);
    if (route == Route::File)
        return serveFile(arg, responder);

    if (route == Route::Login) {
        if (!m_options.password)
            return reply(responder, Status::NoContent, JsonType, {});
        if (!sameSecret(request.body(), m_options.password->toUtf8()))
            return refuseLater(request.remoteAddress(), std::move(responder));
        m_wrongTries.remove(from);
        QByteArray cookie = SessionCookie + '=' + newSession() +
                            "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" +
                            QByteArray::number(SessionHours * 3600);
        if (!m_options.certFile.isEmpty())
            cookie += "; Secure";
        logLine(QStringLiteral("Oturum açıldı: %1").arg(from));
        return reply(responder, Status::NoContent, JsonType, {}, {{"Set-Cookie", cookie}});
    }

    switch (authorize(request.value("Authorization"), request.value("Cookie"))) {
    case Auth::Granted:
        break;
    case Auth::Missing:
        return replyError(responder, Status::Unauthorized, QStringLiteral("Parola gerekli"),
                          {{"WWW-Authenticate", "Bearer realm=\"relo-web\""}});
    case Auth::Wrong:
        return refuseLater(request.remoteAddress(), std::move(responder));
    }
    m_wrongTries.remove(from);

    const QByteArray body = request.body().trimmed();
    const QString given = shownText(body);
    switch (route) {
    case Route::State:
        return reply(responder, Status::Ok, JsonType, stateJson());
    case Route::Live:
        return replyError(responder, Status::UpgradeRequired,
                          QStringLiteral("Bu adres bir WebSocket bağlantısı bekler"),
                          {{"Upgrade", "websocket"}});
    case Route::Channel: {
        const bool validChannel = arg.size() == 1 && arg.at(0) >= u'1' && arg.at(0) <= u'8';
        if (!validChannel)
            return replyError(
                responder, Status::BadRequest,
                QStringLiteral("Geçersiz çıkış: \"%1\" (1-8 olmalı)").arg(shownText(arg.toUtf8())));
        const Mask bit = channelBit(arg.at(0).digitValue());
        if (body == "ON" || body == "1")
            return change(what + QStringLiteral(" \"%1\"").arg(given), {bit, bit}, request,
                          std::move(responder));
        if (body == "OFF" || body == "0")
            return change(what + QStringLiteral(" \"%1\"").arg(given), {bit, 0}, request,
                          std::move(responder));
        return replyError(
            responder, Status::BadRequest,
            QStringLiteral("Geçersiz değer: \"%1\" (ON, OFF, 1 veya 0 olmalı)").arg(given));
    }
    case Route::WholeMask: {
        bool ok =
            !body.isEmpty() && body.size() <= 3 &&
            std::all_of(body.begin(), body.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int mask = ok ? body.toInt() : -1;
        if (mask < 0 || mask > 255)
            return replyError(responder, Status::BadRequest,
                              QStringLiteral("Geçersiz maske: \"%1\" (0-255 olmalı)").arg(given));
        return change(what + QStringLiteral(" \"%1\"").arg(given), {0xFF, Mask(mask)}, request,
                      std::move(responder));
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

void WebServer::change(const QString &what, const MaskChange &change,
                       const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    const QString from = request.remoteAddress().toString();
    if (m_stopping) {
        logLine(QStringLiteral("Yok sayıldı: %1 (%2; durduruluyor)").arg(what, from));
        return replyError(responder, Status::ServiceUnavailable,
                          QStringLiteral("relo-web durduruluyor"));
    }
    logLine(QStringLiteral("Komut: %1 (%2)").arg(what, from));
    auto held = std::make_unique<Held>(Held{responder.socket(), std::move(responder)});
    m_waiting.emplace(m_queue->submit(change), std::move(held));
}

void WebServer::refuseLater(const QHostAddress &address, QHttpServerResponder &&responder)
{
    const QString from = address.toString();
    if (m_wrongTries.size() >= MaxTrackedAddresses && !m_wrongTries.contains(from))
        m_wrongTries.clear();
    const int tries = ++m_wrongTries[from];
    const int delay = std::min(RefusalDelayMs << std::min(tries - 1, 10), MaxRefusalDelayMs);
    logLine(QStringLiteral("Yanlış parola: %1 (%2. deneme)").arg(from).arg(tries));
    auto held = std::make_shared<Held>(Held{responder.socket(), std::move(responder)});
    QTimer::singleShot(delay, this, [held] {
        if (held->socket)
            replyError(held->responder, Status::Unauthorized, QStringLiteral("Yanlış parola"),
                       {{"WWW-Authenticate", "Bearer realm=\"relo-web\""}});
    });
}

bool WebServer::hostAllowed(const QByteArray &header) const
{
    QByteArray host = header.trimmed().toLower();
    if (host.startsWith('[')) {
        const qsizetype end = host.indexOf(']');
        if (end < 0 || (end + 1 < host.size() && host.at(end + 1) != ':'))
            return false;
        host = host.mid(1, end - 1);
    } else if (host.count(':') == 1) {
        host = host.left(host.indexOf(':'));
    }
    if (host.isEmpty())
        return false;
    const QString name = QString::fromLatin1(host);
    if (name == QLatin1String("localhost") || m_options.allowedHosts.contains(name))
        return true;
    QHostAddress address;
    if (!address.setAddress(name))
        return false;
    const QHostAddress &listening = m_options.address;
    if (listening == QHostAddress::Any || listening == QHostAddress::AnyIPv4 ||
        listening == QHostAddress::AnyIPv6) {
        const QList<QHostAddress> own = QNetworkInterface::allAddresses();
        return std::any_of(own.begin(), own.end(), [&](const QHostAddress &mine) {
            return mine.isEqual(address, QHostAddress::TolerantConversion);
        });
    }
    return address.isEqual(listening, QHostAddress::TolerantConversion);
}

bool WebServer::sameOrigin(const QByteArray &origin, const QByteArray &host,
                           const QByteArray &fetchSite) const
{
    if (fetchSite == "cross-site" || fetchSite == "same-site")
        return false;
    if (origin.isEmpty())
        return true; // not a browser: a script or a tool
    const QByteArray scheme = m_options.certFile.isEmpty() ? "http://" : "https://";
    return origin.trimmed().toLower() == scheme + host.trimmed().toLower();
}

WebServer::Auth WebServer::authorize(const QByteArray &authorization, const QByteArray &cookie)
{
    if (!m_options.password)
        return Auth::Granted;
    if (authorization.startsWith("Bearer "))
        return sameSecret(authorization.mid(7).trimmed(), m_options.password->toUtf8())
                   ? Auth::Granted
                   : Auth::Wrong;
    const QByteArray session = cookieValue(cookie, SessionCookie);
    const auto it = m_sessions.constFind(session);
    if (!session.isEmpty() && it != m_sessions.constEnd()) {
        if (!it->hasExpired())
            return Auth::Granted;
        m_sessions.remove(session);
    }
    return Auth::Missing;
}

QByteArray WebServer::newSession()
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = it->hasExpired() ? m_sessions.erase(it) : std::next(it);
    if (m_sessions.size() >= MaxSessions)
        m_sessions.erase(m_sessions.begin());
    QByteArray random(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(random.data()),
                                          random.size() / 4);
    const QByteArray token = random.toHex();
    m_sessions.insert(token, QDeadlineTimer(qint64(SessionHours) * 3600 * 1000));
    return token;
}

void WebServer::onWebSocket()
{
    while (m_http->hasPendingWebSocketConnections()) {
        QWebSocket *socket = m_http->nextPendingWebSocketConnection().release();
        if (!socket)
            break;
        socket->setParent(this);
        m_guard->upgraded(socket->peerAddress(), socket->peerPort());
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            m_live.remove(socket);
            socket->deleteLater();
        });
        const QNetworkRequest request = socket->request();
        const QByteArray host = request.rawHeader("Host");
        const QString from = socket->peerAddress().toString();
        QString refusal;
        if (m_stopping)
            refusal = QStringLiteral("durduruluyor");
        else if (socket->requestUrl().path() != QLatin1String("/api/live"))
            refusal = QStringLiteral("bilinmeyen adres");
        else if (!hostAllowed(host))
            refusal = QStringLiteral("Host \"%1\" bu sunucunun adı değil").arg(shownText(host));
        else if (!sameOrigin(socket->origin().toUtf8(), host, {}))
            refusal = QStringLiteral("başka bir siteden: \"%1\"")
                          .arg(shownText(socket->origin().toUtf8()));
        if (!refusal.isEmpty()) {
            logLine(QStringLiteral("WebSocket reddedildi (%1): %2").arg(from, refusal));
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
            continue;
        }
        switch (authorize(request.rawHeader("Authorization"), request.rawHeader("Cookie"))) {
        case Auth::Granted:
            break;
        case Auth::Missing:
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QStringLiteral("Parola gerekli"));
            continue;
        case Auth::Wrong: {
            const int tries = ++m_wrongTries[from];
            logLine(QStringLiteral("Yanlış parola: %1 (%2. deneme)").arg(from).arg(tries));
            QTimer::singleShot(
                std::min(RefusalDelayMs << std::min(tries - 1, 10), MaxRefusalDelayMs), socket,
                [socket] {
                    socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                                  QStringLiteral("Yanlış parola"));
                });
            continue;
        }
        }
        socket->setMaxAllowedIncomingMessageSize(ConnectionGuard::MaxBody);
        socket->setMaxAllowedIncomingFrameSize(ConnectionGuard::MaxBody);
        connect(socket, &QWebSocket::pong, this, [this, socket] {
            if (m_live.contains(socket))
                m_live[socket] = true;
        });
        m_live.insert(socket, true);
        socket->sendTextMessage(QString::fromUtf8(stateJson()));
    }
}

void WebServer::onBatchStarted(Mask newMask)
{
    logLine(QStringLiteral("Gönderiliyor: %1").arg(openChannelsText(newMask)));
    adopt(newMask);
}

void WebServer::onFinished(int id, CommandQueue::Outcome outcome, const QString &error)
{
    const auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return;
    const std::unique_ptr<Held> held = std::move(it->second);
    m_waiting.erase(it);
    if (outcome != CommandQueue::Outcome::Sent) {
        m_failure = error;
        // Every change of a batch finishes at once: one line for all of them.
        if (!m_failureQueued) {
            m_failureQueued = true;
            QTimer::singleShot(0, this, [this] {
                m_failureQueued = false;
                logLine(m_failure);
                finishStopWhenDone();
            });
        }
    }
    switch (outcome) {
    case CommandQueue::Outcome::Sent:
        // Sent by another process, whose save the watch may not have seen yet.
        m_watch->check();
        if (held->socket)
            reply(held->responder, Status::Ok, JsonType, stateJson());
        break;
    case CommandQueue::Outcome::NotSaved:
        // The frames went out: the state is what was sent.
        if (held->socket)
            reply(held->responder, Status::Ok, JsonType, stateJson(false));
        break;
    case CommandQueue::Outcome::PortFailed:
        // What did not go out is not on the wire: ayar.ini tells what is.
        adopt(maskSetting(readSetting(m_settingsFolder, PortDataKey)).value_or(0));
        if (held->socket)
            replyError(held->responder, Status::ServiceUnavailable, error);
        break;
    }
    finishStopWhenDone();
}

void WebServer::onFileChanged(Mask saved)
{
    if (saved == m_mask)
        return;
    logLine(QStringLiteral("ayar.ini değişti: %1").arg(openChannelsText(saved)));
    adopt(saved);
}

void WebServer::adopt(Mask mask)
{
    if (mask == m_mask)
        return;
    m_mask = mask;
    const QString state = QString::fromUtf8(stateJson());
    const QList<QWebSocket *> sockets = m_live.keys();
    for (QWebSocket *socket : sockets)
        socket->sendTextMessage(state);
}

QByteArray WebServer::stateJson(bool saved) const
{
    QJsonArray channels;
    for (int channel = 1; channel <= ChannelCount; ++channel)
        channels.append(bool(m_mask & channelBit(channel)));
    QJsonObject state{{QStringLiteral("mask"), m_mask}, {QStringLiteral("channels"), channels}};
    if (!saved)
        state.insert(QStringLiteral("saved"), false);
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

void WebServer::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    for (QTcpServer *server : m_http->servers())
        server->close();
    m_stopLimit->start(StopWaitMs);
    if (!m_waiting.empty() || m_failureQueued)
        logLine(QStringLiteral("Durduruluyor: gönderilmekte olan değişiklikler bekleniyor"));
    finishStopWhenDone();
}

void WebServer::finishStopWhenDone()
{
    if (m_stopLimit->isActive() && m_waiting.empty() && !m_failureQueued)
        finishStop();
}

void WebServer::finishStop()
{
    m_stopLimit->stop();
    m_queue->cancel();
    for (const auto &[id, held] : m_waiting) {
        if (held->socket)
            replyError(held->responder, Status::ServiceUnavailable,
                       QStringLiteral("relo-web durduruldu"));
    }
    m_waiting.clear();
    const QList<QWebSocket *> sockets = m_live.keys();
    for (QWebSocket *socket : sockets)
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    logLine(QStringLiteral("Durduruldu"));
    Q_EMIT stopped();
}

} // namespace relo
