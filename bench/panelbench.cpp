// The panel's measurements: a click on a channel switch to its mask byte on the
// wire, and the footprint of a connected panel.
#include "panel/panelwindow.h"
#include "dev/pseudoterminal.h"
#include "link/realserialport.h"
#include "bench/stats.h"
#include "bench/wirerecorder.h"

#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <functional>
#include <malloc.h>
#include <optional>
#include <sys/resource.h>

using namespace std::chrono;

namespace {

class YesPrompt : public relo::Prompt
{
public:
    bool askConnect(QWidget *) override { return true; }
    void portError(QWidget *) override {}
    void showAbout() override {}
};

void waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(1);
    loop.exec();
}

// A panel connected to "Com - 1", which is the near end of `pty`.
std::unique_ptr<relo::PanelWindow> connectedPanel(relo::PseudoTerminal &pty)
{
    for (int n = 2; n <= 10; ++n)
        qputenv(qPrintable(QStringLiteral("RELO_COM%1").arg(n)), "/nonexistent/relo-bench");
    qputenv("RELO_COM1", pty.slavePath().toLocal8Bit());
    auto panel = std::make_unique<relo::PanelWindow>(new relo::RealSerialPort,
                                                     std::make_unique<YesPrompt>());
    panel->show();
    auto *combo = panel->findChild<QComboBox *>(QStringLiteral("Combo1"));
    if (!combo || combo->count() < 1)
        return nullptr;
    combo->setCurrentIndex(0);
    Q_EMIT combo->activated(0);
    return panel->isConnected() ? std::move(panel) : nullptr;
}

QLabel *switchCaption(relo::PanelWindow &panel, int index)
{
    for (QLabel *label : panel.findChildren<QLabel *>(QStringLiteral("Label1"))) {
        if (label->property("index").toInt() == index)
            return label;
    }
    return nullptr;
}

// Runs the event loop for `ms` milliseconds with nothing of the bench's own in it.
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toDouble();
    }
    return 0;
}

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int benchClick(int clicks)
{
    relo::PseudoTerminal pty;
    if (!pty.open())
        return 1;
    WireRecorder wire(pty.masterFd());
    const auto panel = connectedPanel(pty);
    QLabel *caption = panel ? switchCaption(*panel, 2) : nullptr;
    if (!caption) {
        std::fprintf(stderr, "the panel did not connect\n");
        return 1;
    }
    std::vector<double> latency;
    for (int i = 0; i < clicks; ++i) {
        wire.take();
        const Clock::time_point start = Clock::now();
        QTest::mouseClick(caption, Qt::LeftButton);
        std::optional<Clock::time_point> arrived;
        waitUntil(
            [&] {
                for (const auto &a : wire.take()) {
                    if (!a.frame && !arrived)
                        arrived = a.time;
                }
                return arrived.has_value();
            },
            1000);
        if (arrived)
            latency.push_back(duration<double, std::milli>(*arrived - start).count());
    }
    const Stats s = summarise(latency);
    printRow(QStringLiteral("Click → mask byte on the wire"), s, QStringLiteral("ms"), 0,
             QStringLiteral("median ≤ 5 ms"), s.median <= 5 && s.count == size_t(clicks));
    return 0;
}

int benchFootprint(int seconds, int soakMinutes)
{
    relo::PseudoTerminal pty;
    if (!pty.open())
        return 1;
    WireRecorder wire(pty.masterFd());
    const auto panel = connectedPanel(pty);
    if (!panel)
        return 1;
    const Clock::time_point start = Clock::now();
    const double cpuBefore = processCpuSeconds() - wire.cpuSeconds();
    idle(seconds * 1000);
    const double cpu = processCpuSeconds() - wire.cpuSeconds() - cpuBefore;
    const double wall = duration<double>(Clock::now() - start).count();
    const double percent = 100.0 * cpu / wall;
    printValue(QStringLiteral("Connected RELO CPU over %1 s").arg(seconds), percent,
               QStringLiteral("% of a core"), QStringLiteral("≤ 1 %"), percent <= 1.0);
    const double peak = statusKiB("VmHWM:") / 1024.0;
    printValue(QStringLiteral("Connected RELO peak memory"), peak, QStringLiteral("MB"),
               QStringLiteral("≤ 40 MB"), peak <= 40);

    if (soakMinutes > 0) {
        // Everything the soak keeps is allocated before the first reading, and the
        // recorder is emptied every 10 s, so the bench itself does not grow.
        idle(std::max(0, 60 - seconds) * 1000);
        std::vector<double> spacing;
        spacing.reserve(size_t(soakMinutes) * 60 * 4 + 16);
        SpacingTracker tracker;
        tracker.add(wire.take(), spacing);
        spacing.clear();
        const double atOne = statusKiB("VmRSS:");
        const double heapAtOne = double(mallinfo2().uordblks);
        const size_t framesAtOne = wire.frameCount();
        for (int i = 0; i < (soakMinutes - 1) * 6; ++i) {
            idle(10 * 1000);
            tracker.add(wire.take(), spacing);
        }
        const double atEnd = statusKiB("VmRSS:");
        const double heapAtEnd = double(mallinfo2().uordblks);
        // Resident memory moves by whole pages (the kernel's, not ours); the heap
        // in use says whether anything of the panel grows.
        printValue(
            QStringLiteral("Soak: resident memory after %1 min − after 1 min").arg(soakMinutes),
            atEnd - atOne, QStringLiteral("KiB"), QStringLiteral("≤ 64 KiB (pages)"),
            atEnd - atOne <= 64);
        printValue(QStringLiteral("Soak: heap in use after %1 min − after 1 min").arg(soakMinutes),
                   (heapAtEnd - heapAtOne) / 1024.0, QStringLiteral("KiB"), QStringLiteral("0"),
                   heapAtEnd <= heapAtOne);
        const Stats d = summarise(spacing);
        printRow(QStringLiteral("Soak: tick spacing, deviation from 250 ms"), d,
                 QStringLiteral("ms"), 0, QStringLiteral("p99 ≤ 2 ms"), d.p99 <= 2);
        const double expected = (soakMinutes - 1) * 60 * 4;
        const double frames = double(wire.frameCount() - framesAtOne);
        printValue(
            QStringLiteral("Soak: frames in the last %1 min / expected").arg(soakMinutes - 1),
            frames / expected, QStringLiteral(""), QStringLiteral("≈ 1"),
            std::abs(frames / expected - 1) < 0.01);
    }
    return 0;
}
