#pragma once

#include "mqtt/bridgeoptions.h"
#include "link/frame.h"

#include <QObject>
#include <QString>

namespace relo {

class MqttClient;
class SerialPort;
class ServiceCore;

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
// The queue, the state and the stop are ServiceCore's: the states published
// are those on the wire, and when a change could not be sent the state is
// published again, so that a dashboard switch flips back. One line on standard
// error per event (connection, command, send, failure, ignored input), in
// Turkish.
class Bridge : public QObject
{
    Q_OBJECT
public:
    // relo-mqtt's version (mqtt/CMakeLists.txt).
    static QString version();

    // `port` is used, not owned; `settingsFolder` holds ayar.ini.
    Bridge(const BridgeOptions &options, const QString &settingsFolder, SerialPort *port,
           QObject *parent = nullptr);

    // Starts connecting (and keeps at it). False, with `error`, when the
    // connection settings are refused outright.
    bool start(QString *error);
    // Lets the changes under way finish, publishes "offline", leaves the broker,
    // then emits stopped(). SIGTERM, SIGINT and SIGHUP do the same.
    void stop();

Q_SIGNALS:
    void stopped();

private:
    QString topic(const QString &name) const;

    void onConnected();
    void onDisconnected(const QString &reason, bool wasConnected, int retryMs);
    void onMessage(const QString &topic, const QByteArray &payload, bool retained);
    void publishAll();
    void publishStates(Mask channels);
    void leave();

    const BridgeOptions m_options;
    const QString m_base; // relo/<node>
    ServiceCore *const m_core;
    MqttClient *const m_client;
};

} // namespace relo
