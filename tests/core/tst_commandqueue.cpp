// The command queue within one process: two queues on one ayar.ini stand for
// two programs, each with a port of its own.

#include "commandqueue.h"
#include "fakeserialport.h"
#include "programs.h"
#include "settingsfile.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestCommandQueue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void orderOfMaking();
};

// A change joins the queue by the time it was made, not by when its process got
// to join: a RELOKomut that started first but took longer to start up still goes
// first, and the other process sends it and tells it so.
void TestCommandQueue::orderOfMaking()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(relo::settingsPath(dir.path()), "[RELO]\nPortNumber=3\nPortData=0\n"));
    FakeSerialPort firstPort;
    FakeSerialPort secondPort;
    firstPort.setPresent({3});
    secondPort.setPresent({3});
    relo::CommandQueue joinedFirst(&firstPort, dir.path());
    relo::CommandQueue madeFirst(&secondPort, dir.path());
    QSignalSpy joinedFirstDone(&joinedFirst, &relo::CommandQueue::finished);
    QSignalSpy madeFirstDone(&madeFirst, &relo::CommandQueue::finished);

    const qint64 now = relo::CommandQueue::now();
    joinedFirst.submit({relo::channelBit(3), relo::channelBit(3)}, now); // 03-1
    madeFirst.submit({relo::channelBit(3), 0}, now - 1000000);           // 03-0, 1 ms earlier
    QTRY_COMPARE_WITH_TIMEOUT(joinedFirstDone.size() + madeFirstDone.size(), 2, 10000);
    QCOMPARE(madeFirstDone.at(0).at(1).value<relo::CommandQueue::Outcome>(),
             relo::CommandQueue::Outcome::Sent);
    QCOMPARE(relo::readSetting(dir.path(), relo::PortDataKey), QStringLiteral("4"));
}

QTEST_GUILESS_MAIN(TestCommandQueue)
#include "tst_commandqueue.moc"
