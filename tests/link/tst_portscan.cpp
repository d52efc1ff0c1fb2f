#include "fakeserialport.h"
#include "portmap.h"
#include "portscan.h"
#include "pseudoterminal.h"
#include "realserialport.h"

#include <QProcess>
#include <QTest>

using namespace relo;

class TestPortScan : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void portFromEntry_data();
    void portFromEntry();
    void entriesReadBack();
    void orderedSystemPorts_data();
    void orderedSystemPorts();
    void devicePath_data();
    void devicePath();
    void scanWithFake_data();
    void scanWithFake();
    void scanLeavesAnOpenPortAlone();
    void scanOverPseudoTerminals();
};

void TestPortScan::portFromEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("port");
    QTest::newRow("port 1") << "Com - 1" << 1;
    QTest::newRow("port 10") << "Com - 10" << 10;
    QTest::newRow("rounded down") << "Com - 3.7" << 3;
    QTest::newRow("negative rounded down") << "Com - -2.5" << -3;
    QTest::newRow("blank before the number") << "Com -  7" << 7;
    QTest::newRow("letters after the number") << "Com - 12abc" << 12;
    QTest::newRow("nothing after the prefix") << "Com - " << 0;
    QTest::newRow("not a number") << "Com - abc" << 0;
    QTest::newRow("sign alone") << "Com - -" << 0;
    QTest::newRow("empty entry") << "" << 0;
    QTest::newRow("too large for an int") << "Com - 99999999999" << 0;
    QTest::newRow("only the seventh character on counts") << "Com 12 5" << 5;
}

void TestPortScan::portFromEntry()
{
    QFETCH(QString, entry);
    QFETCH(int, port);
    QCOMPARE(relo::portFromEntry(entry), port);
}

void TestPortScan::entriesReadBack()
{
    QCOMPARE(portEntry(1), QStringLiteral("Com - 1"));
    QCOMPARE(portEntry(10), QStringLiteral("Com - 10"));
    for (int n = FirstScannedPort; n <= LastScannedPort; ++n)
        QCOMPARE(relo::portFromEntry(portEntry(n)), n);
}

void TestPortScan::orderedSystemPorts_data()
{
    QTest::addColumn<QStringList>("system");
    QTest::addColumn<QStringList>("ordered");
    QTest::newRow("USB, then ACM, then the rest")
        << QStringList{"/dev/ttyS0", "/dev/ttyACM0", "/dev/ttyUSB0"}
        << QStringList{"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"};
    QTest::newRow("numbers in natural order")
        << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyUSB1"}
        << QStringList{"/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB10"};
    QTest::newRow("the rest by name, then number")
        << QStringList{"/dev/ttyS10", "/dev/ttyS9", "/dev/ttyAMA0", "/dev/ttyACM11", "/dev/ttyACM3"}
        << QStringList{"/dev/ttyACM3", "/dev/ttyACM11", "/dev/ttyAMA0", "/dev/ttyS9",
                       "/dev/ttyS10"};
    QTest::newRow("duplicates once")
        << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB0"} << QStringList{"/dev/ttyUSB0"};
    QTest::newRow("none") << QStringList{} << QStringList{};
}

void TestPortScan::orderedSystemPorts()
{
    QFETCH(QStringList, system);
    QFETCH(QStringList, ordered);
    QCOMPARE(relo::orderedSystemPorts(system), ordered);
}

void TestPortScan::devicePath_data()
{
    QTest::addColumn<QStringList>("env"); // NAME=value
    QTest::addColumn<QStringList>("system");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("path");

    const QStringList system{"/dev/ttyS0", "/dev/ttyUSB10", "/dev/ttyACM0", "/dev/ttyUSB2"};
#ifdef Q_OS_WIN
    QTest::newRow("COMn") << QStringList{} << QStringList{} << 3 << "COM3";
#else
    QTest::newRow("first USB adapter") << QStringList{} << system << 1 << "/dev/ttyUSB2";
    QTest::newRow("second USB adapter") << QStringList{} << system << 2 << "/dev/ttyUSB10";
    QTest::newRow("after the USB adapters") << QStringList{} << system << 3 << "/dev/ttyACM0";
    QTest::newRow("beyond the system's devices") << QStringList{} << system << 5 << "";
    QTest::newRow("no devices at all") << QStringList{} << QStringList{} << 1 << "";
    QTest::newRow("other ports keep their place")
        << QStringList{"RELO_COM1=/dev/pts/4"} << system << 2 << "/dev/ttyUSB10";
#endif
    QTest::newRow("environment first")
        << QStringList{"RELO_COM2=/dev/pts/4"} << system << 2 << "/dev/pts/4";
    QTest::newRow("set but empty: no device") << QStringList{"RELO_COM1="} << system << 1 << "";
    QTest::newRow("port 0") << QStringList{"RELO_COM0=/dev/pts/4"} << system << 0 << "";
}

void TestPortScan::devicePath()
{
    QFETCH(QStringList, env);
    QFETCH(QStringList, system);
    QFETCH(int, port);
    QFETCH(QString, path);
    QProcessEnvironment environment;
    for (const QString &pair : env)
        environment.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    QCOMPARE(devicePathForPort(port, environment, system), path);
}

void TestPortScan::scanWithFake_data()
{
    QTest::addColumn<QList<int>>("present");
    QTest::addColumn<QList<int>>("busy");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("no usable port") << QList<int>{} << QList<int>{} << QStringList{};
    QTest::newRow("ports 2 and 5")
        << QList<int>{2, 5} << QList<int>{} << QStringList{"Com - 2", "Com - 5"};
    QTest::newRow("busy port left out")
        << QList<int>{1, 3, 10} << QList<int>{3} << QStringList{"Com - 1", "Com - 10"};
    QTest::newRow("port 11 never offered")
        << QList<int>{10, 11} << QList<int>{} << QStringList{"Com - 10"};
}

void TestPortScan::scanWithFake()
{
    QFETCH(QList<int>, present);
    QFETCH(QList<int>, busy);
    QFETCH(QStringList, entries);

    FakeSerialPort port;
    port.setPresent(present);
    for (int n : busy)
        port.setBusy(n);
    QStringList list{"already there"};
    int count = 1;
    scanPorts(
        port, [&](const QString &entry) { list << entry; }, count);

    QCOMPARE(list, QStringList{"already there"} + entries);
    QCOMPARE(count, 1 + int(entries.size()));
    QVERIFY(!port.isOpen());
    QCOMPARE(port.portNumber(), 10);
    // Every port that opened was closed again before the next was tried.
    QStringList expectedCalls;
    for (int n = 1; n <= 10; ++n) {
        if (!present.contains(n))
            expectedCalls << QStringLiteral("open %1 missing").arg(n);
        else if (busy.contains(n))
            expectedCalls << QStringLiteral("open %1 busy").arg(n);
        else
            expectedCalls << QStringLiteral("open %1").arg(n) << QStringLiteral("close");
    }
    QCOMPARE(port.calls(), expectedCalls);
}

void TestPortScan::scanLeavesAnOpenPortAlone()
{
    FakeSerialPort port;
    port.setPresent({1, 2});
    QCOMPARE(port.openPort(2), SerialPort::OpenError::None);
    port.clearLog();
    QStringList list;
    int count = 0;
    scanPorts(
        port, [&](const QString &entry) { list << entry; }, count);
    QVERIFY(port.isOpen());
    QVERIFY(port.calls().isEmpty());
    QVERIFY(list.isEmpty());
    QCOMPARE(count, 0);
}

// Real devices: free pseudo-terminals are listed, a missing path and ports held
// elsewhere are not.
void TestPortScan::scanOverPseudoTerminals()
{
    PseudoTerminal free3, free5, heldElsewhere, heldHere;
    QVERIFY(free3.open() && free5.open() && heldElsewhere.open() && heldHere.open());

    for (int n = 1; n <= 10; ++n)
        qputenv(qPrintable(portEnvironmentVariable(n)),
                QByteArray("/nonexistent/relo-test-") + QByteArray::number(n));
    qputenv("RELO_COM2", QByteArray()); // no device at all
    qputenv("RELO_COM3", free3.slavePath().toLocal8Bit());
    qputenv("RELO_COM5", free5.slavePath().toLocal8Bit());
    qputenv("RELO_COM7", heldElsewhere.slavePath().toLocal8Bit());
    qputenv("RELO_COM8", heldHere.slavePath().toLocal8Bit());

    // Another process listening on port 7.
    QProcess holder;
    holder.start(QStringLiteral(RELO_BIN_DIR "/relo-sim"),
                 {QStringLiteral("--port"), heldElsewhere.slavePath()});
    QVERIFY2(holder.waitForStarted(5000), qPrintable(holder.errorString()));
    QVERIFY(holder.waitForReadyRead(5000));
    QVERIFY(holder.readLine().startsWith("Port: "));

    // Another port object of this process holding port 8.
    RealSerialPort other;
    QCOMPARE(other.openPort(8), SerialPort::OpenError::None);

    RealSerialPort port;
    QStringList list;
    int count = 4;
    scanPorts(
        port, [&](const QString &entry) { list << entry; }, count);
    QCOMPARE(list, (QStringList{"Com - 3", "Com - 5"}));
    QCOMPARE(count, 6);
    QVERIFY(!port.isOpen());

    // The scan released what it opened: the same ports open again.
    QCOMPARE(port.openPort(3), SerialPort::OpenError::None);
    port.closePort();

    holder.terminate();
    QVERIFY(holder.waitForFinished(5000));
    QCOMPARE(holder.exitStatus(), QProcess::NormalExit);
    // Released by the other process, port 7 is free now.
    QCOMPARE(port.openPort(7), SerialPort::OpenError::None);
}

QTEST_GUILESS_MAIN(TestPortScan)
#include "tst_portscan.moc"
