#include "support/fakeserialport.h"
#include "link/transmitter.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace relo;

class TestTransmitter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void continuous();
};

// Panel mode: the blink flag starts cleared, so the first frame goes out with RTS
// low although connecting raised it; the flag survives a stop; every tick reads
// the mask anew.
void TestTransmitter::continuous()
{
    // Port 1 open with RTS raised, as the panel leaves it before starting the timer.
    FakeSerialPort port;
    port.setPresent({1});
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    port.setRts(true);
    port.clearLog();
    Mask mask = 0x04;
    FrameTransmitter tx(&port, [&] { return mask; });
    const auto *timer = tx.findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer && timer->interval() == 250 && timer->timerType() == Qt::PreciseTimer);
    QSignalSpy sent(&tx, &FrameTransmitter::frameSent);
    QList<bool> rts;
    connect(&tx, &FrameTransmitter::rtsChanged, this, [&](bool high) { rts << high; });
    connect(&tx, &FrameTransmitter::frameSent, this, [&] {
        if (sent.count() == 2)
            mask = 0x84; // a channel switched between two ticks
        else
            tx.stop();
    });

    tx.startContinuous();
    QVERIFY(sent.wait(5000));
    QVERIFY(!tx.isActive() && tx.blinkFlag());
    tx.startContinuous(); // a reconnect resumes the alternation where it stopped
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 3, 5000);

    QCOMPARE(port.calls(),
             (QStringList{"rts 0", "send 18", "rts 1", "send 18", "rts 0", "send 18"}));
    QCOMPARE(rts, (QList<bool>{false, true, false})); // told as RTS goes
    QCOMPARE(port.writes(), (QList<QByteArray>{buildFrame(4), buildFrame(4), buildFrame(0x84)}));
}

QTEST_GUILESS_MAIN(TestTransmitter)
#include "tst_transmitter.moc"
