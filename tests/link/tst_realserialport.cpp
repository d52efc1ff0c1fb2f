#include "portmap.h"
#include "pseudoterminal.h"
#include "realserialport.h"
#include "transmitter.h"

#include <QSignalSpy>
#include <QTest>

#include <future>

using namespace relo;

// The real port against pseudo-terminal pairs: what reaches the far end of the line.
class TestRealSerialPort : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void oneShotOnTheWire_data();
    void oneShotOnTheWire();
    void closeRightAfterSendLosesNothing_data();
    void closeRightAfterSendLosesNothing();
    void openFailures_data();
    void openFailures();
    void portHeldHereIsBusy();
    void receiveNotificationPerBlock();
    void hangUpClosesAndReports();

private:
    // Maps port 1 to a fresh pseudo-terminal.
    bool mapPort1(PseudoTerminal &pty);
};

void TestRealSerialPort::init()
{
    // Ports 1 to 10 map to nothing unless a test says otherwise, so the machine's
    // own serial devices never take part.
    for (int n = 1; n <= 10; ++n)
        qputenv(qPrintable(portEnvironmentVariable(n)), QByteArray());
}

bool TestRealSerialPort::mapPort1(PseudoTerminal &pty)
{
    if (!pty.open()) {
        qWarning() << pty.errorString();
        return false;
    }
    return qputenv("RELO_COM1", pty.slavePath().toLocal8Bit());
}

void TestRealSerialPort::oneShotOnTheWire_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("0x00") << 0x00;
    QTest::newRow("0xFF") << 0xFF;
    QTest::newRow("0x0A line feed") << 0x0A;
    QTest::newRow("0x0D carriage return") << 0x0D;
    QTest::newRow("0x11 XON") << 0x11;
    QTest::newRow("0x13 XOFF") << 0x13;
}

void TestRealSerialPort::oneShotOnTheWire()
{
    QFETCH(int, mask);
    PseudoTerminal pty;
    QVERIFY(mapPort1(pty));
    RealSerialPort port;
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    port.setRts(true); // no RTS line on a pseudo-terminal: must do no harm
    FrameTransmitter tx(&port, [mask] { return Mask(mask); });
    QSignalSpy finished(&tx, &FrameTransmitter::oneShotFinished);

    tx.startOneShot();
    QVERIFY(finished.wait(5000));
    QVERIFY(!port.isOpen());

    const QByteArray wire = pty.readExactly(4 * FrameSize, 3000);
    QCOMPARE(wire.size(), 4 * FrameSize);
    QCOMPARE(wire, buildFrame(Mask(mask)).repeated(4));
    QCOMPARE(pty.read(0), QByteArray()); // nothing after the fourth frame
}

void TestRealSerialPort::closeRightAfterSendLosesNothing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("sends");
    QTest::newRow("three frames") << buildFrame(0x0D) + buildFrame(0x11) + buildFrame(0x00) << 1;
    // Far more than the driver takes while nobody reads the far end: the rest
    // waits in the port's own buffer. A full line is no failure, and closing must
    // not throw the rest away.
    QTest::newRow("more than the line buffer holds") << buildFrame(0x13).repeated(8000) << 2;
}

void TestRealSerialPort::closeRightAfterSendLosesNothing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, sends);
    PseudoTerminal pty;
    QVERIFY(mapPort1(pty));
    RealSerialPort port;
    QSignalSpy failed(&port, &SerialPort::failed);
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);

    for (int i = 0; i < sends; ++i)
        QVERIFY(port.send(bytes));
    QVERIFY(port.isOpen());
    // The far end reads on its own thread while this one is blocked in closePort().
    const QByteArray expected = bytes.repeated(sends);
    auto wire = std::async(std::launch::async,
                           [&pty, n = int(expected.size())] { return pty.readExactly(n, 20000); });
    port.closePort();
    QCOMPARE(wire.get(), expected);
    QCOMPARE(failed.count(), 0);

    QVERIFY(!port.send(bytes)); // closed: refused, nothing written
    QCOMPARE(pty.read(0), QByteArray());
}

void TestRealSerialPort::openFailures_data()
{
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<SerialPort::OpenError>("expected");
    QTest::newRow("no device for the port") << QByteArray() << SerialPort::OpenError::Missing;
    QTest::newRow("path that does not exist")
        << QByteArray("/nonexistent/relo-test-tty") << SerialPort::OpenError::Missing;
    QTest::newRow("not a tty") << QByteArray("/dev/null") << SerialPort::OpenError::Other;
}

void TestRealSerialPort::openFailures()
{
    QFETCH(QByteArray, device);
    QFETCH(SerialPort::OpenError, expected);
    qputenv("RELO_COM4", device);
    RealSerialPort port;
    QCOMPARE(port.openPort(4), expected);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.portNumber(), 4);
    QVERIFY(!port.send(buildFrame(1)));
}

void TestRealSerialPort::portHeldHereIsBusy()
{
    PseudoTerminal pty;
    QVERIFY(mapPort1(pty));
    RealSerialPort first;
    RealSerialPort second;
    QCOMPARE(first.openPort(1), SerialPort::OpenError::None);
    QCOMPARE(second.openPort(1), SerialPort::OpenError::Busy);
    first.closePort();
    QCOMPARE(second.openPort(1), SerialPort::OpenError::None);
}

void TestRealSerialPort::receiveNotificationPerBlock()
{
    PseudoTerminal pty;
    QVERIFY(mapPort1(pty));
    RealSerialPort port;
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    port.setReceiveThreshold(18, 18);
    QList<QByteArray> reads;
    connect(&port, &SerialPort::received, this, [&] { reads << port.drainInput(); });

    // Two and a half blocks at once: one notification per whole block, each read
    // taking exactly one block; the half block waits.
    const QByteArray incoming = buildFrame(1) + buildFrame(2) + QByteArray(9, 'x');
    QVERIFY(pty.write(incoming));
    QTRY_COMPARE_WITH_TIMEOUT(reads.size(), 2, 5000);
    QCOMPARE(reads.at(0), buildFrame(1));
    QCOMPARE(reads.at(1), buildFrame(2));

    QVERIFY(pty.write(QByteArray(9, 'y')));
    QTRY_COMPARE_WITH_TIMEOUT(reads.size(), 3, 5000);
    QCOMPARE(reads.at(2), QByteArray(9, 'x') + QByteArray(9, 'y'));
}

void TestRealSerialPort::hangUpClosesAndReports()
{
    PseudoTerminal pty;
    QVERIFY(mapPort1(pty));
    RealSerialPort port;
    QSignalSpy failed(&port, &SerialPort::failed);
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);

    pty.close(); // the far end disappears, as an unplugged adapter does
    QVERIFY(failed.wait(5000));
    QVERIFY(!port.isOpen());
    QVERIFY(!port.send(buildFrame(1)));
    port.closePort(); // harmless on a port that is already closed
    QCOMPARE(failed.count(), 1);
}

QTEST_GUILESS_MAIN(TestRealSerialPort)
#include "tst_realserialport.moc"
