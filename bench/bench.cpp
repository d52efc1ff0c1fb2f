// relo-bench: measures RELO on pseudo-terminals against the floors that the
// serial line and the 250 ms timer set. Each subcommand prints rows of one
// Markdown table; bench.sh runs them in turn and adds the header.
#include "localbroker.h"
#include "mqttclient.h"
#include "portmap.h"
#include "portscan.h"
#include "pseudoterminal.h"
#include "realserialport.h"
#include "stats.h"
#include "transmitter.h"
#include "wirerecorder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <sys/resource.h>

using namespace std::chrono;

namespace {

double ms(Clock::duration d)
{
    return duration<double, std::milli>(d).count();
}

// Maps every port 1..10 to nothing, then `mapped` (port -> path) on top, so the
// machine's own serial devices never take part.
void mapPorts(const std::vector<std::pair<int, QString>> &mapped)
{
    for (int n = 1; n <= 10; ++n)
        qputenv(qPrintable(QStringLiteral("RELO_COM%1").arg(n)), "/nonexistent/relo-bench");
    for (const auto &[port, path] : mapped)
        qputenv(qPrintable(QStringLiteral("RELO_COM%1").arg(port)), path.toLocal8Bit());
}

// Runs the event loop until `done` holds, checking every 10 ms.
void spinUntil(const std::function<bool()> &done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(10);
    loop.exec();
}

long maxRssKiB(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_maxrss;
}

// RELOKomut from exec to exit, the spacing of its four frames, its peak memory.
int benchKomut(const QString &binDir, int runs)
{
    relo::PseudoTerminal pty;
    if (!pty.open()) {
        std::fprintf(stderr, "pty: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("RELOKomut"));
    QFile::copy(binDir + QStringLiteral("/RELOKomut"), program);
    QFile ini(dir.filePath(QStringLiteral("ayar.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[RELO]\nPortNumber=1\nPortData=0\n");
    ini.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (int n = 2; n <= 10; ++n)
        env.insert(QStringLiteral("RELO_COM%1").arg(n), QStringLiteral("/nonexistent/relo-bench"));
    env.insert(QStringLiteral("RELO_COM1"), pty.slavePath());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    WireRecorder wire(pty.masterFd());
    std::vector<double> wall;
    std::vector<double> spacing;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProgram(program);
        p.setArguments({i % 2 ? QStringLiteral("03-0") : QStringLiteral("03-1")});
        const Clock::time_point start = Clock::now();
        p.start();
        p.waitForFinished(10000);
        wall.push_back(ms(Clock::now() - start));
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            ++failures;
        // The last frame has left before the process exits; give the reader a moment.
        spinUntil([&] {
            return wire.frameCount() >= size_t(4 * (i + 1)) || ms(Clock::now() - start) > 3000;
        });
        SpacingTracker().add(wire.take(), spacing); // within one run only
    }
    const Stats w = summarise(wall);
    printRow(QStringLiteral("RELOKomut exec→exit"), w, QStringLiteral("ms"), 1000,
             QStringLiteral("≤ 1.05 × floor"), w.median <= 1050 && failures == 0);
    const Stats d = summarise(spacing);
    printRow(QStringLiteral("RELOKomut frame spacing, deviation from 250 ms"), d,
             QStringLiteral("ms"), 0, QStringLiteral("p99 ≤ 2 ms"), d.p99 <= 2);
    const double rss = double(maxRssKiB(RUSAGE_CHILDREN)) / 1024.0;
    printValue(QStringLiteral("RELOKomut peak memory"), rss, QStringLiteral("MB"),
               QStringLiteral("≤ 40 MB"), rss <= 40);
    if (failures)
        std::fprintf(stderr, "%d of %d runs did not exit 0\n", failures, runs);
    return 0;
}

// The continuous transmitter: spacing of frames on the wire over `ticks` ticks.
int benchTicks(int ticks)
{
    relo::PseudoTerminal pty;
    if (!pty.open())
        return 1;
    mapPorts({{1, pty.slavePath()}});
    WireRecorder wire(pty.masterFd());
    relo::RealSerialPort port;
    if (port.openPort(1) != relo::SerialPort::OpenError::None)
        return 1;
    relo::FrameTransmitter tx(&port, [] { return relo::Mask(0x5A); });
    tx.startContinuous();
    spinUntil([&] { return wire.frameCount() >= size_t(ticks + 1); });
    tx.stop();
    std::vector<double> spacing;
    SpacingTracker().add(wire.take(), spacing);
    const Stats d = summarise(spacing);
    printRow(QStringLiteral("Panel tick spacing, deviation from 250 ms (%1 ticks)").arg(ticks), d,
             QStringLiteral("ms"), 0, QStringLiteral("p99 ≤ 2 ms"), d.p99 <= 2);
    return 0;
}

// scanPorts over ports 1..10: nothing present, then two pseudo-terminals mapped.
int benchScan(int rounds)
{
    const auto measure = [rounds] {
        relo::RealSerialPort port;
        std::vector<double> times;
        for (int i = 0; i < rounds; ++i) {
            int count = 0;
            const Clock::time_point start = Clock::now();
            relo::scanPorts(
                port, [](const QString &) {}, count);
            times.push_back(ms(Clock::now() - start));
        }
        return summarise(times);
    };
    mapPorts({});
    Stats s = measure();
    printRow(QStringLiteral("Port scan, no device"), s, QStringLiteral("ms"), 0,
             QStringLiteral("≤ 20 ms"), s.worst <= 20);
    relo::PseudoTerminal a;
    relo::PseudoTerminal b;
    if (!a.open() || !b.open())
        return 1;
    mapPorts({{3, a.slavePath()}, {7, b.slavePath()}});
    s = measure();
    printRow(QStringLiteral("Port scan, two ptys"), s, QStringLiteral("ms"), 0,
             QStringLiteral("≤ 20 ms"), s.worst <= 20);
    for (int n = 1; n <= 10; ++n)
        qunsetenv(qPrintable(QStringLiteral("RELO_COM%1").arg(n)));
    s = measure();
    printRow(QStringLiteral("Port scan, system devices (%1)").arg(relo::systemSerialPorts().size()),
             s, QStringLiteral("ms"), 0, QStringLiteral("≤ 20 ms"), s.worst <= 20);
    return 0;
}

// relo-mqtt: an MQTT publish to the first frame on the wire, one change at a
// time; and eight "ON" messages at once to the last frame of their mask.
int benchMqtt(const QString &binDir, int runs)
{
    const relo::MqttLibrary library;
    QTemporaryDir dir;
    relo::LocalBroker broker(dir.path());
    relo::PseudoTerminal pty;
    if (!broker.start() || !pty.open()) {
        std::fprintf(stderr, "mqtt: %s\n", qPrintable(broker.errorString()));
        return 1;
    }
    const QString program = dir.filePath(QStringLiteral("relo-mqtt"));
    QFile::copy(binDir + QStringLiteral("/relo-mqtt"), program);
    QFile ini(dir.filePath(QStringLiteral("ayar.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[RELO]\nPortNumber=1\nPortData=0\n[MQTT]\nHost=127.0.0.1\nPort=%1\n")
                  .arg(broker.port())
                  .toUtf8());
    ini.close();

    mapPorts({{1, pty.slavePath()}});
    WireRecorder wire(pty.masterFd());
    relo::MqttClient::Settings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.port();
    relo::MqttClient client(settings);
    QByteArray availability;
    QObject::connect(
        &client, &relo::MqttClient::messageReceived,
        [&](const QString &, const QByteArray &payload, bool) { availability = payload; });
    client.subscribe(QStringLiteral("relo/relo/availability"));
    client.start(nullptr);
    QProcess bridge;
    bridge.setStandardErrorFile(QProcess::nullDevice()); // its log would garble the table
    bridge.start(program, {});
    const Clock::time_point started = Clock::now();
    spinUntil([&] { return availability == "online" || ms(Clock::now() - started) > 10000; });
    if (availability != "online") {
        std::fprintf(stderr, "mqtt: relo-mqtt did not come online\n");
        return 1;
    }

    // Publishes `messages` and returns the time from the first to the first
    // frame and to the last frame that carries `mask` (after four of them).
    const auto send = [&](const QStringList &messages, quint8 mask) -> std::pair<double, double> {
        const Clock::time_point start = Clock::now();
        for (const QString &message : messages)
            client.publish(QStringLiteral("relo/relo/") + message.section(u'=', 0, 0),
                           message.section(u'=', 1).toUtf8(), false);
        std::vector<WireRecorder::Arrival> arrivals;
        int lastRun = 0;
        spinUntil([&] {
            for (const WireRecorder::Arrival &a : wire.take()) {
                arrivals.push_back(a);
                lastRun = a.frame && a.value == mask ? lastRun + 1 : 0;
            }
            return lastRun >= 4 || ms(Clock::now() - start) > 10000;
        });
        // The port is let go just after the last frame.
        spinUntil([&, end = Clock::now()] { return ms(Clock::now() - end) > 50; });
        if (lastRun < 4 || arrivals.empty())
            return {-1, -1};
        return {ms(arrivals.front().time - start), ms(arrivals.back().time - start)};
    };
    std::vector<double> first;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const bool on = i % 2 == 0;
        const double latency =
            send({on ? QStringLiteral("3/set=ON") : QStringLiteral("3/set=OFF")}, on ? 4 : 0).first;
        if (latency < 0)
            ++failures;
        else
            first.push_back(latency);
    }
    const Stats f = summarise(first);
    printRow(QStringLiteral("relo-mqtt publish → first frame on the wire"), f, QStringLiteral("ms"),
             0, QStringLiteral("median ≤ 20 ms, worst ≤ 100 ms"),
             f.median <= 20 && f.worst <= 100 && !failures);
    std::vector<double> last;
    for (int i = 0; i < std::max(3, runs / 4); ++i) {
        send({QStringLiteral("mask/set=0")}, 0);
        QStringList eight;
        for (int n = 1; n <= 8; ++n)
            eight << QStringLiteral("%1/set=ON").arg(n);
        const double end = send(eight, 255).second;
        if (end < 0)
            ++failures;
        else
            last.push_back(end);
    }
    // Two sends: the first message's at once, the other seven in the next batch.
    const Stats l = summarise(last);
    printRow(QStringLiteral("relo-mqtt eight ON messages → last frame"), l, QStringLiteral("ms"),
             1500, QStringLiteral("≤ 1.05 × floor"), l.median <= 1575 && !failures);
    bridge.terminate();
    bridge.waitForFinished(5000);
    if (failures)
        std::fprintf(stderr, "mqtt: %d sends did not reach the wire\n", failures);
    return 0;
}

void usage()
{
    std::fprintf(stderr, "usage: relo-bench komut BINDIR [RUNS] | ticks [TICKS] | scan [ROUNDS] |"
                         " click [CLICKS] | footprint [SECONDS] [--soak MINUTES] |"
                         " mqtt BINDIR [RUNS]\n");
}

} // namespace

int benchClick(int clicks);
int benchFootprint(int seconds, int soakMinutes);

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        usage();
        return 2;
    }
    const QString what = args.at(0);
    const auto number = [&](int i, int fallback) {
        return args.size() > i ? args.at(i).toInt() : fallback;
    };
    if (what == QStringLiteral("komut") && args.size() >= 2)
        return benchKomut(args.at(1), number(2, 20));
    if (what == QStringLiteral("mqtt") && args.size() >= 2)
        return benchMqtt(args.at(1), number(2, 40));
    if (what == QStringLiteral("ticks"))
        return benchTicks(number(1, 240));
    if (what == QStringLiteral("scan"))
        return benchScan(number(1, 50));
    if (what == QStringLiteral("click"))
        return benchClick(number(1, 200));
    if (what == QStringLiteral("footprint")) {
        const int soak = args.indexOf(QStringLiteral("--soak"));
        return benchFootprint(number(1, 30), soak > 0 ? number(soak + 1, 10) : 0);
    }
    usage();
    return 2;
}
