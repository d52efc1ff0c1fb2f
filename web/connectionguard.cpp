#include "web/connectionguard.h"

#include <QPointer>
#include <QTimer>

namespace relo {

namespace {

const char *const WatchName = "relo-connection";

// Lives as a child of its socket, so that it ends with it whoever deletes it
// (the HTTP server, or the WebSocket that took the socket over).
class Watch : public QObject
{
public:
    Watch(QTcpSocket *socket, std::shared_ptr<int> open)
        : QObject(socket), m_socket(socket), m_open(std::move(open)), m_idle(new QTimer(this))
    {
        setObjectName(QLatin1String(WatchName));
        ++*m_open;
        m_idle->setSingleShot(true);
        m_idle->start(ConnectionGuard::IdleMs);
        connect(m_idle, &QTimer::timeout, this, [this] {
            if (!m_webSocket)
                m_socket->abort();
        });
        // Connected before the HTTP server's own: each chunk is seen here first.
        connect(socket, &QTcpSocket::readyRead, this, &Watch::onRead);
        connect(socket, &QTcpSocket::bytesWritten, this, [this] {
            if (m_webSocket)
                return;
            m_idle->start();
            m_received = 0; // an answer went out: the next bytes are a new request
        });
    }
    ~Watch() override { --*m_open; }

    void upgrade()
    {
        m_webSocket = true;
        m_idle->stop();
    }

private:
    void onRead()
    {
        if (m_webSocket || m_refused)
            return;
        m_idle->start();
        const qint64 chunk = m_socket->bytesAvailable();
        bool tooLarge = m_received + chunk > ConnectionGuard::MaxRequest;
        if (m_received == 0 && !tooLarge) {
            // A request that announces a body the API would refuse is refused
            // before the body comes.
            const QByteArray head = m_socket->peek(chunk).toLower();
            const qsizetype header = head.indexOf("\ncontent-length:");
            if (header >= 0) {
                const qsizetype end = head.indexOf('\n', header + 1);
                bool ok = false;
                const qint64 length = head.mid(header + 16, end < 0 ? -1 : end - header - 16)
                                          .trimmed()
                                          .toLongLong(&ok);
                tooLarge = ok && length > ConnectionGuard::MaxBody;
            }
        }
        m_received += chunk;
        if (!tooLarge)
            return;
        m_refused = true;
        m_socket->readAll();
        const QByteArray body = ConnectionGuard::tooLargeJson();
        m_socket->write("HTTP/1.1 413 Payload Too Large\r\n"
                        "Content-Type: application/json; charset=utf-8\r\n"
                        "Connection: close\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\n\r\n" + body);
        m_socket->disconnectFromHost();
    }

    QTcpSocket *const m_socket;
    const std::shared_ptr<int> m_open;
    QTimer *const m_idle;
    qint64 m_received = 0;
    bool m_webSocket = false;
    bool m_refused = false;
};

} // namespace

ConnectionGuard::ConnectionGuard(QObject *parent)
    : QObject(parent), m_open(std::make_shared<int>(0))
{}

ConnectionGuard::~ConnectionGuard() = default;

void ConnectionGuard::watch(QTcpSocket *socket)
{
    if (!socket->findChild<QObject *>(QLatin1String(WatchName), Qt::FindDirectChildrenOnly))
        new Watch(socket, m_open);
}

void ConnectionGuard::upgraded(const QHostAddress &address, quint16 port)
{
    // The WebSocket does not tell which socket it took over: the peer does.
    const auto watches = parent()->findChildren<QObject *>(QLatin1String(WatchName));
    for (QObject *child : watches) {
        auto *watch = static_cast<Watch *>(child);
        auto *socket = static_cast<QTcpSocket *>(watch->parent());
        if (socket->peerPort() == port && socket->peerAddress().isEqual(address))
            watch->upgrade();
    }
}

QByteArray ConnectionGuard::tooLargeJson()
{
    return QStringLiteral("{\"error\":\"İstek çok büyük (en çok %1 bayt)\"}").arg(MaxBody).toUtf8();
}

} // namespace relo
