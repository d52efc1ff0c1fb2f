// One command run against the recording fake port: what each outcome of the
// queue means for the exit status and the lines the command program prints.

#include "commandrun.h"
#include "fakeserialport.h"
#include "programs.h"
#include "settingsfile.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using relo::ExitStatus;

class TestCommandRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void outcome_data();
    void outcome();
};

void TestCommandRun::outcome_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("folder");  // false: the settings folder is gone
    QTest::addColumn<int>("present");  // the port that opens, 0: none
    QTest::addColumn<bool>("stopped"); // stopped before it was applied
    QTest::addColumn<ExitStatus>("status");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("error"); // how the error line starts
    const QString on3 = QStringLiteral("Çıkış-3 Açıldı");
    QTest::newRow("sent") << "03-1" << true << 3 << false << ExitStatus::Done << on3 << "";
    // No ayar.ini, so port 1; the frames go out but the mask cannot be saved.
    QTest::newRow("not saved") << "03-1" << false << 1 << false << ExitStatus::NotSaved << on3
                               << "ayar.ini yazılamadı: ";
    QTest::newRow("port failed") << "03-0" << true << 0 << false << ExitStatus::PortFailed
                                 << "Port Hatası"
                                 << "Port Hatası: Com - 3";
    QTest::newRow("rejected") << "3-1" << true << 3 << false << ExitStatus::Rejected
                              << "Hatalı komut"
                              << "Hatalı komut: \"3-1\"";
    QTest::newRow("stopped") << "03-1" << true << 3 << true << ExitStatus::PortFailed << on3
                             << "durduruldu";
}

void TestCommandRun::outcome()
{
    QFETCH(QString, command);
    QFETCH(bool, folder);
    QFETCH(int, present);
    QFETCH(bool, stopped);
    QFETCH(ExitStatus, status);
    QFETCH(QString, statusText);
    QFETCH(QString, error);

    QTemporaryDir temp;
    const QString settings = folder ? temp.path() : temp.filePath(QStringLiteral("gone"));
    QVERIFY(!folder || writeFile(relo::settingsPath(settings), "[RELO]\nPortNumber=3\n"));
    FakeSerialPort port;
    port.setPresent({present});
    relo::CommandRun run(command, &port, settings);
    QSignalSpy finished(&run, &relo::CommandRun::finished);
    if (stopped)
        run.stop(QStringLiteral("durduruldu"));
    run.apply();
    if (status != ExitStatus::Rejected && !stopped)
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QVERIFY(!run.isWaiting());
    QCOMPARE(run.status(), status);
    QCOMPARE(run.statusText(), statusText);
    QVERIFY2(error.isEmpty() ? run.errorText().isEmpty() : run.errorText().startsWith(error),
             qPrintable(run.errorText()));
    QCOMPARE(finished.size(), status != ExitStatus::Rejected && !stopped ? 1 : 0);
    if (!finished.isEmpty())
        QCOMPARE(finished.at(0).at(0).value<ExitStatus>(), status);
    // A rejected command never touches the port; a sent one leaves RTS low.
    QVERIFY(status != ExitStatus::Rejected || port.calls().isEmpty());
    QVERIFY(!port.rts());
    if (status == ExitStatus::Done)
        QCOMPARE(relo::readSetting(settings, relo::PortDataKey), QStringLiteral("4"));
}

QTEST_GUILESS_MAIN(TestCommandRun)
#include "tst_commandrun.moc"
