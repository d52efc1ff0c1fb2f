// The built relo-mqtt against a mosquitto broker of the test's own, with a
// pseudo-terminal standing in for the radio module and RELOKomut beside it.

#include "mqtt/bridgeoptions.h"
#include "dev/localbroker.h"
#include "mqtt/mqttclient.h"
#include "support/programs.h"
#include "support/servicebench.h"
#include "core/settingsfile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

#include <csignal>
#include <memory>

constexpr int Wait = 20000;
const QString Base = QStringLiteral("relo/test/");

class TestMqttBridge : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void commands_data();
    void commands();
    void lifetime();
    void notSaved();
    void options_data();
    void options();

private:
    void connectClient();
    void startBridge(int mask, const QStringList &stale = {});
    void publish(const QString &message, bool retain = false);
    QString log() { return m_bridge ? m_bridge->readLog() : QString(); }

    const relo::MqttLibrary m_library;
    ServiceBench m_bench;
    std::unique_ptr<relo::LocalBroker> m_broker;
    std::unique_ptr<ServiceProcess> m_bridge;
    std::unique_ptr<relo::MqttClient> m_client;
    QHash<QString, QByteArray> m_last;        // topic -> last payload
    QHash<QString, QByteArrayList> m_history; // topic -> payloads, in order
    QSet<QString> m_retained;                 // topics handed over as retained
};

void TestMqttBridge::initTestCase()
{
    std::signal(SIGPIPE, SIG_IGN);
    QVERIFY(m_bench.open(QStringLiteral("relo-mqtt")));
    m_broker = std::make_unique<relo::LocalBroker>(m_bench.folder());
    QVERIFY2(m_broker->start(), qPrintable(m_broker->errorString()));
}

void TestMqttBridge::cleanup()
{
    // As systemctl stop does: it ends and says "offline" itself.
    const bool stopped = !m_bridge || (m_bridge->stop() && QTest::qWaitFor([this] {
                                           return m_last.value(Base + "availability") == "offline";
                                       }));
    if (QTest::currentTestFailed())
        qWarning().noquote() << log();
    if (m_client)
        m_client->stop();
    m_client.reset();
    m_bridge.reset();
    QVERIFY(stopped);
}

void TestMqttBridge::connectClient()
{
    relo::MqttClient::Settings broker;
    broker.host = QStringLiteral("127.0.0.1");
    broker.port = m_broker->port();
    m_client = std::make_unique<relo::MqttClient>(broker);
    connect(m_client.get(), &relo::MqttClient::messageReceived, this,
            [this](const QString &topic, const QByteArray &payload, bool retained) {
                m_last.insert(topic, payload);
                m_history[topic] << payload;
                if (retained)
                    m_retained.insert(topic);
            });
    m_client->subscribe(QStringLiteral("#"));
    QVERIFY(m_client->start(nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(m_client->isConnected(), Wait);
}

// The [MQTT] section names the broker and a node that the command line overrides.
void TestMqttBridge::startBridge(int mask, const QStringList &stale)
{
    QVERIFY(m_bench.writeSettings(QStringLiteral("[RELO]\nPortNumber=3\nPortData=%1\n[MQTT]\n"
                                                 "Host=127.0.0.1\nPort=%2\nNode=fromfile\n")
                                      .arg(QString::number(mask), QString::number(m_broker->port()))
                                      .toUtf8()));
    m_last.clear();
    m_retained.clear();
    connectClient();
    for (const QString &message : stale)
        publish(message, true);
    m_bench.clearWire();
    m_bridge = m_bench.start({QStringLiteral("--node"), QStringLiteral("test")});
    QTRY_COMPARE_WITH_TIMEOUT(m_last.value(Base + "availability"), QByteArray("online"), Wait);
    QTRY_COMPARE(m_last.value(Base + "mask"), QByteArray::number(mask));
}

// "3/set=ON": payload ON to relo/test/3/set; a topic from relo/ on is taken as it is.
void TestMqttBridge::publish(const QString &message, bool retain)
{
    const QString topic = message.section(u'=', 0, 0);
    QVERIFY(m_client->publish(topic.startsWith("relo/") ? topic : Base + topic,
                              message.section(u'=', 1).toUtf8(), retain));
}

void TestMqttBridge::commands_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<QStringList>("messages"); // below relo/test/, "topic=payload"
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("maxFrames");
    QTest::addColumn<int>("ignored");       // log lines
    QTest::addColumn<QStringList>("stale"); // retained commands there before the bridge

    const QStringList none;
    QTest::newRow("1 and 0") << 4 << QStringList{"2/set=1", "3/set=0"} << 2 << 8 << 0 << none;
    QTest::newRow("whole mask") << 0 << QStringList{"mask/set=255"} << 255 << 4 << 0 << none;
    QStringList eightOff;
    for (int n = 1; n <= 8; ++n)
        eightOff << QStringLiteral("%1/set=OFF").arg(n);
    QTest::newRow("eight off") << 255 << eightOff << 0 << 12 << 0 << none;
    // Nothing sent, nothing saved: only the last, good, command reaches the wire.
    // Other nodes' topics (one sharing this node's name as a prefix, one as long
    // as it) and the level above are not this program's, and go unmentioned.
    const QStringList bad =
        QStringLiteral("3/set=FOO|3/set=|3/set=on|9/set=ON|0/set=OFF|3/set/x=ON|"
                       "3/get=ON|mask/set=256|mask/set=-1|mask/set= 12|relo/testx/3/set=ON|"
                       "relo/demo/3/set=ON|relo/3/set=ON")
            .split(u'|');
    QTest::newRow("bad input") << 0
                               << bad + QStringList{"3/set=" + QString(100000, u'1'), "8/set=ON"}
                               << 128 << 4 << 12 << QStringList{"5/set=ON"};
}

void TestMqttBridge::commands()
{
    QFETCH(int, before);
    QFETCH(QStringList, messages);
    QFETCH(int, after);
    QFETCH(int, maxFrames);
    QFETCH(int, ignored);
    QFETCH(QStringList, stale);

    startBridge(before, stale);
    for (const QString &message : std::as_const(messages))
        publish(message);
    const QList<int> masks = m_bench.frames(after);
    QVERIFY2(masks.size() >= 4 && masks.size() <= maxFrames, qPrintable(log()));
    QVERIFY(masks.mid(masks.size() - 4) == QList<int>(4, after));
    QTRY_COMPARE(m_last.value(Base + "mask"), QByteArray::number(after));
    for (int n = 1; n <= 8; ++n)
        QCOMPARE(m_last.value(Base + QString::number(n) + "/state"),
                 QByteArray(after & (1 << (n - 1)) ? "ON" : "OFF"));
    QCOMPARE(relo::readSetting(m_bench.folder(), relo::PortDataKey), QString::number(after));
    QTRY_COMPARE(int(log().count(QStringLiteral("Yok sayıldı"))), ignored);
    for (const QString &message : std::as_const(stale)) // an empty retained message clears it
        publish(message.section(u'=', 0, 0) + u'=', true);
}

// Discovery, a broker restart, a change from RELOKomut, and the end.
void TestMqttBridge::lifetime()
{
    startBridge(0);
    connectClient(); // a newcomer is handed the configs the broker keeps
    const QString configTopic = QStringLiteral("homeassistant/switch/test/cikis%1/config");
    for (int n = 1; n <= 8; ++n) {
        QTRY_VERIFY(m_retained.contains(configTopic.arg(n)));
        const auto config = QJsonDocument::fromJson(m_last.value(configTopic.arg(n))).object();
        QCOMPARE(config.value("command_topic").toString(), Base + QString::number(n) + "/set");
        QCOMPARE(config.value("state_topic").toString(), Base + QString::number(n) + "/state");
        // Unique on the broker too (another node's differ), and kept across versions.
        QCOMPARE(config.value("unique_id").toString(), "relo_test_cikis" + QString::number(n));
    }
    // Home Assistant restarted: everything again.
    const int published = m_history.value(configTopic.arg(1)).size();
    QVERIFY(m_client->publish(QStringLiteral("homeassistant/status"), "online", false));
    QTRY_VERIFY(m_history.value(configTopic.arg(1)).size() > published);
    // The broker restarted.
    m_broker->stop();
    QVERIFY2(m_broker->start(), qPrintable(m_broker->errorString()));
    m_last.clear();
    // Back by itself, with everything published again: the broker kept nothing.
    QTRY_COMPARE_WITH_TIMEOUT(m_last.value(Base + "availability"), QByteArray("online"), Wait);
    QTRY_VERIFY(m_last.contains(configTopic.arg(8)));
    QTRY_COMPARE(m_last.value(Base + "mask"), QByteArray("0"));
    publish(QStringLiteral("1/set=ON"));
    QTRY_COMPARE_WITH_TIMEOUT(m_last.value(Base + "1/state"), QByteArray("ON"), Wait);
    // A change RELOKomut makes is published too.
    QCOMPARE(runProgram(m_bench.path("RELOKomut"), {"06-1"}, m_bench.env).exitCode, 0);
    QTRY_COMPARE(m_last.value(Base + "mask"), QByteArray("33"));
    QCOMPARE(m_last.value(Base + "6/state"), QByteArray("ON"));
    // Killed, it is marked "offline" by the broker: the last will.
    ::kill(pid_t(m_bridge->process->processId()), SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(m_last.value(Base + "availability"), QByteArray("offline"), Wait);
    m_bridge.reset();
    // Kept by the broker for whoever comes later.
    m_retained.clear();
    connectClient();
    QTRY_VERIFY(m_retained.contains(Base + "availability"));
    QCOMPARE(m_last.value(Base + "availability"), QByteArray("offline"));
}

// An ayar.ini that cannot be written (here too large to be rewritten, which
// stops root as well): the states published are those that went out, the next
// change builds on them, and a change that fails leaves them as they are.
void TestMqttBridge::notSaved()
{
    startBridge(0);
    QFile ini(relo::settingsPath(m_bench.folder()));
    QVERIFY(ini.open(QIODevice::Append) && ini.write(QByteArray(2 << 20, '\n')) > 0 && ini.flush());
    m_history.clear();
    publish(QStringLiteral("3/set=ON"));
    QCOMPARE(m_bench.frames(4).size(), 4);
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(QStringLiteral("ayar.ini yazılamadı")), Wait);
    publish(QStringLiteral("5/set=ON"));
    QCOMPARE(m_bench.frames(20).size(), 4);
    QTRY_COMPARE(m_last.value(Base + "mask"), QByteArray("20"));
    QCOMPARE(m_history.value(Base + "3/state"), QByteArrayList{"ON"});
    // The radio module goes away: the switch asked for flips back, the rest
    // stays as sent, not as ayar.ini says.
    const int masks = m_history.value(Base + "mask").size();
    m_bench.wire.close();
    publish(QStringLiteral("1/set=ON"));
    QTRY_VERIFY_WITH_TIMEOUT(m_history.value(Base + "mask").size() > masks, Wait);
    QCOMPARE(m_last.value(Base + "mask"), QByteArray("20"));
    QCOMPARE(m_history.value(Base + "1/state"), QByteArrayList{"OFF"});
}

// The options of relo-mqtt's own, read in-process; the shared reader has its
// table in tst_settingsfile.
void TestMqttBridge::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error"); // empty: accepted

    QTest::newRow("node with a slash")
        << QStringList{"--node", "a/b"}
        << "Geçersiz düğüm adı: \"a/b\" (yalnız harf, rakam, _ ve -)";
    QTest::newRow("prefix with a wildcard")
        << QStringList{"--discovery-prefix=ha/#"} << "Geçersiz keşif öneki: \"ha/#\"";
    QTest::newRow("port 0") << QStringList{"--port", "0"}
                            << "Geçersiz port: \"0\" (1-65535 olmalı)";
    QTest::newRow("password without user")
        << QStringList{"--password-file", RELO_TEST_DATA "/ini-fresh.expected"}
        << "Parola için kullanıcı adı da gerekir (--user)";
    QTest::newRow("all given") << QStringList{"--host=h", "--port=1", "--node=n_1-",
                                              "--discovery-prefix=a/b"}
                               << QString();
}

void TestMqttBridge::options()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    const relo::ParsedOptions parsed = relo::parseBridgeOptions(args, {}, "/", {});
    QCOMPARE(parsed.error, error);
    QCOMPARE(parsed.action,
             error.isEmpty() ? relo::ServiceArguments::Run : relo::ServiceArguments::Misuse);
}

QTEST_GUILESS_MAIN(TestMqttBridge)
#include "tst_mqttbridge.moc"
