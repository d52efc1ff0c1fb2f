#include "frame.h"
#include "portmap.h"
#include "portscan.h"
#include "programs.h"
#include "pseudoterminal.h"
#include "realserialport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace relo;

namespace {

// The next `count` lines relo-sim prints (fewer if it stays silent for five
// seconds), each without its time stamp, which must be hh:mm:ss.zzz.
QStringList readLines(QProcess &sim, int count)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  "));
    QStringList lines;
    while (lines.size() < count && (sim.canReadLine() || sim.waitForReadyRead(5000))) {
        if (sim.canReadLine())
            lines << QString::fromUtf8(sim.readLine()).chopped(1).remove(stamp);
    }
    return lines;
}

} // namespace

class TestPortScan : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void devicePath_data();
    void devicePath();
    void scan();
    void simDecodesItsPseudoTerminal();
};

void TestPortScan::devicePath_data()
{
    QTest::addColumn<QString>("env");    // NAME=value
    QTest::addColumn<QString>("system"); // devices in the order the system lists them
    QTest::addColumn<QString>("ports");  // the devices of ports 1, 2 ...; "-": none
    const auto row = [](const char *name, const char *env, const char *system, const char *ports) {
        QTest::newRow(name) << QString(env) << QString(system) << QString(ports);
    };
    row("USB, ACM, the rest; each by number", "",
        "/dev/ttyS10 /dev/ttyS9 /dev/ttyACM0 /dev/ttyUSB10 /dev/ttyAMA0 /dev/ttyUSB2",
        "/dev/ttyUSB2 /dev/ttyUSB10 /dev/ttyACM0 /dev/ttyAMA0 /dev/ttyS9 /dev/ttyS10 -");
    row("duplicates once", "", "/dev/ttyUSB0 /dev/ttyUSB0", "/dev/ttyUSB0 -");
    row("environment first, the others keep their place", "RELO_COM1=/dev/pts/4",
        "/dev/ttyUSB0 /dev/ttyUSB1", "/dev/pts/4 /dev/ttyUSB1 -");
    row("set but empty: no device", "RELO_COM1=", "/dev/ttyUSB0", "- -");
}

void TestPortScan::devicePath()
{
    QFETCH(QString, env);
    QFETCH(QString, system);
    QFETCH(QString, ports);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("RELO_COM0"), QStringLiteral("/dev/pts/0"));
    if (!env.isEmpty())
        environment.insert(env.section(u'=', 0, 0), env.section(u'=', 1));
    const QStringList devices = system.split(u' ');
    QVERIFY(devicePathForPort(0, environment, devices).isEmpty()); // numbers start at 1
    QStringList got;
    for (int n = 1; n <= ports.count(u' ') + 1; ++n)
        got << devicePathForPort(n, environment, devices).leftJustified(1, u'-'); // none: "-"
    QCOMPARE(got.join(u' '), ports);
}

// Free pseudo-terminals are listed; an empty mapping, a missing path and a port
// that another process holds are not. A scan on a port that is open would reopen
// it under every number and cut the live connection: it does nothing.
void TestPortScan::scan()
{
    PseudoTerminal free3, free5, held7;
    QVERIFY(free3.open() && free5.open() && held7.open());
    for (int n = 1; n <= 10; ++n)
        qputenv(qPrintable(portEnvironmentVariable(n)), "/nonexistent/relo-test-tty");
    qputenv("RELO_COM2", QByteArray());
    qputenv("RELO_COM3", free3.slavePath().toLocal8Bit());
    qputenv("RELO_COM5", free5.slavePath().toLocal8Bit());
    qputenv("RELO_COM7", held7.slavePath().toLocal8Bit());
    // relo-sim listening on port 7 holds it, as any program on a port does.
    QProcess holder;
    holder.start(QCoreApplication::applicationDirPath() + QStringLiteral("/relo-sim"),
                 {QStringLiteral("--port"), held7.slavePath()});
    QVERIFY(holder.waitForReadyRead(5000));
    QCOMPARE(holder.readLine(), "Port: " + held7.slavePath().toLocal8Bit() + '\n');

    RealSerialPort port;
    const QList<PortProbe> probes = scanPorts(port);
    QCOMPARE(openedPorts(probes), (QList<int>{3, 5}));
    QCOMPARE(probes.size(), 10);
    QCOMPARE(probes.at(6).error, SerialPort::OpenError::Busy);
    QCOMPARE(probes.at(1).error, SerialPort::OpenError::Missing);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.openPort(5), SerialPort::OpenError::None);
    QVERIFY(scanPorts(port).isEmpty());
    QCOMPARE(port.portNumber(), 5);
    QVERIFY(port.isOpen());

    // A second relo-sim on the port the first one holds says so, in Turkish.
    const Outcome second = runProgram(QCoreApplication::applicationDirPath() + "/relo-sim",
                                      {QStringLiteral("--port"), held7.slavePath()});
    QCOMPARE(second.exitCode, 1);
    QCOMPARE(second.err, QStringLiteral("relo-sim: %1 açılamadı: başka bir program kullanıyor\n")
                             .arg(held7.slavePath()));
    holder.terminate();
    QVERIFY(holder.waitForFinished(5000));
}

// Started without arguments it makes a pseudo-terminal pair and decodes what
// arrives at its far end.
void TestPortScan::simDecodesItsPseudoTerminal()
{
    QProcess sim;
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/relo-sim"));
    const QStringList head = readLines(sim, 2);
    QCOMPARE(head.size(), 2);
    QVERIFY(head.at(0).startsWith(QLatin1String("Port: /")));
    const QString path = head.at(0).mid(6);
    QCOMPARE(head.at(1), QStringLiteral("RELOKomut ve RELO için: export RELO_COM1=") + path);

    qputenv("RELO_COM1", path.toLocal8Bit());
    RealSerialPort port;
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    QVERIFY(port.send(buildFrame(5) + "\x04" + buildFrame(0) + buildFrame(0xFF) + "\x80"));
    QCOMPARE(readLines(sim, 5), (QStringList{
                                    "çerçeve 1  maske=5  açık: 1 3",
                                    "çerçeve dışı: 04",
                                    "çerçeve 2  maske=0  hepsi kapalı",
                                    "çerçeve 3  maske=255  açık: 1 2 3 4 5 6 7 8",
                                    "çerçeve dışı: 80",
                                }));
    sim.terminate(); // SIGTERM ends it cleanly
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestPortScan)
#include "tst_portscan.moc"
