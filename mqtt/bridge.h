#pragma once

#include "bridgeoptions.h"
#include "commandqueue.h"
#include "frame.h"

#include <QHash>
#include <QObject>
#include <QString>

class QTimer;

namespace relo {

class MqttClient;
class SerialPort;
class StateWatcher;

// relo-mqtt: the eight outputs as MQTT topics, under relo/<node>:
//
//   availability   "online" / "offline", retained; "offline" is also the will
//   <n>/set        n = 1..8: "ON" or "1" switches channel n on, "OFF" or "0" off
//   <n>/state      "ON" / "OFF", retained
//   mask/set       0..255: all eight channels at once
//   mask           the channel mask, retained
//
// and, for Home Assistant, a retained switch config per channel at
// <prefix>/switch/<node>/cikis<n>/config, published again whenever
// <prefix>/status says "online".
//
// Every change goes through the same queue as RELOKomut (CommandQueue, on the
// same ayar.ini), with the first frame sent at once. The states published are
// those on the wire: a batch's as it starts (kept even when ayar.ini could not
// be written), those of ayar.ini after any other program (RELOKomut, the port
// setup) changed the file, and, when a change could not be sent, those of
// ayar.ini again, so that a dashboard switch flips back.
//
// One line on standard error per event (connection, command, send, failure,
// ignored input), in Turkish.
class Bridge : public QObject
{
    Q_OBJECT
public:
    // How long a stop waits for changes still on their way to the wire.
    static constexpr int StopWaitMs = 15000;

    // relo-mqtt's version (mqtt/CMakeLists.txt).
    static QString version();

    // `port` is used, not owned; `settingsFolder` holds ayar.ini.
    Bridge(const BridgeOptions &options, const QString &settingsFolder, SerialPort *port,
           QObject *parent = nullptr);

    // Starts connecting (and keeps at it). False, with `error`, when the
    // connection settings are refused outright.
    bool start(QString *error);
    // Lets the changes under way finish, publishes "offline", leaves the broker,
    // then emits stopped().
    void stop();

Q_SIGNALS:
    void stopped();

private:
    QString topic(const QString &name) const;
    void log(const QString &line) const;

    void onConnected();
    void onDisconnected(const QString &reason, bool wasConnected, int retryMs);
    void onMessage(const QString &topic, const QByteArray &payload, bool retained);
    void onBatchStarted(Mask newMask);
    void onFinished(int id, CommandQueue::Outcome outcome, const QString &error);
    void reportFailures();
    void onFileChanged(Mask saved);
    void adopt(Mask mask, Mask republish);
    void publishAll();
    void publishStates(Mask channels);
    void finishStopWhenDone();
    void finishStop();

    const BridgeOptions m_options;
    const QString m_settingsFolder;
    const QString m_base; // relo/<node>
    CommandQueue *const m_queue;
    MqttClient *const m_client;
    StateWatcher *const m_watcher; // PortData in ayar.ini
    QTimer *const m_stopLimit;

    Mask m_mask = 0; // as on the wire, and as published
    QHash<int, MaskChange> m_underWay;
    // Changes that could not be sent, reported once per batch.
    Mask m_failedChannels = 0;
    QString m_failure;
    bool m_failureQueued = false;
    bool m_stopping = false;
};

} // namespace relo
