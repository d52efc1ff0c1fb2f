#include "web/httpconnection.h"

#include "web/httpserver.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstring>

namespace relo {

namespace {

const char *reason(Status status)
{
    switch (status) {
    case Status::Ok:
        return "OK";
    case Status::NoContent:
        return "No Content";
    case Status::BadRequest:
        return "Bad Request";
    case Status::Unauthorized:
        return "Unauthorized";
    case Status::Forbidden:
        return "Forbidden";
    case Status::NotFound:
        return "Not Found";
    case Status::MethodNotAllowed:
        return "Method Not Allowed";
    case Status::RequestTimeout:
        return "Request Timeout";
    case Status::PayloadTooLarge:
        return "Payload Too Large";
    case Status::MisdirectedRequest:
        return "Misdirected Request";
    case Status::UpgradeRequired:
        return "Upgrade Required";
    case Status::TooManyRequests:
        return "Too Many Requests";
    case Status::HeadersTooLarge:
        return "Request Header Fields Too Large";
    case Status::ServiceUnavailable:
        return "Service Unavailable";
    }
    return "";
}

bool isToken(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c <= ' ' || c >= 127 || std::strchr("\"(),/:;<=>?@[\\]{}", c))
            return false;
    }
    return true;
}

// A decimal length, or -1.
qint64 lengthValue(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 15)
        return -1;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
    }
    return text.toLongLong();
}

bool hasToken(const QByteArray &list, const char *token)
{
    for (const QByteArray &item : list.split(',')) {
        if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// A chunk-size line's size (extensions ignored), or -1. Any size past the body
// limit reads as MaxBody + 1, so that a huge one cannot overflow.
qint64 chunkSize(const QByteArray &line)
{
    const qsizetype extension = line.indexOf(';');
    const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
    if (digits.isEmpty())
        return -1;
    qint64 size = 0;
    for (const char c : digits) {
        const int digit = QByteArray("0123456789abcdef").indexOf(char(c | 0x20));
        if (digit < 0)
            return -1;
        size = std::min(size * 16 + digit, HttpConnection::MaxBody + 1);
    }
    return size;
}

} // namespace

QByteArray HttpRequest::value(const QByteArray &name) const
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return {};
}

HttpResponder::HttpResponder(HttpResponder &&other) noexcept
    : m_connection(std::move(other.m_connection))
{
    other.m_connection.clear();
}

HttpResponder::~HttpResponder()
{
    if (m_connection && m_connection->isWaitingForAnswer())
        m_connection->abandon();
}

bool HttpResponder::isOpen() const
{
    return m_connection && m_connection->isWaitingForAnswer();
}

bool HttpResponder::isTls() const
{
    return m_connection && m_connection->isTls();
}

void HttpResponder::write(Status status, const Headers &headers, const QByteArray &body)
{
    if (isOpen())
        m_connection->write(status, headers, body);
}

HttpConnection::HttpConnection(QTcpSocket *socket, HttpServer *server, bool tls)
    : QObject(socket), m_socket(socket), m_server(server), m_timer(new QTimer(this)), m_tls(tls)
{
    // Qt reads no more than one whole request head ahead of what was taken.
    m_socket->setReadBufferSize(MaxHead);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &HttpConnection::onTimeout);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::process);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::onBytesWritten);
    m_timer->start(IdleMs);
    QMetaObject::invokeMethod(this, &HttpConnection::process, Qt::QueuedConnection);
}

void HttpConnection::process()
{
    for (;;) {
        bool more = false;
        switch (m_state) {
        case State::Head:
            more = readHead();
            break;
        case State::Body:
            more = readBody();
            break;
        case State::Chunked:
            more = readChunked();
            break;
        default:
            return;
        }
        if (!more)
            return;
    }
}

// Takes the request head once it is whole; false while it is not (or when it
// was refused, or handed over).
bool HttpConnection::readHead()
{
    // Blank lines before a request are allowed.
    while (m_socket->bytesAvailable() > 0) {
        const QByteArray start = m_socket->peek(2);
        if (start.startsWith("\r\n"))
            m_socket->skip(2);
        else if (start.startsWith('\n'))
            m_socket->skip(1);
        else
            break;
    }
    if (m_socket->bytesAvailable() <= 0)
        return false;
    if (!m_begun) {
        // The first byte of a request: all of it is due within RequestMs, however
        // slowly it comes.
        m_begun = true;
        m_timer->start(RequestMs);
    }
    const QByteArray data = m_socket->peek(MaxHead);
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0) {
        if (data.size() >= MaxHead)
            refuse(Status::HeadersTooLarge);
        return false;
    }
    const QList<QByteArray> lines = data.left(end).split('\n');
    HttpRequest request;
    request.peer = m_socket->peerAddress();
    request.tls = m_tls;
    bool bad = false;
    QByteArray version;
    int lengths = 0;
    int encodings = 0;
    qint64 length = 0;
    bool chunked = false;
    for (qsizetype i = 0; i < lines.size() && !bad; ++i) {
        QByteArray line = lines.at(i);
        if (i + 1 < lines.size()) {
            if (!line.endsWith('\r')) {
                bad = true; // a bare line feed
                break;
            }
            line.chop(1);
        }
        if (line.contains('\r') || line.contains('\0')) {
            bad = true;
            break;
        }
        if (i == 0) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() != 3 || !isToken(words.at(0)) || !words.at(1).startsWith('/') ||
                !std::all_of(words.at(1).begin(), words.at(1).end(),
                             [](char c) { return c > ' ' && c < 127; })) {
                bad = true;
                break;
            }
            request.method = words.at(0);
            version = words.at(2);
            bad = version != "HTTP/1.1" && version != "HTTP/1.0";
            const QByteArray target = words.at(1);
            const qsizetype query = target.indexOf('?');
            request.path = QUrl::fromPercentEncoding(query < 0 ? target : target.left(query));
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        if (colon <= 0 || !isToken(name)) {
            bad = true; // also a folded line, which starts with a blank
            break;
        }
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            ++lengths;
            length = lengthValue(value);
            bad = length < 0;
        } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            ++encodings;
            chunked = value.compare("chunked", Qt::CaseInsensitive) == 0;
            bad = !chunked;
        }
        request.headers.append({name, value});
    }
    // One length, or one encoding that is chunked: anything else could be read
    // one way here and another way by whatever stands in front of this server.
    if (bad || lengths > 1 || encodings > 1 || (lengths && encodings)) {
        refuse(Status::BadRequest);
        return false;
    }
    const QByteArray connection = request.value("Connection");
    m_keepAlive =
        version == "HTTP/1.1" ? !hasToken(connection, "close") : hasToken(connection, "keep-alive");
    if (request.method == "HEAD") {
        request.method = "GET";
        request.head = true;
    }
    // A WebSocket handshake is handed over unread: the WebSocket reads it.
    if (request.method == "GET" && !request.head && !lengths && !encodings &&
        hasToken(request.value("Upgrade"), "websocket") &&
        m_server->isWebSocketPath(request.path)) {
        m_state = State::Closing;
        m_timer->stop();
        disconnect(m_socket, nullptr, this, nullptr);
        m_server->upgrade(m_socket);
        deleteLater();
        return false;
    }
    m_socket->skip(end + 4);
    m_request = request;
    if (length > MaxBody) {
        refuse(Status::PayloadTooLarge);
        return false;
    }
    m_left = length;
    m_chunk = Chunk::Size;
    m_trailers = 0;
    m_state = chunked ? State::Chunked : State::Body;
    return true;
}

bool HttpConnection::readBody()
{
    if (m_left > 0) {
        const QByteArray part = m_socket->read(m_left);
        m_request.body += part;
        m_left -= part.size();
    }
    if (m_left > 0)
        return false;
    dispatch();
    return false;
}

bool HttpConnection::readChunked()
{
    switch (m_chunk) {
    case Chunk::Size:
    case Chunk::Trailer: {
        constexpr qint64 MaxLine = 1024;
        const QByteArray data = m_socket->peek(MaxLine);
        const qsizetype end = data.indexOf("\r\n");
        if (end < 0) {
            if (data.size() >= MaxLine)
                refuse(Status::BadRequest);
            return false;
        }
        m_socket->skip(end + 2);
        const QByteArray line = data.left(end);
        if (m_chunk == Chunk::Trailer) {
            m_trailers += end + 2;
            if (m_trailers > MaxHead) {
                refuse(Status::HeadersTooLarge);
                return false;
            }
            if (line.isEmpty())
                dispatch();
            return !line.isEmpty();
        }
        const qint64 size = chunkSize(line);
        if (size < 0) {
            refuse(Status::BadRequest);
            return false;
        }
        if (m_request.body.size() + size > MaxBody) {
            refuse(Status::PayloadTooLarge);
            return false;
        }
        m_left = size;
        m_chunk = size == 0 ? Chunk::Trailer : Chunk::Data;
        return true;
    }
    case Chunk::Data: {
        const QByteArray part = m_socket->read(m_left);
        m_request.body += part;
        m_left -= part.size();
        if (m_left > 0)
            return false;
        m_chunk = Chunk::End;
        return true;
    }
    case Chunk::End: {
        if (m_socket->bytesAvailable() < 2)
            return false;
        if (m_socket->read(2) != "\r\n") {
            refuse(Status::BadRequest);
            return false;
        }
        m_chunk = Chunk::Size;
        return true;
    }
    }
    return false;
}

void HttpConnection::dispatch()
{
    m_timer->stop();
    m_state = State::Answering;
    m_begun = false;
    HttpRequest request;
    std::swap(request, m_request);
    m_head = request.head;
    m_server->handle(request, HttpResponder(this));
}

// Answers and closes without reading any further.
void HttpConnection::refuse(Status status)
{
    m_timer->stop();
    m_state = State::Answering;
    m_begun = false;
    m_head = false;
    m_keepAlive = false;
    m_request = {};
    HttpResponder responder(this);
    m_server->refuse(responder, status);
}

void HttpConnection::write(Status status, const Headers &headers, const QByteArray &body)
{
    if (m_state != State::Answering)
        return;
    QByteArray text = "HTTP/1.1 " + QByteArray::number(int(status)) + ' ' + reason(status) + "\r\n";
    bool closeSaid = false;
    for (const auto &[name, value] : headers) {
        text += name + ": " + value + "\r\n";
        if (name.compare("Connection", Qt::CaseInsensitive) == 0 && hasToken(value, "close")) {
            closeSaid = true;
            m_keepAlive = false;
        }
    }
    if (!m_keepAlive && !closeSaid)
        text += "Connection: close\r\n";
    text += "\r\n";
    if (!m_head)
        text += body;
    m_socket->write(text);
    // An answer that is not taken within IdleMs ends the connection.
    m_timer->start(IdleMs);
    if (!m_keepAlive) {
        m_state = State::Closing;
        m_socket->disconnectFromHost();
        return;
    }
    m_state = State::Flushing;
    onBytesWritten();
}

void HttpConnection::abandon()
{
    m_state = State::Closing;
    m_socket->abort();
}

// The answer went out whole: the next request may be read.
void HttpConnection::onBytesWritten()
{
    if (m_state != State::Flushing || m_socket->bytesToWrite() > 0)
        return;
    m_state = State::Head;
    m_timer->start(IdleMs);
    QMetaObject::invokeMethod(this, &HttpConnection::process, Qt::QueuedConnection);
}

void HttpConnection::onTimeout()
{
    // A request begun and not finished in time is told so; a connection at
    // rest, or whose answer is not taken, simply ends.
    if (m_begun)
        refuse(Status::RequestTimeout);
    else
        abandon();
}

} // namespace relo
