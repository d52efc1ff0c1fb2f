#include "dev/pseudoterminal.h"
#include "link/frame.h"
#include "link/realserialport.h"

#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <future>

#include <termios.h>
#include <unistd.h>

using namespace relo;

// The real port against a pseudo-terminal pair: what reaches the far end of the line.
class TestRealSerialPort : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void bytesOnTheWire();
    void closeRightAfterSendLosesNothing();
    void notATty();
    void receiveNotificationPerBlock();

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

QTEST_GUILESS_MAIN(TestRealSerialPort)
#include "tst_realserialport.moc"
