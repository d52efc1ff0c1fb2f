#pragma once

#include "web/httpconnection.h"

#include <QHash>
#include <QSslConfiguration>
#include <QTcpServer>

#include <functional>
#include <optional>

class QWebSocketServer;

namespace relo {

// relo-web's listening socket, HTTP or HTTPS, owning every connection from its
// first byte: at most MaxConnections at a time and MaxPerAddress from one
// address (IPv6 counted by its /64), so that one client cannot keep the others
// out; one more is closed at once. Over HTTPS the handshake must be done within
// HandshakeMs, with a forward-secret cipher suite. Requests go to the handler;
// a WebSocket handshake on the WebSocket path goes to webSockets(), and counts
// against both limits while it is open.
class HttpServer : public QTcpServer
{
    Q_OBJECT
public:
    static constexpr int MaxConnections = 64;
    static constexpr int MaxPerAddress = 8;
    static constexpr int HandshakeMs = 10000;

    using Handler = std::function<void(const HttpRequest &, HttpResponder &&)>;
    // Writes the answer to a request refused before it reached the handler.
    using Refusal = std::function<void(HttpResponder &, Status)>;

    HttpServer(Handler handler, Refusal refusal, const QString &webSocketPath,
               QObject *parent = nullptr);
    ~HttpServer() override;

    // HTTPS from now on, with the certificate and key of `tls`.
    void setTls(const QSslConfiguration &tls);
    QWebSocketServer *webSockets() const { return m_webSockets; }
    int openConnections() const { return m_open; }

    // For HttpConnection.
    bool isWebSocketPath(const QString &path) const { return path == m_webSocketPath; }
    void handle(const HttpRequest &request, HttpResponder &&responder);
    void refuse(HttpResponder &responder, Status status);
    void upgrade(QTcpSocket *socket);

protected:
    void incomingConnection(qintptr handle) override;

private:
    const Handler m_handler;
    const Refusal m_refusal;
    const QString m_webSocketPath;
    QWebSocketServer *const m_webSockets;
    std::optional<QSslConfiguration> m_tls;
    int m_open = 0;
    QHash<QByteArray, int> m_perAddress; // open connections by address (IPv6: /64)
};

} // namespace relo
