// One command run against the recording fake port: each outcome as the exit
// status and the lines the command program prints.

#include "core/commandrun.h"
#include "support/fakeserialport.h"
#include "support/programs.h"
#include "core/settingsfile.h"

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

void TestCommandRun::outcome()
{
    QFETCH(QString, command);
    QFETCH(int, present);
    QFETCH(ExitStatus, status);
    QFETCH(QString, statusText);
    QFETCH(QString, error);
    QTemporaryDir temp;
    const QString folder = present < 0 ? temp.filePath(QStringLiteral("gone")) : temp.path();
    QVERIFY(present < 0 || writeFile(relo::settingsPath(folder), "[RELO]\nPortNumber=3\n"));
    FakeSerialPort port;
    port.setPresent({qAbs(present)});
    relo::CommandRun run(command, &port, folder);
    QSignalSpy finished(&run, &relo::CommandRun::finished);
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

QTEST_GUILESS_MAIN(TestCommandRun)
#include "tst_commandrun.moc"
