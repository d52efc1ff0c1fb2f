#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

class QTcpSocket;
class QTimer;

namespace relo {

class HttpConnection;
class HttpServer;

using Headers = QList<QPair<QByteArray, QByteArray>>;

enum class Status {
    Ok = 200,
    NoContent = 204,
    BadRequest = 400,
    Unauthorized = 401,
    Forbidden = 403,
    NotFound = 404,
    MethodNotAllowed = 405,
    RequestTimeout = 408,
    PayloadTooLarge = 413,
    MisdirectedRequest = 421,
    UpgradeRequired = 426,
    TooManyRequests = 429,
    HeadersTooLarge = 431,
    ServiceUnavailable = 503,
};

// One whole request, read within the limits of its connection.
struct HttpRequest
{
    QByteArray method; // GET, PUT, ...; HEAD arrives as GET with `head` set
    bool head = false;
    QString path; // decoded, without the query
    Headers headers;
    QByteArray body;
    QHostAddress peer;
    bool tls = false;

    // The first header named `name` (any case), trimmed; empty when there is none.
    QByteArray value(const QByteArray &name) const;
};

// Where the answer to one request goes. Answered once; one dropped without an
// answer ends its connection, which would otherwise wait for it for ever.
class HttpResponder
{
public:
    explicit HttpResponder(HttpConnection *connection = nullptr) : m_connection(connection) {}
    HttpResponder(HttpResponder &&other) noexcept;
    HttpResponder &operator=(HttpResponder &&other) = delete;
    HttpResponder(const HttpResponder &) = delete;
    HttpResponder &operator=(const HttpResponder &) = delete;
    ~HttpResponder();

    // Whether the connection is still there to be answered.
    bool isOpen() const;
    bool isTls() const;
    // The status line, `headers`, and the body (none for HEAD).
    void write(Status status, const Headers &headers, const QByteArray &body);

private:
    QPointer<HttpConnection> m_connection;
};

// One HTTP/1.1 connection, read strictly and never further than the limits:
// a request head of at most MaxHead bytes that must be whole within RequestMs
// of its first byte, a body of at most MaxBody bytes (Content-Length, or
// chunked and counted as it comes) due within the same time. One request at a
// time: the next one is not read before the answer to this one went out, so
// answers keep the order of their requests. A request that breaks a rule is
// answered (400, 408, 413, 431) and the connection closed without reading on.
// Between requests a connection may rest IdleMs.
class HttpConnection : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxHead = 16 * 1024;
    static constexpr qint64 MaxBody = 1024;
    static constexpr int RequestMs = 10000;
    static constexpr int IdleMs = 30000;

    // A child of `socket`; `server` handles what it reads.
    HttpConnection(QTcpSocket *socket, HttpServer *server, bool tls);

    bool isTls() const { return m_tls; }
    bool isWaitingForAnswer() const { return m_state == State::Answering; }
    void write(Status status, const Headers &headers, const QByteArray &body);
    // An answer that will never come: the connection ends.
    void abandon();

private:
    enum class State { Head, Body, Chunked, Answering, Flushing, Closing };
    enum class Chunk { Size, Data, End, Trailer };

    void process();
    bool readHead();
    bool readBody();
    bool readChunked();
    void dispatch();
    void refuse(Status status);
    void onTimeout();
    void onBytesWritten();

    QTcpSocket *const m_socket;
    HttpServer *const m_server;
    QTimer *const m_timer;
    const bool m_tls;
    State m_state = State::Head;
    Chunk m_chunk = Chunk::Size;
    HttpRequest m_request;
    qint64 m_left = 0;     // bytes of the body (or of its chunk) still to come
    qint64 m_trailers = 0; // bytes of trailer lines so far
    bool m_begun = false;  // a request's first byte came: its deadline runs
    bool m_head = false;   // the request being answered is a HEAD
    bool m_keepAlive = true;
};

} // namespace relo
