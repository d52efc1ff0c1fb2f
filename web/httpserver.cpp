#include "web/httpserver.h"

#include <QCoreApplication>
#include <QSslCipher>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocketServer>

namespace relo {

namespace {

// The address a client is counted by: an IPv4 address whole, an IPv6 one by
// its /64, which one household or one attacker gets as a whole.
QByteArray addressKey(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QByteArray::number(v4);
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    return QByteArray(reinterpret_cast<const char *>(v6.c), 8);
}

// TLS 1.2 and later, and only the suites whose keys a stolen certificate key
// cannot reveal afterwards: TLS 1.3's, and ECDHE or DHE with an AEAD cipher.
QSslConfiguration forwardSecret(QSslConfiguration tls)
{
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    QList<QSslCipher> ciphers;
    for (const QSslCipher &cipher : QSslConfiguration::supportedCiphers()) {
        const QString name = cipher.name();
        const bool tls13 = name.startsWith(QLatin1String("TLS_"));
        const bool ephemeral =
            name.startsWith(QLatin1String("ECDHE-")) || name.startsWith(QLatin1String("DHE-"));
        const bool aead = name.contains(QLatin1String("GCM")) ||
                          name.contains(QLatin1String("CHACHA20")) ||
                          name.contains(QLatin1String("CCM"));
        if (tls13 || (ephemeral && aead))
            ciphers.append(cipher);
    }
    tls.setCiphers(ciphers);
    return tls;
}

} // namespace

HttpServer::HttpServer(Handler handler, Refusal refusal, const QString &webSocketPath,
                       QObject *parent)
    : QTcpServer(parent), m_handler(std::move(handler)), m_refusal(std::move(refusal)),
      m_webSocketPath(webSocketPath),
      m_webSockets(new QWebSocketServer(QCoreApplication::applicationName() + u'/' +
                                            QCoreApplication::applicationVersion(),
                                        QWebSocketServer::NonSecureMode, this))
{
    m_webSockets->setHandshakeTimeout(std::chrono::milliseconds(HandshakeMs));
}

HttpServer::~HttpServer()
{
    // The sockets go before the counts they would update.
    const auto sockets = findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
    for (QTcpSocket *socket : sockets)
        disconnect(socket, nullptr, this, nullptr);
}

void HttpServer::setTls(const QSslConfiguration &tls)
{
    m_tls = forwardSecret(tls);
}

void HttpServer::incomingConnection(qintptr handle)
{
    QTcpSocket *socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    // Never more than one request head ahead, even before a TLS handshake is done.
    socket->setReadBufferSize(HttpConnection::MaxHead);
    const QByteArray key = addressKey(socket->peerAddress());
    int &fromAddress = m_perAddress[key];
    if (m_open >= MaxConnections || fromAddress >= MaxPerAddress) {
        if (fromAddress == 0)
            m_perAddress.remove(key);
        socket->abort();
        delete socket;
        return;
    }
    ++m_open;
    ++fromAddress;
    connect(socket, &QObject::destroyed, this, [this, key] {
        --m_open;
        if (--m_perAddress[key] <= 0)
            m_perAddress.remove(key);
    });
    connect(socket, &QAbstractSocket::stateChanged, socket,
            [socket](QAbstractSocket::SocketState state) {
                if (state == QAbstractSocket::UnconnectedState)
                    socket->deleteLater();
            });
    if (!m_tls) {
        new HttpConnection(socket, this, false);
        return;
    }
    auto *secure = static_cast<QSslSocket *>(socket);
    secure->setSslConfiguration(*m_tls);
    connect(secure, &QSslSocket::encrypted, this,
            [this, secure] { new HttpConnection(secure, this, true); });
    // A handshake that never finishes would hold the slot for ever.
    QTimer::singleShot(HandshakeMs, secure, [secure] {
        if (!secure->isEncrypted())
            secure->abort();
    });
    secure->startServerEncryption();
}

void HttpServer::handle(const HttpRequest &request, HttpResponder &&responder)
{
    m_handler(request, std::move(responder));
}

void HttpServer::refuse(HttpResponder &responder, Status status)
{
    m_refusal(responder, status);
}

void HttpServer::upgrade(QTcpSocket *socket)
{
    m_webSockets->handleConnection(socket);
}

} // namespace relo
