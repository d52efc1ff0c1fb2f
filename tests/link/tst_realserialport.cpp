#include "dev/pseudoterminal.h"
#include "link/frame.h"
#include "link/portmap.h"
#include "link/portscan.h"
#include "link/realserialport.h"
#include "support/programs.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <future>

#include <termios.h>
#include <unistd.h>

using namespace relo;

// The real port against pseudo-terminal pairs: what reaches the far end of the
// line, which device each port number names, and the scan of the ports.
class TestRealSerialPort : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void bytesOnTheWire();
    void closeRightAfterSendLosesNothing();
    void notATty();
    void receiveNotificationPerBlock();
    void devicePath_data();
    void devicePath();
    void scan();

private:
    PseudoTerminal m_pty; // port 1
};

void TestRealSerialPort::init()
{
    QVERIFY2(m_pty.open(), qPrintable(m_pty.errorString()));
    qputenv("RELO_COM1", m_pty.slavePath().toLocal8Bit());
}

// Line settings as the radio module needs them, and a raw line: line feeds,
// carriage returns and XON/XOFF in the mask byte reach the far end unchanged.
void TestRealSerialPort::bytesOnTheWire()
{
    RealSerialPort port;
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    termios tio{}; // the slave side's settings, which the master shares
    QVERIFY(::tcgetattr(m_pty.masterFd(), &tio) == 0);
    QCOMPARE(::cfgetospeed(&tio), speed_t(B2400));
    // 8 data bits, no parity, one stop bit, no hardware flow control.
    QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    port.setRts(true); // no RTS line on a pseudo-terminal: must do no harm
    QByteArray frames;
    for (const int mask : {0x00, 0xFF, 0x0A, 0x0D, 0x11, 0x13})
        frames += buildFrame(Mask(mask));
    QVERIFY(port.send(frames));
    QCOMPARE(m_pty.readExactly(int(frames.size()), 3000), frames);
}

// Far more than the driver takes while nobody reads the far end: the rest waits in
// the port's own buffer. A full line is no failure, and closing must not throw
// the rest away.
void TestRealSerialPort::closeRightAfterSendLosesNothing()
{
    const QByteArray bytes = buildFrame(0x13).repeated(8000);
    RealSerialPort port;
    QSignalSpy failed(&port, &SerialPort::failed);
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    QVERIFY(port.send(bytes) && port.send(bytes));
    // The far end reads on its own thread while this one is blocked in closePort().
    auto wire = std::async(std::launch::async,
                           [&] { return m_pty.readExactly(2 * int(bytes.size()), 20000); });
    port.closePort();
    QCOMPARE(wire.get(), bytes + bytes);
    QCOMPARE(failed.count(), 0);
    QVERIFY(!port.send(bytes)); // closed: refused
}

// A device that is no tty: a file no other process has open (unlike /dev/null).
// A port without a device is the scan's case.
void TestRealSerialPort::notATty()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    qputenv("RELO_COM4", QFile::encodeName(file.fileName()));
    RealSerialPort port;
    QCOMPARE(port.openPort(4), SerialPort::OpenError::Other);
    QVERIFY(!port.isOpen() && !port.send(buildFrame(1)));
}

void TestRealSerialPort::receiveNotificationPerBlock()
{
    RealSerialPort port;
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    port.setReceiveThreshold(18, 18);
    QList<QByteArray> reads;
    connect(&port, &SerialPort::received, this, [&] { reads << port.drainInput(); });
    // Two and a half blocks at once: one notification per whole block, each read
    // taking exactly one block; the half block waits for the rest.
    QVERIFY(m_pty.write(buildFrame(1) + buildFrame(2) + "xxxxxxxxx"));
    QTRY_COMPARE_WITH_TIMEOUT(reads, (QList<QByteArray>{buildFrame(1), buildFrame(2)}), 5000);
    QVERIFY(m_pty.write("yyyyyyyyy"));
    QTRY_COMPARE_WITH_TIMEOUT(reads.value(2), QByteArray("xxxxxxxxxyyyyyyyyy"), 5000);
    QCOMPARE(reads.size(), 3);

    // A flood the owner does not keep up with: only the newest 1 KiB waits.
    disconnect(&port, &SerialPort::received, this, nullptr);
    port.setReceiveThreshold(18, 0);
    QSignalSpy flood(&port, &SerialPort::received);
    QVERIFY(m_pty.write(QByteArray(3000, 'a') + QByteArray(1024, 'b')));
    while (flood.wait(500)) {
    }
    QCOMPARE(port.drainInput(), QByteArray(1024, 'b'));
}

void TestRealSerialPort::devicePath_data()
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

void TestRealSerialPort::devicePath()
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
void TestRealSerialPort::scan()
{
#ifdef RELO_NO_PROGRAMS
    QSKIP("built for another machine: relo-sim would need the emulator too");
#endif
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
    endWithTest(holder);
    holder.start(QCoreApplication::applicationDirPath() + QStringLiteral("/relo-sim"),
                 {QStringLiteral("--port"), held7.slavePath()});
    QVERIFY(holder.waitForReadyRead(5000)); // "Port: ...": open

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

QTEST_GUILESS_MAIN(TestRealSerialPort)
#include "tst_realserialport.moc"
