#include "web/liveclients.h"

#include "core/consoleline.h"
#include "web/access.h"
#include "web/httpconnection.h"

#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace relo {

namespace {

constexpr int PingMs = 30000;

} // namespace

LiveClients::LiveClients(QWebSocketServer *server, Access *access, QObject *parent)
    : QObject(parent), m_server(server), m_access(access), m_ping(new QTimer(this))
{
    connect(m_server, &QWebSocketServer::newConnection, this, &LiveClients::accept);
    // A WebSocket whose peer went away without a word is found by its missing pong.
    connect(m_ping, &QTimer::timeout, this, [this] {
        const QList<QWebSocket *> sockets = m_sockets.keys();
        for (QWebSocket *socket : sockets) {
            if (!m_sockets.value(socket)) {
                socket->abort();
                continue;
            }
            m_sockets[socket] = false;
            socket->ping();
        }
    });
    m_ping->start(PingMs);
}

void LiveClients::tell(const QByteArray &state)
{
    m_state = QString::fromUtf8(state);
    const QList<QWebSocket *> sockets = m_sockets.keys();
    for (QWebSocket *socket : sockets)
        socket->sendTextMessage(m_state);
}

void LiveClients::closeAll()
{
    m_closed = true;
    const QList<QWebSocket *> sockets = m_sockets.keys();
    for (QWebSocket *socket : sockets)
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
}

void LiveClients::accept()
{
    while (m_server->hasPendingConnections()) {
        QWebSocket *socket = m_server->nextPendingConnection();
        if (!socket)
            break;
        socket->setParent(this);
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            m_sockets.remove(socket);
            socket->deleteLater();
        });
        const QString why = refusal(socket);
        if (!why.isEmpty()) {
            printLine(stderr, QStringLiteral("WebSocket reddedildi (%1): %2")
                                  .arg(socket->peerAddress().toString(), why));
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
            continue;
        }
        admit(socket);
    }
}

QString LiveClients::refusal(QWebSocket *socket) const
{
    const QByteArray host = socket->request().rawHeader("Host");
    if (m_closed)
        return QStringLiteral("durduruluyor");
    if (socket->requestUrl().path() != QLatin1String("/api/live"))
        return QStringLiteral("bilinmeyen adres");
    if (!m_access->hostAllowed(host))
        return QStringLiteral("Host \"%1\" bu sunucunun adı değil").arg(shownText(host));
    if (!m_access->sameOrigin(socket->origin().toUtf8(), host, {}))
        return QStringLiteral("başka bir siteden: \"%1\"")
            .arg(shownText(socket->origin().toUtf8()));
    return {};
}

void LiveClients::admit(QWebSocket *socket)
{
    const QNetworkRequest request = socket->request();
    QByteArray password;
    switch (m_access->authorize(request.rawHeader("Authorization"), request.rawHeader("Cookie"),
                                &password)) {
    case Access::Auth::Granted:
        return join(socket);
    case Access::Auth::Missing:
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                      QStringLiteral("Parola gerekli"));
        return;
    case Access::Auth::Password:
        break;
    }
    m_access->checkPassword(
        socket->peerAddress(), password,
        [this, held = QPointer<QWebSocket>(socket)](GuessGuard::Verdict verdict, int) {
            if (!held)
                return;
            if (m_closed)
                held->close(QWebSocketProtocol::CloseCodeGoingAway);
            else if (verdict == GuessGuard::Verdict::Right)
                join(held);
            else
                held->close(QWebSocketProtocol::CloseCodePolicyViolated,
                            verdict == GuessGuard::Verdict::Wrong
                                ? QStringLiteral("Yanlış parola")
                                : QStringLiteral("Çok fazla parola denemesi"));
        });
}

void LiveClients::join(QWebSocket *socket)
{
    socket->setMaxAllowedIncomingMessageSize(HttpConnection::MaxBody);
    socket->setMaxAllowedIncomingFrameSize(HttpConnection::MaxBody);
    connect(socket, &QWebSocket::pong, this, [this, socket] {
        if (m_sockets.contains(socket))
            m_sockets[socket] = true;
    });
    m_sockets.insert(socket, true);
    socket->sendTextMessage(m_state);
}

} // namespace relo
