// The built relo-sim: the virtual receiver that decodes what reaches its
// pseudo-terminal, and its refusal of a port another program holds.

#include "link/frame.h"
#include "link/realserialport.h"
#include "support/programs.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace relo;

namespace {

// The next `count` lines relo-sim prints (fewer if it stays silent for five
// seconds), each without its time stamp, which must be hh:mm:ss.zzz.
QStringList readLines(QProcess &sim, int count)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  "));
    QStringList lines;
    while (lines.size() < count && (sim.canReadLine() || sim.waitForReadyRead(5000))) {
        if (sim.canReadLine())
            lines << QString::fromUtf8(sim.readLine()).chopped(1).remove(stamp);
    }
    return lines;
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesItsPseudoTerminal();
};

// Started without arguments it makes a pseudo-terminal pair and decodes what
// arrives at its far end. A second relo-sim on the near end, which this test
// holds open, says in Turkish that another program uses it.
void TestSim::decodesItsPseudoTerminal()
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/relo-sim");
    QProcess sim;
    endWithTest(sim);
    sim.start(program);
    const QStringList head = readLines(sim, 2);
    const QString path = head.value(0).mid(6);
    QCOMPARE(head,
             QStringList({"Port: " + path, "RELOKomut ve RELO için: export RELO_COM1=" + path}));

    qputenv("RELO_COM1", path.toLocal8Bit());
    RealSerialPort port;
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    QVERIFY(port.send(buildFrame(5) + "\x04" + buildFrame(0) + buildFrame(0xFF) + "\x80"));
    QCOMPARE(readLines(sim, 5), (QStringList{
                                    "çerçeve 1  maske=5  açık: 1 3",
                                    "çerçeve dışı: 04",
                                    "çerçeve 2  maske=0  hepsi kapalı",
                                    "çerçeve 3  maske=255  açık: 1 2 3 4 5 6 7 8",
                                    "çerçeve dışı: 80",
                                }));
    const Outcome second = runProgram(program, {QStringLiteral("--port"), path});
    QCOMPARE(second.exitCode, 1);
    QCOMPARE(second.err,
             QStringLiteral("relo-sim: %1 açılamadı: başka bir program kullanıyor\n").arg(path));
    sim.terminate(); // SIGTERM ends it cleanly
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
