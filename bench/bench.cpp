// relo-bench: measures RELO on pseudo-terminals against the floors that the
// serial line and the 250 ms timer set. Each subcommand prints rows of one
// Markdown table; bench.sh runs them in turn and adds the header.
#include "platform/deviceholders.h"
#include "dev/localbroker.h"
#include "mqtt/mqttclient.h"
#include "link/portmap.h"
#include "core/portregistry.h"
#include "link/portscan.h"
#include "dev/pseudoterminal.h"
#include "link/realserialport.h"
#include "bench/stats.h"
#include "link/transmitter.h"
#include "bench/wirerecorder.h"

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
#include <memory>
#include <sys/resource.h>
#include <thread>

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

// A copy of RELOKomut in a folder of its own with ayar.ini (port 1, mask 0) and
// port 1 mapped to a pseudo-terminal, headless.
struct KomutSandbox
{
    relo::PseudoTerminal pty;
    QTemporaryDir dir;
    QString program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    bool open(const QString &binDir)
    {
        if (!pty.open()) {
            std::fprintf(stderr, "pty: %s\n", qPrintable(pty.errorString()));
            return false;
        }
        program = dir.filePath(QStringLiteral("RELOKomut"));
        QFile::copy(binDir + QStringLiteral("/RELOKomut"), program);
        resetSettings();
        for (int n = 2; n <= 10; ++n)
            env.insert(QStringLiteral("RELO_COM%1").arg(n),
                       QStringLiteral("/nonexistent/relo-bench"));
        env.insert(QStringLiteral("RELO_COM1"), pty.slavePath());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return true;
    }
    void resetSettings()
    {
        QFile ini(dir.filePath(QStringLiteral("ayar.ini")));
        ini.open(QIODevice::WriteOnly);
        ini.write("[RELO]\nPortNumber=1\nPortData=0\n");
    }
    QProcess *start(const QString &command, QObject *parent = nullptr)
    {
        auto *p = new QProcess(parent);
        p->setProcessEnvironment(env);
        p->start(program, {command});
        return p;
    }
};

// RELOKomut from exec to exit, the spacing of its four frames, its peak memory.
int benchKomut(const QString &binDir, int runs)
{
    KomutSandbox box;
    if (!box.open(binDir))
        return 1;
    WireRecorder wire(box.pty.masterFd());
    std::vector<double> wall;
    std::vector<double> spacing;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        const std::unique_ptr<QProcess> p(
            box.start(i % 2 ? QStringLiteral("03-0") : QStringLiteral("03-1")));
        p->waitForFinished(10000);
        wall.push_back(ms(Clock::now() - start));
        if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0)
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

// Eight RELOKomut processes for channels 1 to 8 started 20 ms apart, as a speech
// tool's "all on" does: from the first start to the last exit.
int benchBurst(const QString &binDir, int rounds)
{
    KomutSandbox box;
    if (!box.open(binDir))
        return 1;
    WireRecorder wire(box.pty.masterFd());
    std::vector<double> wall;
    int failures = 0;
    for (int r = 0; r < rounds; ++r) {
        box.resetSettings();
        wire.take();
        std::vector<std::unique_ptr<QProcess>> processes;
        const Clock::time_point start = Clock::now();
        for (int channel = 1; channel <= 8; ++channel) {
            if (channel > 1)
                std::this_thread::sleep_until(start + milliseconds(20 * (channel - 1)));
            processes.emplace_back(box.start(QStringLiteral("0%1-1").arg(channel)));
        }
        for (const auto &p : processes) {
            p->waitForFinished(20000);
            if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0)
                ++failures;
        }
        wall.push_back(ms(Clock::now() - start));
        // The last frame has left before its process exits; give the reader a moment.
        std::vector<WireRecorder::Arrival> arrivals;
        const auto allOn = [&] {
            return !arrivals.empty() && arrivals.back().frame && arrivals.back().value == 0xFF;
        };
        spinUntil([&] {
            const std::vector<WireRecorder::Arrival> more = wire.take();
            arrivals.insert(arrivals.end(), more.begin(), more.end());
            return allOn() || ms(Clock::now() - start) > 30000;
        });
        if (!allOn())
            ++failures;
    }
    const Stats w = summarise(wall);
    printRow(QStringLiteral("Eight RELOKomut, channels 1–8, 20 ms apart: first start→last exit"), w,
             QStringLiteral("ms"), 0, QStringLiteral("≤ 2500 ms, all switched"),
             w.worst <= 2500 && failures == 0);
    if (failures)
        std::fprintf(stderr, "burst: %d failures\n", failures);
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

// scanPorts over ports 1..10, each round with a port of its own, so every round
// looks at the devices, the port registry and /proc afresh, as a rescan in RELO
// does: nothing present, ten pseudo-terminals as adapters with by-id links, and
// the machine's own devices. The registry is one of the benchmark's own.
int benchScan(int rounds)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    int listed = 0;
    const auto measure = [rounds, &listed] {
        std::vector<double> times;
        for (int i = 0; i < rounds; ++i) {
            listed = 0;
            const Clock::time_point start = Clock::now();
            const std::unique_ptr<relo::RealSerialPort> port(relo::registeredSerialPort());
            listed = int(relo::openedPorts(relo::scanPorts(*port)).size());
            times.push_back(ms(Clock::now() - start));
        }
        return summarise(times);
    };
    mapPorts({});
    Stats s = measure();
    printRow(QStringLiteral("Port scan, no device"), s, QStringLiteral("ms"), 0,
             QStringLiteral("≤ 20 ms"), s.worst <= 20);

    std::vector<std::unique_ptr<relo::PseudoTerminal>> adapters;
    QDir(dir.path()).mkpath(QStringLiteral("serial/by-id"));
    for (int n = 1; n <= 10; ++n) {
        adapters.push_back(std::make_unique<relo::PseudoTerminal>());
        if (!adapters.back()->open() ||
            !QFile::link(adapters.back()->slavePath(),
                         dir.filePath(QStringLiteral("serial/by-id/usb-bench-%1").arg(n))))
            return 1;
        qunsetenv(qPrintable(QStringLiteral("RELO_COM%1").arg(n)));
    }
    qputenv("RELO_SERIAL_DIR", dir.filePath(QStringLiteral("serial")).toLocal8Bit());
    s = measure();
    printRow(QStringLiteral("Port scan, ten ptys through the registry"), s, QStringLiteral("ms"), 0,
             QStringLiteral("≤ 20 ms"), s.worst <= 20 && listed == 10);
    if (listed != 10)
        std::fprintf(stderr, "scan listed %d of 10 ptys\n", listed);

    // The part of a scan that looks through /proc for other holders of a device.
    std::vector<double> walks;
    for (int i = 0; i < rounds; ++i) {
        const Clock::time_point start = Clock::now();
        relo::platform::HeldDevices::now();
        walks.push_back(ms(Clock::now() - start));
    }
    s = summarise(walks);
    printRow(QStringLiteral("Port scan: look for other holders in /proc"), s, QStringLiteral("ms"),
             0, QStringLiteral("≤ 20 ms"), s.worst <= 20);

    qunsetenv("RELO_SERIAL_DIR");
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
    std::fprintf(stderr,
                 "usage: relo-bench komut BINDIR [RUNS] | burst BINDIR [ROUNDS] | ticks [TICKS] |"
                 " scan [ROUNDS] | click [CLICKS] | footprint [SECONDS] [--soak MINUTES] |"
                 " mqtt BINDIR [RUNS] | web BINDIR [RUNS]\n");
}

} // namespace

int benchClick(int clicks);
int benchFootprint(int seconds, int soakMinutes);
int benchWeb(const QString &binDir, int runs);

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
    if (what == QStringLiteral("burst") && args.size() >= 2)
        return benchBurst(args.at(1), number(2, 5));
    if (what == QStringLiteral("mqtt") && args.size() >= 2)
        return benchMqtt(args.at(1), number(2, 40));
    if (what == QStringLiteral("web") && args.size() >= 2)
        return benchWeb(args.at(1), number(2, 40));
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
