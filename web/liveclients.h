#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QTimer;
class QWebSocket;
class QWebSocketServer;

namespace relo {

class Access;

// The open pages and scripts on GET /api/live: each WebSocket the server
// accepts is checked as a request is (path, Host, origin, password), is told
// the state at once and on every tell(), and is closed when its peer no longer
// answers pings.
class LiveClients : public QObject
{
    Q_OBJECT
public:
    LiveClients(QWebSocketServer *server, Access *access, QObject *parent = nullptr);

    // The state (JSON) for every WebSocket, now and for those to come.
    void tell(const QByteArray &state);
    // Closes every WebSocket as going away, and accepts none from now on.
    void closeAll();
    int count() const { return int(m_sockets.size()); }

private:
    void accept();
    QString refusal(QWebSocket *socket) const;
    void admit(QWebSocket *socket);
    void join(QWebSocket *socket);

    QWebSocketServer *const m_server;
    Access *const m_access;
    QTimer *const m_ping;
    QString m_state;
    QHash<QWebSocket *, bool> m_sockets; // -> answered the last ping
    bool m_closed = false;
};

} // namespace relo
