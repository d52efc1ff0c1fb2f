#include "mqtt/mqttclient.h"

#include "platform/sockets.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace relo {

namespace {

constexpr int QoS = 1;
constexpr int HousekeepingMs = 1000;

QString errorText(int result, int error)
{
    switch (result) {
    case MOSQ_ERR_ERRNO:
        switch (error) {
        case ECONNREFUSED:
            return QStringLiteral("bağlantı reddedildi");
        case ETIMEDOUT:
            return QStringLiteral("zaman aşımı");
        case EHOSTUNREACH:
        case ENETUNREACH:
            return QStringLiteral("adrese ulaşılamıyor");
        case ECONNRESET:
        case EPIPE:
            return QStringLiteral("bağlantı koptu");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
        }
    case MOSQ_ERR_EAI:
        return QStringLiteral("ad çözülemedi");
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return QStringLiteral("bağlantı koptu");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("aracı yanıt vermiyor");
    case MOSQ_ERR_TLS:
        return QStringLiteral("TLS hatası");
    default:
        return QString::fromUtf8(mosquitto_strerror(result));
    }
}

QString refusalText(int code)
{
    switch (code) {
    case 4:
    case 134: // MQTT 5: bad user name or password
        return QStringLiteral("kullanıcı adı veya parola yanlış");
    case 5:
    case 135: // MQTT 5: not authorised
        return QStringLiteral("yetki yok");
    default:
        return QStringLiteral("aracı bağlantıyı geri çevirdi: %1")
            .arg(QString::fromUtf8(mosquitto_connack_string(code)));
    }
}

} // namespace

MqttLibrary::MqttLibrary()
{
    mosquitto_lib_init();
}

MqttLibrary::~MqttLibrary()
{
    mosquitto_lib_cleanup();
}

MqttClient::MqttClient(const Settings &settings, QObject *parent)
    : QObject(parent), m_settings(settings),
      m_handle(mosquitto_new(settings.clientId.isEmpty() ? nullptr
                                                         : settings.clientId.toUtf8().constData(),
                             true, this)),
      m_retry(new QTimer(this)), m_misc(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &MqttClient::attempt);
    m_misc->setInterval(HousekeepingMs);
    connect(m_misc, &QTimer::timeout, this, &MqttClient::housekeeping);
    if (m_handle) {
        mosquitto_connect_callback_set(m_handle, &MqttClient::onConnect);
        mosquitto_message_callback_set(m_handle, &MqttClient::onMessage);
        mosquitto_publish_callback_set(m_handle, &MqttClient::onPublish);
    }
}

MqttClient::~MqttClient()
{
    // Without stop() the connection just ends, as if the process had died: the
    // broker publishes the will.
    unwatchSocket();
    if (m_handle)
        mosquitto_destroy(m_handle);
}

QString MqttClient::address() const
{
    return QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.port);
}

bool MqttClient::start(QString *error)
{
    int result = m_handle ? MOSQ_ERR_SUCCESS : MOSQ_ERR_NOMEM;
    const QByteArray user = m_settings.user.toUtf8();
    const QByteArray password = m_settings.password.value_or(QString()).toUtf8();
    if (result == MOSQ_ERR_SUCCESS && !user.isEmpty())
        result = mosquitto_username_pw_set(m_handle, user.constData(),
                                           m_settings.password ? password.constData() : nullptr);
    const QByteArray will = m_settings.willTopic.toUtf8();
    if (result == MOSQ_ERR_SUCCESS && !will.isEmpty())
        result = mosquitto_will_set(m_handle, will.constData(), int(m_settings.willPayload.size()),
                                    m_settings.willPayload.constData(), QoS, true);
    if (result == MOSQ_ERR_SUCCESS && !m_settings.caFile.isEmpty())
        result = mosquitto_tls_set(m_handle, QFile::encodeName(m_settings.caFile).constData(),
                                   nullptr, nullptr, nullptr, nullptr);
    if (result != MOSQ_ERR_SUCCESS) {
        if (error)
            *error = errorText(result, errno);
        return false;
    }
    m_misc->start();
    // From the event loop, so that the caller sees the first outcome as a signal.
    m_retry->start(0);
    return true;
}

void MqttClient::attempt()
{
    if (m_state == State::Stopped)
        return;
    unwatchSocket();
    m_refusal.clear();
    // The name is resolved here, blocking; the connection itself is made in
    // the background and completes when the socket becomes writable.
    const int result = mosquitto_connect_async(m_handle, m_settings.host.toUtf8().constData(),
                                               m_settings.port, KeepAliveSeconds);
    if (result != MOSQ_ERR_SUCCESS) {
        fail(errorText(result, errno));
        return;
    }
    m_state = State::Connecting;
    m_attemptClock.start();
    watchSocket();
}

void MqttClient::onConnect(mosquitto *, void *self, int result)
{
    auto *client = static_cast<MqttClient *>(self);
    if (result != 0) {
        // The broker closes the connection next; the refusal is the reason.
        client->m_refusal = refusalText(result);
        return;
    }
    client->m_state = State::Connected;
    client->m_nextRetryMs = FirstRetryMs;
    for (const QString &filter : std::as_const(client->m_filters))
        mosquitto_subscribe(client->m_handle, nullptr, filter.toUtf8().constData(), QoS);
    Q_EMIT client->connected();
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *client = static_cast<MqttClient *>(self);
    Q_EMIT client->messageReceived(
        QString::fromUtf8(message->topic),
        QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
        message->retain);
}

void MqttClient::onPublish(mosquitto *, void *self, int id)
{
    static_cast<MqttClient *>(self)->m_unacknowledged.remove(id);
}

void MqttClient::readable()
{
    afterStep(mosquitto_loop_read(m_handle, 1));
}

void MqttClient::writable()
{
    afterStep(mosquitto_loop_write(m_handle, 1));
}

void MqttClient::housekeeping()
{
    if (m_state == State::Connecting && m_attemptClock.hasExpired(ConnectTimeoutMs))
        fail(QStringLiteral("zaman aşımı"));
    else if (m_state == State::Connected)
        afterStep(mosquitto_loop_misc(m_handle)); // keep-alive pings
}

// After every step of the library: a closed socket means the connection (or
// the attempt) is over; otherwise the socket is watched for what comes next.
void MqttClient::afterStep(int result)
{
    const int error = errno;
    if (m_state != State::Connecting && m_state != State::Connected)
        return;
    if (mosquitto_socket(m_handle) < 0) {
        fail(!m_refusal.isEmpty()         ? m_refusal
             : result == MOSQ_ERR_SUCCESS ? errorText(MOSQ_ERR_CONN_LOST, 0)
                                          : errorText(result, error));
        return;
    }
    watchSocket();
}

void MqttClient::watchSocket()
{
    const int fd = mosquitto_socket(m_handle);
    if (fd != m_fd) {
        unwatchSocket();
        if (fd < 0)
            return;
        m_fd = fd;
        m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(m_read, &QSocketNotifier::activated, this, &MqttClient::readable);
        m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        connect(m_write, &QSocketNotifier::activated, this, &MqttClient::writable);
    }
    m_write->setEnabled(mosquitto_want_write(m_handle));
}

void MqttClient::unwatchSocket()
{
    // Possibly from inside one of their own signals: deleted later.
    for (QSocketNotifier *notifier : {m_read, m_write}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_read = nullptr;
    m_write = nullptr;
    m_fd = -1;
}

void MqttClient::fail(const QString &reason)
{
    unwatchSocket();
    m_unacknowledged.clear();
    const bool wasConnected = m_state == State::Connected;
    m_state = State::Waiting;
    const int retryMs = m_nextRetryMs;
    m_nextRetryMs = qMin(2 * m_nextRetryMs, LastRetryMs);
    m_retry->start(retryMs);
    Q_EMIT disconnected(reason, wasConnected, retryMs);
}

void MqttClient::stop(int timeoutMs)
{
    m_retry->stop();
    m_misc->stop();
    unwatchSocket();
    const bool wasConnected = m_state == State::Connected;
    m_state = State::Stopped;
    if (!m_handle || !wasConnected)
        return;
    const QDeadlineTimer deadline(timeoutMs);
    // Acknowledged first: a broker that finds the connection closed before its
    // acknowledgement went out takes that for a failure and publishes the will.
    while (!m_unacknowledged.isEmpty() && mosquitto_socket(m_handle) >= 0 &&
           !deadline.hasExpired()) {
        const platform::SocketReadiness ready = platform::waitForSocket(
            mosquitto_socket(m_handle),
            mosquitto_want_write(m_handle) ? platform::SocketWait::ToReadOrWrite
                                           : platform::SocketWait::ToRead,
            int(deadline.remainingTime()));
        if (ready.writable)
            mosquitto_loop_write(m_handle, 1);
        if (ready.readable)
            mosquitto_loop_read(m_handle, 1);
    }
    // DISCONNECT goes out last; the library closes the socket once it is written.
    mosquitto_disconnect(m_handle);
    while (mosquitto_socket(m_handle) >= 0 && mosquitto_want_write(m_handle) &&
           !deadline.hasExpired()) {
        const platform::SocketReadiness ready =
            platform::waitForSocket(mosquitto_socket(m_handle), platform::SocketWait::ToWrite,
                                    int(deadline.remainingTime()));
        // Also when the connection failed: the write then tells the library.
        if (ready.any())
            mosquitto_loop_write(m_handle, 1);
    }
}

void MqttClient::subscribe(const QString &filter)
{
    m_filters << filter;
    if (m_state == State::Connected)
        mosquitto_subscribe(m_handle, nullptr, filter.toUtf8().constData(), QoS);
}

bool MqttClient::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (m_state != State::Connected)
        return false;
    int id = 0;
    const int result = mosquitto_publish(m_handle, &id, topic.toUtf8().constData(),
                                         int(payload.size()), payload.constData(), QoS, retain);
    if (result == MOSQ_ERR_SUCCESS)
        m_unacknowledged.insert(id);
    // Written at once when the socket takes it; the rest when it is writable.
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_handle));
    return result == MOSQ_ERR_SUCCESS;
}

} // namespace relo
