#include "bridge.h"

#include "consoleline.h"
#include "mqtt_version.h"
#include "mqttclient.h"
#include "settingsfile.h"
#include "settingsfolder.h"
#include "statewatcher.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

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

// `name`: the topic below relo/<node>/. Payloads are compared whole, so one of
// any size is read safely.
Request readRequest(const QString &name, const QByteArray &payload)
{
    const bool channelTopic =
        name.size() >= 3 && name.at(0) >= u'1' && name.at(0) <= u'8' && name.at(1) == u'/';
    if (name == QLatin1String("availability") || name == QLatin1String("mask") ||
        (channelTopic && name.mid(2) == QLatin1String("state")))
        return {Request::Output, {}}; // what this program publishes
    if (name == QLatin1String("mask/set")) {
        bool ok = payload.size() <= 3 && !payload.isEmpty();
        for (const char c : payload)
            ok = ok && c >= '0' && c <= '9';
        const int mask = ok ? payload.toInt() : -1;
        if (mask < 0 || mask > 255)
            return {Request::BadPayload, {}};
        return {Request::Change, {0xFF, Mask(mask)}};
    }
    if (!channelTopic || name.mid(2) != QLatin1String("set"))
        return {Request::UnknownTopic, {}};
    const Mask bit = channelBit(name.at(0).digitValue());
    if (payload == "ON" || payload == "1")
        return {Request::Change, {bit, bit}};
    if (payload == "OFF" || payload == "0")
        return {Request::Change, {bit, 0}};
    return {Request::BadPayload, {}};
}

} // namespace

QString Bridge::version()
{
    return QStringLiteral("%1.%2.%3")
        .arg(MqttVersion::Major)
        .arg(MqttVersion::Minor)
        .arg(MqttVersion::Revision);
}

Bridge::Bridge(const BridgeOptions &options, const QString &settingsFolder, SerialPort *port,
               QObject *parent)
    : QObject(parent), m_options(options), m_settingsFolder(settingsFolder),
      m_base(QStringLiteral("relo/") + options.node),
      m_queue(new CommandQueue(port, settingsFolder, this)),
      m_client(new MqttClient({options.host, options.port, options.user, options.password,
                               options.caFile,
                               QStringLiteral("relo-mqtt-%1-%2")
                                   .arg(options.node)
                                   .arg(QCoreApplication::applicationPid()),
                               topic(QStringLiteral("availability")), Offline},
                              this)),
      m_watcher(new StateWatcher(settingsFolder, this)), m_stopLimit(new QTimer(this))
{
    m_queue->setFirstFrameAtOnce(true); // a switch must feel instant
    connect(m_queue, &CommandQueue::batchStarted, this, &Bridge::onBatchStarted);
    connect(m_queue, &CommandQueue::finished, this, &Bridge::onFinished);
    connect(m_client, &MqttClient::connected, this, &Bridge::onConnected);
    connect(m_client, &MqttClient::disconnected, this, &Bridge::onDisconnected);
    connect(m_client, &MqttClient::messageReceived, this, &Bridge::onMessage);
    connect(m_watcher, &StateWatcher::maskChanged, this, &Bridge::onFileChanged);
    connect(m_watcher, &StateWatcher::polling, this,
            [this] { log(QStringLiteral("ayar.ini izlenemiyor; saniyede bir okunacak")); });
    m_stopLimit->setSingleShot(true);
    connect(m_stopLimit, &QTimer::timeout, this, &Bridge::finishStop);
}

QString Bridge::topic(const QString &name) const
{
    return m_base + u'/' + name;
}

void Bridge::log(const QString &line) const
{
    printLine(stderr, line);
}

bool Bridge::start(QString *error)
{
    m_mask = m_watcher->start();
    m_client->subscribe(topic(QStringLiteral("#")));
    m_client->subscribe(m_options.discoveryPrefix + QStringLiteral("/status"));
    if (!m_client->start(error))
        return false;
    log(QStringLiteral("relo-mqtt %1 başladı: aracı %2, konular %3/..., %4, ayar dosyası %5")
            .arg(version(), m_client->address(), m_base, openChannelsText(m_mask),
                 settingsPath(m_settingsFolder)));
    return true;
}

// A new PortData in ayar.ini: another program (RELOKomut, the port setup)
// switched the outputs.
void Bridge::onFileChanged(Mask saved)
{
    if (saved == m_mask)
        return;
    log(QStringLiteral("ayar.ini değişti: %1").arg(openChannelsText(saved)));
    adopt(saved, 0);
}

// Takes `mask` as the state and publishes the channels that changed, and those
// of `republish` in any case.
void Bridge::adopt(Mask mask, Mask republish)
{
    const Mask channels = Mask((mask ^ m_mask) | republish);
    m_mask = mask;
    if (channels)
        publishStates(channels);
}

void Bridge::publishStates(Mask channels)
{
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        if (channels & channelBit(channel))
            m_client->publish(topic(QStringLiteral("%1/state").arg(channel)),
                              (m_mask & channelBit(channel)) ? "ON" : "OFF", true);
    }
    m_client->publish(topic(QStringLiteral("mask")), QByteArray::number(m_mask), true);
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
    log(QStringLiteral("Aracıya bağlanıldı: %1").arg(m_client->address()));
    publishAll();
}

void Bridge::onDisconnected(const QString &reason, bool wasConnected, int retryMs)
{
    const int seconds = retryMs / 1000;
    log(wasConnected
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
            log(QStringLiteral("Home Assistant çevrimiçi: keşif ve durumlar yeniden yayımlandı"));
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
        log(QStringLiteral("Yok sayıldı: %1 (bilinmeyen konu)").arg(what));
        return;
    case Request::BadPayload:
        log(QStringLiteral("Yok sayıldı: %1 (geçersiz değer)").arg(what));
        return;
    case Request::Change:
        break;
    }
    // A command kept by the broker would switch the outputs again on every
    // start of this program.
    if (retained) {
        log(QStringLiteral("Yok sayıldı: %1 (aracıda saklanmış eski komut)").arg(what));
        return;
    }
    if (m_stopping) {
        log(QStringLiteral("Yok sayıldı: %1 (durduruluyor)").arg(what));
        return;
    }
    log(QStringLiteral("Komut: %1").arg(what));
    m_underWay.insert(m_queue->submit(request.change), request.change);
}

void Bridge::onBatchStarted(Mask newMask)
{
    log(QStringLiteral("Gönderiliyor: %1").arg(openChannelsText(newMask)));
    adopt(newMask, 0);
}

void Bridge::onFinished(int id, CommandQueue::Outcome outcome, const QString &error)
{
    const MaskChange change = m_underWay.take(id);
    if (outcome != CommandQueue::Outcome::Sent) {
        // Not saved, the frames still went out: the state published at the start
        // of the batch is the one on the wire and stays. Only a change that never
        // left goes back to what ayar.ini says.
        if (outcome == CommandQueue::Outcome::PortFailed)
            m_failedChannels |= change.channels;
        m_failure = error;
        // Every change of a batch finishes at once: one line for all of them.
        if (!m_failureQueued) {
            m_failureQueued = true;
            QTimer::singleShot(0, this, &Bridge::reportFailures);
        }
        return;
    }
    // Sent by another process, whose save the watch may not have seen yet.
    m_watcher->check();
    finishStopWhenDone();
}

void Bridge::reportFailures()
{
    m_failureQueued = false;
    const Mask failed = m_failedChannels;
    m_failedChannels = 0;
    log(failed ? QStringLiteral("%1; durum yeniden yayımlandı").arg(m_failure) : m_failure);
    // The changes that did not go out are not in ayar.ini: its state is published
    // again, so that whoever asked sees the switch go back.
    if (failed)
        adopt(savedMask(m_settingsFolder), failed);
    finishStopWhenDone();
}

void Bridge::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_stopLimit->start(StopWaitMs);
    if (!m_underWay.isEmpty() || m_failureQueued)
        log(QStringLiteral("Durduruluyor: gönderilmekte olan değişiklikler bekleniyor"));
    finishStopWhenDone();
}

void Bridge::finishStopWhenDone()
{
    if (m_stopLimit->isActive() && m_underWay.isEmpty() && !m_failureQueued)
        finishStop();
}

// Once, when stopping: the changes under way are done, or StopWaitMs passed.
void Bridge::finishStop()
{
    m_stopLimit->stop();
    m_queue->cancel();
    m_underWay.clear();
    // A clean leave: the broker does not publish the will, so say it here.
    m_client->publish(topic(QStringLiteral("availability")), Offline, true);
    m_client->stop();
    log(QStringLiteral("Durduruldu"));
    Q_EMIT stopped();
}

} // namespace relo
