#include "fakeserialport.h"
#include "transmitter.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace relo;

namespace {

const QString Send = QStringLiteral("send 18");

// Port 1 open with RTS raised, as both programs leave it before starting the
// timer; the log starts empty.
void openWithRts(FakeSerialPort &port)
{
    port.setPresent({1});
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    port.setRts(true);
    port.clearLog();
}

} // namespace

class TestTransmitter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneShot_data();
    void oneShot();
    void continuous();
};

void TestTransmitter::oneShot_data()
{
    QTest::addColumn<int>("restartAfter"); // frames before the command comes again; 0: never
    QTest::newRow("four frames") << 0;
    QTest::newRow("restarted after two frames") << 2;
}

void TestTransmitter::oneShot()
{
    QFETCH(int, restartAfter);
    FakeSerialPort port;
    openWithRts(port);
    FrameTransmitter tx(&port, [] { return Mask(5); });
    QSignalSpy finished(&tx, &FrameTransmitter::oneShotFinished);
    connect(&tx, &FrameTransmitter::frameSent, this, [&] {
        if (port.writes().size() == restartAfter)
            tx.startOneShot();
    });

    tx.startOneShot();
    QVERIFY(finished.wait(5000));

    // RTS stays high for every frame; drained before RTS drops, closed after; the
    // timer is stopped, so no further frame.
    const int frames = FrameTransmitter::OneShotFrames + restartAfter;
    QCOMPARE(port.calls(), (QStringList(frames, Send) + QStringList{"drain", "rts 0", "close"}));
    QCOMPARE(port.writes(), QList<QByteArray>(frames, buildFrame(5)));
    QVERIFY(!tx.isActive());
    QCOMPARE(finished.count(), 1);
}

// Panel mode: the blink flag starts cleared, so the first frame goes out with RTS
// low although connecting raised it; the flag survives a stop; every tick reads
// the mask anew.
void TestTransmitter::continuous()
{
    FakeSerialPort port;
    openWithRts(port);
    Mask mask = 0x04;
    FrameTransmitter tx(&port, [&] { return mask; });
    const auto *timer = tx.findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer && timer->interval() == 250 && timer->timerType() == Qt::PreciseTimer);
    QSignalSpy sent(&tx, &FrameTransmitter::frameSent);
    QList<bool> blue;
    connect(&tx, &FrameTransmitter::indicatorChanged, this, [&](bool on) { blue << on; });
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

    QCOMPARE(port.calls(), (QStringList{"rts 0", Send, "rts 1", Send, "rts 0", Send}));
    QCOMPARE(blue, (QList<bool>{false, true, false})); // blue exactly while RTS is high
    QCOMPARE(port.writes(), (QList<QByteArray>{buildFrame(4), buildFrame(4), buildFrame(0x84)}));
}

QTEST_GUILESS_MAIN(TestTransmitter)
#include "tst_transmitter.moc"
