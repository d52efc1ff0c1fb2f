#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <type_traits>

namespace relo {

// Watches every connection the listening server accepts: at most MaxConnections
// at a time (HTTP and WebSocket alike; one more is closed at once), an HTTP
// connection with nothing going either way for IdleMs is closed, and one that
// sends a request bigger than the API takes gets 413 and is closed before the
// request is read whole.
class ConnectionGuard : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxConnections = 64;
    static constexpr int IdleMs = 30000;
    static constexpr qint64 MaxBody = 1024;
    // Headers and body of one request.
    static constexpr qint64 MaxRequest = 16 * 1024;

    explicit ConnectionGuard(QObject *parent = nullptr);
    ~ConnectionGuard() override;

    int openConnections() const { return *m_open; }
    // Whether one more connection may be accepted.
    bool admits() const { return *m_open < MaxConnections; }
    // Starts watching `socket` (nothing happens for one already watched).
    void watch(QTcpSocket *socket);
    // The connection from `address`:`port` became a WebSocket: it stays open
    // while idle and its messages are limited by the WebSocket itself.
    void upgraded(const QHostAddress &address, quint16 port);

    // The 413 answer, also used for a body that did reach a handler.
    static QByteArray tooLargeJson();

private:
    std::shared_ptr<int> m_open;
};

// A listening server (QTcpServer, or QSslServer for HTTPS) whose connections
// the guard watches from their first byte.
template <typename Server> class GuardedServer : public Server
{
public:
    GuardedServer(ConnectionGuard *guard, QObject *parent = nullptr)
        : Server(parent), m_guard(guard)
    {}

protected:
    void incomingConnection(qintptr handle) override
    {
        if (!m_guard->admits()) {
            QTcpSocket refused;
            refused.setSocketDescriptor(handle);
            refused.abort();
            return;
        }
        // A plain connection is handed to the HTTP server as soon as it is added,
        // and the server reads from it from then on: it is watched first, so
        // that the guard sees every chunk before the server does.
        if constexpr (std::is_same_v<Server, QTcpServer>) {
            auto *socket = new QTcpSocket(this);
            if (!socket->setSocketDescriptor(handle)) {
                delete socket;
                return;
            }
            m_guard->watch(socket);
            this->addPendingConnection(socket);
            return;
        }
        Server::incomingConnection(handle);
        // The new socket is a child of this server, in its handshake: the HTTP
        // server gets it once that is done.
        const auto sockets = this->template findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
        for (QTcpSocket *socket : sockets)
            m_guard->watch(socket);
    }

private:
    ConnectionGuard *const m_guard;
};

} // namespace relo
