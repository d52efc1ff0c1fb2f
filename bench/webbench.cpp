// relo-web rows of relo-bench: a PUT to the first frame on the wire, a change
// by RELOKomut to the last of 50 open WebSockets, the weight of the page, its
// memory while a client streams a huge body, a fresh client beside 70 slow
// ones, and relo-web at rest.
#include "dev/pseudoterminal.h"
#include "bench/stats.h"
#include "bench/wirerecorder.h"

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

#include <unistd.h>

using namespace std::chrono;

namespace {

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return duration<double, std::milli>(to - from).count();
}

// Runs the event loop until `done` holds or `limitMs` passed; returns `done`.
bool spinFor(const std::function<bool()> &done, int limitMs)
{
    const Clock::time_point start = Clock::now();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || msBetween(start, Clock::now()) > limitMs)
            loop.quit();
    });
    poll.start(1);
    loop.exec();
    return done();
}

// The body of a whole answer read from `socket`, once it is complete.
std::optional<QByteArray> answer(const QByteArray &data)
{
    const qsizetype end = data.indexOf("\r\n\r\n");
    const qsizetype length = data.toLower().indexOf("content-length: ");
    if (end < 0 || length < 0 || length > end)
        return std::nullopt;
    const int size = data.mid(length + 16, data.indexOf('\r', length) - length - 16).toInt();
    if (data.size() < end + 4 + size)
        return std::nullopt;
    return data.mid(end + 4, size);
}

QByteArray requestText(const QByteArray &method, const QByteArray &path, const QByteArray &body)
{
    return method + ' ' + path +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

// CPU seconds and resident kilobytes of process `pid`.
std::pair<double, double> usage(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!stat.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
        return {-1, -1};
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
    const double cpu = (fields.value(12).toDouble() + fields.value(13).toDouble()) /
                       double(::sysconf(_SC_CLK_TCK));
    double rss = -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            rss = line.mid(6).trimmed().split(' ').value(0).toDouble();
    }
    return {cpu, rss};
}

} // namespace

int benchWeb(const QString &binDir, int runs)
{
    QTemporaryDir dir;
    relo::PseudoTerminal pty;
    if (!dir.isValid() || !pty.open()) {
        std::fprintf(stderr, "web: no folder or pseudo-terminal\n");
        return 1;
    }
    for (const char *name : {"relo-web", "RELOKomut"})
        QFile::copy(binDir + u'/' + QLatin1String(name), dir.filePath(QLatin1String(name)));
    QFile settings(dir.filePath(QStringLiteral("ayar.ini")));
    if (!settings.open(QIODevice::WriteOnly) || settings.write("[RELO]\nPortNumber=1\n") < 0)
        return 1;
    settings.close();
    for (int n = 1; n <= 10; ++n)
        qputenv(qPrintable(QStringLiteral("RELO_COM%1").arg(n)),
                n == 1 ? pty.slavePath().toLocal8Bit() : QByteArray("/nonexistent/relo-bench"));
    WireRecorder wire(pty.masterFd());
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    QProcess web;
    web.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    web.start(dir.filePath(QStringLiteral("relo-web")),
              {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)});
    QByteArray log;
    if (!spinFor([&] { return (log += web.readAllStandardError()).contains("başladı"); }, 10000)) {
        std::fprintf(stderr, "web: relo-web did not start\n");
        return 1;
    }

    // A PUT, one at a time, to the first frame on the wire.
    std::vector<double> first;
    for (int i = 0; i < runs; ++i) {
        wire.take();
        QTcpSocket socket;
        QByteArray data;
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                         [&] { data += socket.readAll(); });
        const Clock::time_point start = Clock::now();
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(requestText("PUT", "/api/channels/3", i % 2 ? "OFF" : "ON"));
        std::optional<Clock::time_point> frame;
        spinFor(
            [&] {
                for (const WireRecorder::Arrival &a : wire.take()) {
                    if (a.frame && !frame)
                        frame = a.time;
                }
                return frame && answer(data);
            },
            10000);
        if (frame)
            first.push_back(msBetween(start, *frame));
        // The port is let go just after the last frame.
        QThread::msleep(50);
    }
    const Stats f = summarise(first);
    printRow(QStringLiteral("relo-web PUT → first frame on the wire"), f, QStringLiteral("ms"), 0,
             QStringLiteral("median ≤ 20 ms, worst ≤ 100 ms"),
             f.count == size_t(runs) && f.median <= 20 && f.worst <= 100);

    // A change by RELOKomut to the last of 50 open WebSockets told: 50 pages,
    // five from each of ten addresses (one address may hold only a few
    // connections). Raw sockets, as a WebSocket cannot choose its address: a
    // page is told when bytes come after the handshake.
    constexpr int Sockets = 50;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    std::vector<QByteArray> received(Sockets);
    std::vector<std::optional<Clock::time_point>> told(Sockets);
    for (int i = 0; i < Sockets; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket *socket = sockets.back().get();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket, i] {
            received[size_t(i)] += socket->readAll();
            const qsizetype head = received[size_t(i)].indexOf("\r\n\r\n");
            if (head >= 0 && received[size_t(i)].size() > head + 4) {
                told[size_t(i)] = Clock::now();
                received[size_t(i)].truncate(head + 4);
            }
        });
        socket->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(10 + i / 5)));
        socket->connectToHost(QHostAddress::LocalHost, port);
        socket->write("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                      "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                      "Sec-WebSocket-Version: 13\r\n\r\n");
    }
    const auto allTold = [&] {
        return std::all_of(told.begin(), told.end(), [](const auto &t) { return t.has_value(); });
    };
    spinFor(allTold, 10000);
    std::vector<double> last;
    for (int i = 0; i < std::max(3, runs / 4); ++i) {
        std::fill(told.begin(), told.end(), std::nullopt);
        QProcess komut;
        const Clock::time_point start = Clock::now();
        komut.start(dir.filePath(QStringLiteral("RELOKomut")),
                    {i % 2 ? QStringLiteral("05-0") : QStringLiteral("05-1")});
        if (spinFor(allTold, 10000))
            last.push_back(msBetween(start, **std::max_element(told.begin(), told.end())));
        komut.waitForFinished(10000);
    }
    const Stats l = summarise(last);
    printRow(QStringLiteral("RELOKomut 05-1 start → last of 50 relo-web WebSockets told"), l,
             QStringLiteral("ms"), 0, QStringLiteral("median ≤ 200 ms"), l.median <= 200);
    sockets.clear();

    // The page and everything it loads.
    qint64 bytes = 0;
    for (const char *path : {"/", "/page.css", "/page.js", "/on.png", "/off.png"}) {
        QTcpSocket socket;
        QByteArray data;
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(requestText("GET", path, {}));
        spinFor([&] { return answer(data += socket.readAll()).has_value(); }, 10000);
        bytes += answer(data).value_or(QByteArray()).size();
    }
    printValue(QStringLiteral("relo-web page with all it loads"), double(bytes) / 1024,
               QStringLiteral("KiB"), QStringLiteral("≤ 60 KB"), bytes <= 60000);

    // A client streaming one chunk of 64 MiB at it: refused once past the body
    // limit, so nothing piles up.
    {
        const double idle = usage(web.processId()).second;
        double peak = idle;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write("PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                     "Transfer-Encoding: chunked\r\n\r\n4000000\r\n");
        socket.write(QByteArray(64 << 20, '1'));
        spinFor(
            [&] {
                peak = std::max(peak, usage(web.processId()).second);
                return socket.state() != QAbstractSocket::ConnectedState;
            },
            10000);
        printValue(QStringLiteral("relo-web resident while a client streams 64 MiB, above idle"),
                   (peak - idle) / 1024, QStringLiteral("MiB"), QStringLiteral("≤ 16 MiB"),
                   idle > 0 && peak - idle <= 16 * 1024);
    }

    // A fresh client while 70 slow connections from another address are open.
    {
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 70; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->bind(QHostAddress(QStringLiteral("127.0.0.2")));
            slow.back()->connectToHost(QHostAddress::LocalHost, port);
            slow.back()->write("G");
        }
        spinFor([] { return false; }, 500);
        std::vector<double> fresh;
        for (int i = 0; i < 5; ++i) {
            QTcpSocket socket;
            QByteArray data;
            const Clock::time_point start = Clock::now();
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.write(requestText("GET", "/", {}));
            if (spinFor([&] { return answer(data += socket.readAll()).has_value(); }, 5000))
                fresh.push_back(msBetween(start, Clock::now()));
        }
        const Stats s = summarise(fresh);
        printRow(QStringLiteral("relo-web GET / beside 70 slow connections of another address"), s,
                 QStringLiteral("ms"), 0, QStringLiteral("worst ≤ 1 s"),
                 s.count == 5 && s.worst <= 1000);
    }

    // At rest: nothing asked, nothing watched but ayar.ini.
    QThread::sleep(2);
    const auto [cpuBefore, rssBefore] = usage(web.processId());
    QThread::sleep(30);
    const auto [cpuAfter, rss] = usage(web.processId());
    const double cpuPercent = (cpuAfter - cpuBefore) / 30 * 100;
    printValue(QStringLiteral("relo-web idle, resident"), rss / 1024, QStringLiteral("MiB"),
               QStringLiteral("≤ 30 MB"), rss >= 0 && rss <= 30 * 1000);
    printValue(QStringLiteral("relo-web idle, CPU over 30 s"), cpuPercent, QStringLiteral("%"),
               QStringLiteral("≤ 0.1 %"), cpuBefore >= 0 && cpuPercent <= 0.1);
    web.terminate();
    web.waitForFinished(20000);
    return 0;
}
