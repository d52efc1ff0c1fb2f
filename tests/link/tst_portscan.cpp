#include "link/frame.h"
#include "link/portmap.h"
#include "link/portscan.h"
#include "dev/pseudoterminal.h"
#include "link/realserialport.h"

#include <QProcess>
#include <QTest>

using namespace relo;

class TestPortScan : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void devicePath_data();
    void devicePath();
    void scan();
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

    holder.terminate();
    QVERIFY(holder.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestPortScan)
#include "tst_portscan.moc"
