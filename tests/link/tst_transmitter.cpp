#include "fakeserialport.h"
#include "transmitter.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace relo;

namespace {

const QString Send = QStringLiteral("send 18");

// A fake port opened on port 1 with RTS raised, as both programs leave it before
// starting the timer; the log starts empty.
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
    void timerIsNamedAndPrecise();
    void oneShotSendsFourFramesThenCloses();
    void oneShotRestartCountsAgain();
    void continuousAlternatesRts();
    void blinkFlagSurvivesStop();
    void maskIsReadAtEachTick();
    void failedSendStopsTheTimer_data();
    void failedSendStopsTheTimer();
};

void TestTransmitter::timerIsNamedAndPrecise()
{
    FakeSerialPort port;
    FrameTransmitter tx(&port, [] { return Mask(0); });
    const auto *timer = tx.findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 250);
    QCOMPARE(timer->timerType(), Qt::PreciseTimer);
    QVERIFY(!tx.isActive());
}

void TestTransmitter::oneShotSendsFourFramesThenCloses()
{
    FakeSerialPort port;
    openWithRts(port);
    FrameTransmitter tx(&port, [] { return Mask(5); });
    QList<bool> rtsAtFrame;
    connect(&tx, &FrameTransmitter::frameSent, this, [&] { rtsAtFrame << port.rts(); });
    QSignalSpy finished(&tx, &FrameTransmitter::oneShotFinished);

    tx.startOneShot();
    QVERIFY(finished.wait(5000));

    // Drained before RTS drops, closed after; the timer is stopped, so no fifth frame.
    QCOMPARE(port.calls(), (QStringList{Send, Send, Send, Send, "drain", "rts 0", "close"}));
    QCOMPARE(rtsAtFrame, (QList<bool>{true, true, true, true}));
    QCOMPARE(port.writes(), QList<QByteArray>(4, buildFrame(5)));
    QVERIFY(!port.isOpen());
    QVERIFY(!tx.isActive());
    QCOMPARE(finished.count(), 1);
}

void TestTransmitter::oneShotRestartCountsAgain()
{
    FakeSerialPort port;
    openWithRts(port);
    FrameTransmitter tx(&port, [] { return Mask(2); });
    QSignalSpy sent(&tx, &FrameTransmitter::frameSent);
    QSignalSpy finished(&tx, &FrameTransmitter::oneShotFinished);

    tx.startOneShot();
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 2, 5000);
    tx.startOneShot(); // the command applied again before the fourth tick
    QCOMPARE(tx.tickCount(), 0);
    QVERIFY(finished.wait(5000));

    QCOMPARE(sent.count(), 6);
    QCOMPARE(port.calls().mid(6), (QStringList{"drain", "rts 0", "close"}));
    QCOMPARE(finished.count(), 1);
}

void TestTransmitter::continuousAlternatesRts()
{
    FakeSerialPort port;
    openWithRts(port);
    FrameTransmitter tx(&port, [] { return Mask(1); });
    QList<bool> rtsAtFrame;
    connect(&tx, &FrameTransmitter::frameSent, this, [&] { rtsAtFrame << port.rts(); });
    QSignalSpy indicator(&tx, &FrameTransmitter::indicatorChanged);

    tx.startContinuous();
    QTRY_COMPARE_WITH_TIMEOUT(rtsAtFrame.size(), 3, 5000);
    tx.stop();

    // The flag starts cleared: the first frame goes out with RTS low although
    // connecting raised it; the indicator is blue exactly while RTS is high.
    QCOMPARE(rtsAtFrame, (QList<bool>{false, true, false}));
    QCOMPARE(port.calls(), (QStringList{"rts 0", Send, "rts 1", Send, "rts 0", Send}));
    QCOMPARE(indicator.count(), 3);
    QCOMPARE(indicator.at(0).at(0).toBool(), false);
    QCOMPARE(indicator.at(1).at(0).toBool(), true);
    QCOMPARE(indicator.at(2).at(0).toBool(), false);
    QVERIFY(port.isOpen()); // continuous mode never closes the port
}

void TestTransmitter::blinkFlagSurvivesStop()
{
    FakeSerialPort port;
    openWithRts(port);
    FrameTransmitter tx(&port, [] { return Mask(0); });
    QSignalSpy sent(&tx, &FrameTransmitter::frameSent);

    tx.startContinuous();
    QVERIFY(sent.wait(5000));
    tx.stop();
    QVERIFY(tx.blinkFlag());

    tx.startContinuous(); // a reconnect resumes the alternation where it stopped
    QVERIFY(sent.wait(5000));
    tx.stop();
    QCOMPARE(port.calls(), (QStringList{"rts 0", Send, "rts 1", Send}));
}

void TestTransmitter::maskIsReadAtEachTick()
{
    FakeSerialPort port;
    openWithRts(port);
    Mask mask = 0x04;
    FrameTransmitter tx(&port, [&] { return mask; });
    QSignalSpy sent(&tx, &FrameTransmitter::frameSent);
    // A channel switch between two ticks.
    connect(&tx, &FrameTransmitter::frameSent, this, [&] { mask = 0x84; });

    tx.startContinuous();
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 2, 5000);
    tx.stop();

    const QByteArray first = port.writes().at(0);
    const QByteArray second = port.writes().at(1);
    QCOMPARE(first, buildFrame(0x04));
    QCOMPARE(second.left(FrameSize - 1), first.left(FrameSize - 1));
    QCOMPARE(quint8(second.at(FrameSize - 1)), quint8(0x84));
}

void TestTransmitter::failedSendStopsTheTimer_data()
{
    QTest::addColumn<bool>("oneShot");
    QTest::addColumn<bool>("portOpened");
    QTest::addColumn<int>("framesBefore");

    QTest::newRow("continuous, adapter pulled") << false << true << 2;
    QTest::newRow("one-shot, adapter pulled") << true << true << 1;
    QTest::newRow("one-shot, port never opened") << true << false << 0;
}

void TestTransmitter::failedSendStopsTheTimer()
{
    QFETCH(bool, oneShot);
    QFETCH(bool, portOpened);
    QFETCH(int, framesBefore);

    FakeSerialPort port;
    if (portOpened)
        openWithRts(port);
    FrameTransmitter tx(&port, [] { return Mask(3); });
    QSignalSpy sent(&tx, &FrameTransmitter::frameSent);
    QSignalSpy sendFailed(&tx, &FrameTransmitter::sendFailed);
    QSignalSpy finished(&tx, &FrameTransmitter::oneShotFinished);
    connect(&tx, &FrameTransmitter::frameSent, this, [&] {
        if (sent.count() == framesBefore)
            port.unplug();
    });
    if (framesBefore == 0 && portOpened)
        port.unplug();

    oneShot ? tx.startOneShot() : tx.startContinuous();
    QVERIFY(sendFailed.wait(5000));

    QVERIFY(!tx.isActive());
    QCOMPARE(sent.count(), framesBefore);
    QCOMPARE(sendFailed.count(), 1);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(port.writes().size(), framesBefore);
}

QTEST_GUILESS_MAIN(TestTransmitter)
#include "tst_transmitter.moc"
