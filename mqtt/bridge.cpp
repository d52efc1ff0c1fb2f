#include "mqtt/bridge.h"

#include "core/consoleline.h"
#include "mqtt_version.h"
#include "mqtt/mqttclient.h"
#include "core/servicecore.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace relo {

namespace {

const QString Online = QStringLiteral("online");
const QByteArray Offline = "offline";
const QString Model = QStringLiteral("RF alıcı, 8 çıkış");

// What a message under relo/<node> asks for.
struct Request
{
    enum Kind { Change, Output, UnknownTopic, BadPayload };
    Kind kind = UnknownTopic;
    MaskChange change;
};

// `name`: the topic below relo/<node>/.
Request readRequest(const QString &name, const QByteArray &payload)
{
    const bool channelTopic = name.size() >= 3 && name.at(1) == u'/' &&
                              channelNumber(QStringView(name).left(1)).has_value();
    if (name == QLatin1String("availability") || name == QLatin1String("mask") ||
        (channelTopic && name.mid(2) == QLatin1String("state")))
        return {Request::Output, {}}; // what this program publishes
    std::optional<MaskChange> change;
    if (name == QLatin1String("mask/set"))
        change = wholeMaskChange(payload);
    else if (channelTopic && name.mid(2) == QLatin1String("set"))
        change = switchChange(name.at(0).digitValue(), payload);
    else
        return {Request::UnknownTopic, {}};
    if (!change)
        return {Request::BadPayload, {}};
    return {Request::Change, *change};
}

} // namespace

QString Bridge::version()
{
    return QLatin1String(MqttVersion::Text);
}

Bridge::Bridge(const BridgeOptions &options, const QString &settingsFolder, SerialPort *port,
               QObject *parent)
    : QObject(parent), m_options(options), m_base(QStringLiteral("relo/") + options.node),
      m_core(new ServiceCore(settingsFolder, port, this)),
      m_client(new MqttClient({options.host, options.port, options.user, options.password,
                               options.caFile,
                               QStringLiteral("relo-mqtt-%1-%2")
                                   .arg(options.node)
                                   .arg(QCoreApplication::applicationPid()),
                               topic(QStringLiteral("availability")), Offline},
                              this))
{
    m_core->setFailureNote(QStringLiteral("; durum yeniden yayımlandı"));
    connect(m_core, &ServiceCore::stateChanged, this,
            [this](Mask, Mask changed, Mask again) { publishStates(Mask(changed | again)); });
    connect(m_core, &ServiceCore::ending, this, &Bridge::leave);
    connect(m_core, &ServiceCore::stopped, this, &Bridge::stopped);
    connect(m_client, &MqttClient::connected, this, &Bridge::onConnected);
    connect(m_client, &MqttClient::disconnected, this, &Bridge::onDisconnected);
    connect(m_client, &MqttClient::messageReceived, this, &Bridge::onMessage);
}

QString Bridge::topic(const QString &name) const
{
    return m_base + u'/' + name;
}

bool Bridge::start(QString *error)
{
    const Mask mask = m_core->start();
    m_client->subscribe(topic(QStringLiteral("#")));
    m_client->subscribe(m_options.discoveryPrefix + QStringLiteral("/status"));
    if (!m_client->start(error))
        return false;
    ServiceCore::log(
        QStringLiteral("relo-mqtt %1 başladı: aracı %2, konular %3/..., %4, ayar dosyası %5")
            .arg(version(), m_client->address(), m_base, openChannelsText(mask),
                 m_core->settingsFile()));
    return true;
}

void Bridge::publishStates(Mask channels)
{
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        if (channels & channelBit(channel))
            m_client->publish(topic(QStringLiteral("%1/state").arg(channel)),
                              (m_core->mask() & channelBit(channel)) ? "ON" : "OFF", true);
    }
    m_client->publish(topic(QStringLiteral("mask")), QByteArray::number(m_core->mask()), true);
}

void Bridge::publishAll()
{
    m_client->publish(topic(QStringLiteral("availability")), Online.toUtf8(), true);
    const QString id = QStringLiteral("relo_") + m_options.node;
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{id}},
        {QStringLiteral("name"), m_options.node == QLatin1String("relo")
                                     ? QStringLiteral("RELO")
                                     : QStringLiteral("RELO ") + m_options.node},
        {QStringLiteral("model"), Model},
        {QStringLiteral("sw_version"), version()}};
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        const QString name = QStringLiteral("cikis%1").arg(channel);
        const QJsonObject config{
            {QStringLiteral("name"), QStringLiteral("Çıkış %1").arg(channel)},
            {QStringLiteral("unique_id"), id + u'_' + name},
            {QStringLiteral("command_topic"), topic(QStringLiteral("%1/set").arg(channel))},
            {QStringLiteral("state_topic"), topic(QStringLiteral("%1/state").arg(channel))},
            {QStringLiteral("availability_topic"), topic(QStringLiteral("availability"))},
            {QStringLiteral("payload_on"), QStringLiteral("ON")},
            {QStringLiteral("payload_off"), QStringLiteral("OFF")},
            {QStringLiteral("qos"), 1},
            {QStringLiteral("device"), device}};
        m_client->publish(QStringLiteral("%1/switch/%2/%3/config")
                              .arg(m_options.discoveryPrefix, m_options.node, name),
                          QJsonDocument(config).toJson(QJsonDocument::Compact), true);
    }
    publishStates(0xFF);
}

void Bridge::onConnected()
{
    ServiceCore::log(QStringLiteral("Aracıya bağlanıldı: %1").arg(m_client->address()));
    publishAll();
}

void Bridge::onDisconnected(const QString &reason, bool wasConnected, int retryMs)
{
    const int seconds = retryMs / 1000;
    ServiceCore::log(
        wasConnected
            ? QStringLiteral("Aracı bağlantısı koptu (%1); %2 s sonra yeniden bağlanılacak")
                  .arg(reason)
                  .arg(seconds)
            : QStringLiteral("Aracıya bağlanılamadı: %1 (%2); %3 s sonra yeniden denenecek")
                  .arg(m_client->address(), reason)
                  .arg(seconds));
}

void Bridge::onMessage(const QString &topicName, const QByteArray &payload, bool retained)
{
    if (topicName == m_options.discoveryPrefix + QStringLiteral("/status")) {
        // Home Assistant started (again) and forgot its devices. A retained
        // "online" was there before this connection, which published already.
        if (payload == Online.toUtf8() && !retained) {
            ServiceCore::log(
                QStringLiteral("Home Assistant çevrimiçi: keşif ve durumlar yeniden yayımlandı"));
            publishAll();
        }
        return;
    }
    if (topicName != m_base && !topicName.startsWith(m_base + u'/'))
        return;
    const Request request = readRequest(topicName.mid(m_base.size() + 1), payload);
    const QString what = shownText(topicName.toUtf8(), 128) + QStringLiteral(" \"") +
                         shownText(payload) + QStringLiteral("\"");
    switch (request.kind) {
    case Request::Output:
        return;
    case Request::UnknownTopic:
        ServiceCore::log(QStringLiteral("Yok sayıldı: %1 (bilinmeyen konu)").arg(what));
        return;
    case Request::BadPayload:
        ServiceCore::log(QStringLiteral("Yok sayıldı: %1 (geçersiz değer)").arg(what));
        return;
    case Request::Change:
        break;
    }
    // A command kept by the broker would switch the outputs again on every
    // start of this program.
    if (retained) {
        ServiceCore::log(
            QStringLiteral("Yok sayıldı: %1 (aracıda saklanmış eski komut)").arg(what));
        return;
    }
    if (m_core->isStopping()) {
        ServiceCore::log(QStringLiteral("Yok sayıldı: %1 (durduruluyor)").arg(what));
        return;
    }
    m_core->submit(what, request.change);
}

void Bridge::stop()
{
    m_core->stop();
}

// Once, when stopping, the changes under way done: a clean leave, for which the
// broker does not publish the will, so "offline" is said here.
void Bridge::leave()
{
    m_client->publish(topic(QStringLiteral("availability")), Offline, true);
    m_client->stop();
}

} // namespace relo
