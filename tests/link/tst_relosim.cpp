#include "portmap.h"
#include "pseudoterminal.h"
#include "realserialport.h"
#include "transmitter.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace relo;

namespace {

const QString SimPath = QStringLiteral(RELO_BIN_DIR "/relo-sim");

// Reads whole lines of output until `count` have arrived or time runs out.
QStringList readLines(QProcess &process, int count, int timeoutMs = 5000)
{
    QStringList lines;
    QDeadlineTimer deadline(timeoutMs);
    while (lines.size() < count && !deadline.hasExpired()) {
        if (!process.canReadLine() && !process.waitForReadyRead(int(deadline.remainingTime())))
            continue;
        while (lines.size() < count && process.canReadLine())
            lines << QString::fromUtf8(process.readLine()).chopped(1);
    }
    return lines;
}

// The line without its leading time stamp, which must be hh:mm:ss.zzz.
QString untimed(const QString &line)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  "));
    const QRegularExpressionMatch match = stamp.match(line);
    return match.hasMatch() ? line.mid(match.capturedLength()) : QStringLiteral("no time: ") + line;
}

void stop(QProcess &sim)
{
    sim.terminate(); // SIGTERM
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

} // namespace

class TestReloSim : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesItsPseudoTerminal();
    void oneShotShowsFourFrames();
    void listensOnGivenPort();
    void commandLine_data();
    void commandLine();
};

void TestReloSim::decodesItsPseudoTerminal()
{
    QProcess sim;
    sim.start(SimPath, {});
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    const QStringList head = readLines(sim, 2);
    QCOMPARE(head.size(), 2);
    QVERIFY(head.at(0).startsWith(QLatin1String("Port: /")));
    const QString path = head.at(0).mid(6);
    QCOMPARE(head.at(1), QStringLiteral("RELOKomut ve RELO için: export RELO_COM1=") + path);

    QFile device(path);
    QVERIFY(device.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray bytes = buildFrame(5) + QByteArray("\x04", 1) + buildFrame(0) +
                             buildFrame(0x55) + buildFrame(0xFF) + QByteArray("\x80", 1);
    QCOMPARE(device.write(bytes), bytes.size());

    const QStringList lines = readLines(sim, 6);
    QStringList got;
    for (const QString &line : lines)
        got << untimed(line);
    QCOMPARE(got, (QStringList{
                      "çerçeve 1  maske=5  açık: 1 3",
                      "çerçeve dışı: 04",
                      "çerçeve 2  maske=0  hepsi kapalı",
                      "çerçeve 3  maske=85  açık: 1 3 5 7",
                      "çerçeve 4  maske=255  açık: 1 2 3 4 5 6 7 8",
                      "çerçeve dışı: 80",
                  }));
    device.close();
    stop(sim);
}

// What a user sees when the command program is pointed at relo-sim.
void TestReloSim::oneShotShowsFourFrames()
{
    QProcess sim;
    sim.start(SimPath, {});
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    const QStringList head = readLines(sim, 2);
    QCOMPARE(head.size(), 2);
    qputenv("RELO_COM1", head.at(0).mid(6).toLocal8Bit());

    RealSerialPort port;
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    port.setRts(true);
    FrameTransmitter tx(&port, [] { return Mask(4); });
    QSignalSpy finished(&tx, &FrameTransmitter::oneShotFinished);
    tx.startOneShot();
    QVERIFY(finished.wait(5000));

    const QStringList lines = readLines(sim, 4);
    QCOMPARE(lines.size(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(untimed(lines.at(i)), QStringLiteral("çerçeve %1  maske=4  açık: 3").arg(i + 1));
    stop(sim);
}

void TestReloSim::listensOnGivenPort()
{
    PseudoTerminal pty;
    QVERIFY(pty.open());
    QProcess sim;
    sim.start(SimPath, {QStringLiteral("--port"), pty.slavePath()});
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    const QStringList head = readLines(sim, 2);
    QCOMPARE(head.size(), 2);
    QCOMPARE(head.at(0), QStringLiteral("Port: ") + pty.slavePath());

    QVERIFY(pty.write(QByteArray("\x13\x11", 2) + buildFrame(0x81)));
    const QStringList lines = readLines(sim, 2);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(untimed(lines.at(0)), QStringLiteral("çerçeve dışı: 13 11"));
    QCOMPARE(untimed(lines.at(1)), QStringLiteral("çerçeve 1  maske=129  açık: 1 8"));
    stop(sim);
}

void TestReloSim::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("help") << QStringList{"--help"} << 0 << "Kullanım: relo-sim [--port AYGIT]";
    QTest::newRow("unknown option")
        << QStringList{"--bogus"} << 2 << "relo-sim: bilinmeyen seçenek: --bogus";
    QTest::newRow("port without path")
        << QStringList{"--port"} << 2 << "relo-sim: --port bir aygıt yolu ister";
    QTest::newRow("missing device") << QStringList{"--port", "/nonexistent/relo-test-tty"} << 1
                                    << "relo-sim: /nonexistent/relo-test-tty açılamadı: ";
}

void TestReloSim::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);

    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    sim.start(SimPath, arguments);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), exitCode);
    const QString output = QString::fromUtf8(sim.readAll());
    QVERIFY2(output.startsWith(firstLine), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestReloSim)
#include "tst_relosim.moc"
