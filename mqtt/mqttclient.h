#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class QSocketNotifier;
class QTimer;
struct mosquitto;
struct mosquitto_message;

namespace relo {

// libmosquitto's global set-up, for as long as this lives: one in main(),
// before any MqttClient is made.
class MqttLibrary
{
public:
    MqttLibrary();
    ~MqttLibrary();
    MqttLibrary(const MqttLibrary &) = delete;
    MqttLibrary &operator=(const MqttLibrary &) = delete;
};

// An MQTT connection over libmosquitto, driven by Qt's event loop: the socket is
// watched with QSocketNotifier and the library's read, write and housekeeping
// steps run from there, on this thread.
//
// Once started it stays connected: a failed attempt or a lost connection is
// followed by another attempt after a pause that doubles from FirstRetryMs up to
// LastRetryMs and starts again from FirstRetryMs once connected. Subscriptions
// are made again on every connection.
class MqttClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LastRetryMs = 30000;
    static constexpr int KeepAliveSeconds = 30;
    // An attempt that has not been answered by then counts as failed.
    static constexpr int ConnectTimeoutMs = 10000;

    struct Settings
    {
        QString host;
        int port = 1883;
        QString user;                    // empty: no user name
        std::optional<QString> password; // sent only with a user name
        QString caFile;                  // not empty: TLS, the broker checked against it
        QString clientId;                // empty: one made up by the library
        QString willTopic;               // not empty: the broker publishes the will
        QByteArray willPayload;          // retained, when the connection is lost
    };

    explicit MqttClient(const Settings &settings, QObject *parent = nullptr);
    ~MqttClient() override;

    // Connects, and keeps connecting. False, with `error`, when the settings are
    // refused before any attempt (an unreadable CA file, for example).
    bool start(QString *error);
    // Leaves cleanly (the broker does not publish the will), waiting at most
    // `timeoutMs` for what was published to be acknowledged, then stays
    // disconnected.
    void stop(int timeoutMs = 2000);

    bool isConnected() const { return m_state == State::Connected; }
    QString address() const;

    // Kept, and made again on every connection.
    void subscribe(const QString &filter);
    // QoS 1. False when not connected: nothing is kept for later.
    bool publish(const QString &topic, const QByteArray &payload, bool retain);

Q_SIGNALS:
    // Connected and subscribed.
    void connected();
    // An attempt failed, or the connection was lost; the next attempt follows in `retryMs`.
    void disconnected(const QString &reason, bool wasConnected, int retryMs);
    // `retained`: a stored message handed over on subscribing, not a new one.
    void messageReceived(const QString &topic, const QByteArray &payload, bool retained);

private:
    enum class State { Idle, Waiting, Connecting, Connected, Stopped };

    static void onConnect(mosquitto *, void *self, int result);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);
    static void onPublish(mosquitto *, void *self, int id);

    void attempt();
    void readable();
    void writable();
    void housekeeping();
    void afterStep(int result);
    void watchSocket();
    void unwatchSocket();
    void fail(const QString &reason);

    const Settings m_settings;
    mosquitto *const m_handle;
    QTimer *const m_retry;
    QTimer *const m_misc;
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
    int m_fd = -1;
    State m_state = State::Idle;
    int m_nextRetryMs = FirstRetryMs;
    QElapsedTimer m_attemptClock;
    QString m_refusal; // why the broker refused the last attempt
    QStringList m_filters;
    QSet<int> m_unacknowledged; // ids of messages published and not yet acknowledged
};

} // namespace relo
