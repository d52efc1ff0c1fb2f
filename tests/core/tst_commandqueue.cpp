// The command queue within one process: two queues on one ayar.ini stand for
// two programs, each with a port of its own. One command run against the
// recording fake port: each outcome as the exit status and the lines the
// command program prints.

#include "core/batch.h"
#include "core/commandqueue.h"
#include "core/commandrun.h"
#include "core/settingsfile.h"
#include "support/fakeserialport.h"
#include "support/programs.h"

#include <QDateTime>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace relo;

class TestCommandQueue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void nextBatch_data();
    void nextBatch();
    void orderOfMaking_data();
    void orderOfMaking();
    void stalledSender();
    void commandRun_data();
    void commandRun();
};

// Tickets as "channels:states" in order; the batch as the indexes it takes.
void TestCommandQueue::nextBatch_data()
{
    QTest::addColumn<QStringList>("waiting");
    QTest::addColumn<QList<int>>("batch");
    QTest::newRow("nothing") << QStringList() << QList<int>();
    QTest::newRow("eight channels together")
        << QStringList{"1:1", "2:2", "4:4", "8:8", "16:16", "32:32", "64:64", "128:128"}
        << QList<int>{0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("a pulse: off waits, later ones go")
        << QStringList{"4:4", "4:0", "8:8"} << QList<int>{0, 2};
    // A whole mask touches every channel: it goes alone, and nothing after it.
    QTest::newRow("whole mask first") << QStringList{"255:0", "1:1"} << QList<int>{0};
    QTest::newRow("whole mask later") << QStringList{"1:1", "255:0", "2:2"} << QList<int>{0};
}

void TestCommandQueue::nextBatch()
{
    QFETCH(QStringList, waiting);
    QFETCH(QList<int>, batch);
    QList<Ticket> tickets;
    for (const QString &ticket : waiting)
        tickets << Ticket{
            QString::number(tickets.size()),
            {Mask(ticket.section(u':', 0, 0).toUInt()), Mask(ticket.section(u':', 1).toUInt())}};
    QList<int> taken;
    for (const Ticket &ticket : relo::nextBatch(tickets))
        taken << ticket.name.toInt();
    QCOMPARE(taken, batch);
}

// A change joins the queue by the time it was made, not by when its process got
// to join: a RELOKomut that started first but took longer to start up still goes
// first, and the other process sends it and tells it how it went. The mask a
// batch could not save stands for as long as ayar.ini is the file it was meant
// for: an edit of the same size ends it.
void TestCommandQueue::orderOfMaking_data()
{
    QTest::addColumn<bool>("saved");
    QTest::newRow("saved") << true;
    // Too large to be ayar.ini: it is neither read (port 1) nor written.
    QTest::newRow("not saved") << false;
}

void TestCommandQueue::orderOfMaking()
{
    QFETCH(bool, saved);
    QTemporaryDir dir;
    const QString ini = settingsPath(dir.path());
    QVERIFY(
        writeFile(ini, savedSettings(3, 0) + (saved ? QByteArray() : QByteArray(2 << 20, 'x'))));
    FakeSerialPort firstPort;
    FakeSerialPort secondPort;
    firstPort.setPresent({1, 3});
    secondPort.setPresent({1, 3});
    CommandQueue joinedFirst(&firstPort, dir.path());
    CommandQueue madeFirst(&secondPort, dir.path());
    QSignalSpy joinedFirstDone(&joinedFirst, &CommandQueue::finished);
    QSignalSpy madeFirstDone(&madeFirst, &CommandQueue::finished);

    const qint64 now = CommandQueue::now();
    joinedFirst.submit({channelBit(3), channelBit(3)}, now); // 03-1
    madeFirst.submit({channelBit(3), 0}, now - 1000000);     // 03-0, 1 ms earlier
    QTRY_COMPARE_WITH_TIMEOUT(joinedFirstDone.size() + madeFirstDone.size(), 2, 10000);
    QCOMPARE(madeFirstDone.at(0).at(1).value<CommandQueue::Outcome>(),
             saved ? CommandQueue::Outcome::Sent : CommandQueue::Outcome::NotSaved);
    QCOMPARE(readSetting(dir.path(), PortDataKey), saved ? "4" : "");
    QCOMPARE(joinedFirst.savedMask(), Mask(4));
    if (saved)
        return;
    QFile file(ini);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.write("y") == 1 && file.flush());
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(5),
                             QFileDevice::FileModificationTime));
    file.close();
    QCOMPARE(joinedFirst.savedMask(), Mask(0));
}

// A sender ahead that holds its turn and shows no progress: the changes waiting
// behind it fail as the port's, since nothing of theirs was sent.
void TestCommandQueue::stalledSender()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(settingsPath(dir.path()), savedSettings(3, 0)));
    FakeSerialPort aheadPort;
    FakeSerialPort behindPort;
    aheadPort.setPresent({3});
    behindPort.setPresent({3});
    CommandQueue ahead(&aheadPort, dir.path());
    CommandQueue behind(&behindPort, dir.path());
    QSignalSpy taken(&ahead, &CommandQueue::portTaken);
    QSignalSpy done(&behind, &CommandQueue::finished);
    ahead.setHeld(true);
    ahead.submit({channelBit(1), channelBit(1)});
    QVERIFY(taken.wait(5000));
    behind.submit({channelBit(2), channelBit(2)});
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, CommandQueue::BusyRetryMs * 3);
    QCOMPARE(done.at(0).at(1).value<CommandQueue::Outcome>(), CommandQueue::Outcome::PortFailed);
    QVERIFY(behindPort.writes().isEmpty());
}

void TestCommandQueue::commandRun_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("present"); // the port that opens; -1: ayar.ini's folder is gone
    QTest::addColumn<ExitStatus>("status");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("error"); // how the error line starts
    const QString on = QStringLiteral("Çıkış-3 Açıldı");
    QTest::newRow("sent") << "03-1" << 3 << ExitStatus::Done << on << "";
    // Without ayar.ini port 1 is used: the frames go out, the mask is not saved.
    QTest::newRow("not saved") << "03-1" << -1 << ExitStatus::NotSaved << on << "ayar.ini yazı";
    QTest::newRow("port failed") << "03-0" << 0 << ExitStatus::PortFailed << "Port Hatası"
                                 << "Port Hatası: Com - 3";
    QTest::newRow("rejected") << "3-1" << 3 << ExitStatus::Rejected << "Hatalı komut"
                              << "Hatalı komut: \"3-1\"";
    QTest::newRow("stopped") << "03-1" << 3 << ExitStatus::PortFailed << on << "durdu";
}

void TestCommandQueue::commandRun()
{
    QFETCH(QString, command);
    QFETCH(int, present);
    QFETCH(ExitStatus, status);
    QFETCH(QString, statusText);
    QFETCH(QString, error);
    QTemporaryDir temp;
    const QString folder = present < 0 ? temp.filePath(QStringLiteral("gone")) : temp.path();
    QVERIFY(present < 0 || writeFile(settingsPath(folder), "[RELO]\nPortNumber=3\n"));
    FakeSerialPort port;
    port.setPresent({qAbs(present)});
    CommandRun run(command, &port, folder);
    QSignalSpy finished(&run, &CommandRun::finished);
    const bool ends = status != ExitStatus::Rejected && error != "durdu";
    if (!ends)
        run.stop(QStringLiteral("durdu"));
    run.apply();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), ends ? 1 : 0, 10000);
    QVERIFY(!ends || finished.at(0).at(0).value<ExitStatus>() == status);
    QCOMPARE(run.status(), status);
    QCOMPARE(run.statusText(), statusText);
    QVERIFY2(error.isEmpty() ? run.errorText().isEmpty() : run.errorText().startsWith(error),
             qPrintable(run.errorText()));
    // A rejected command never touches the port; the others leave RTS low.
    QVERIFY(status != ExitStatus::Rejected || port.calls().isEmpty());
    QVERIFY(!port.rts() && !run.isWaiting());
}

QTEST_GUILESS_MAIN(TestCommandQueue)
#include "tst_commandqueue.moc"
