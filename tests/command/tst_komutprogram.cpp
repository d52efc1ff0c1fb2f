// The built RELOKomut, run headless as a separate process against a
// pseudo-terminal that stands in for the radio module's serial port.

#include "files.h"
#include "frame.h"
#include "pseudoterminal.h"
#include "settingsfile.h"

#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

constexpr int FrameBytes = 18;
const QByteArray Saved = "[RELO]\nPortNumber=3\nPortData=1\n";

QByteArray frames(int count, int mask)
{
    return relo::buildFrame(relo::Mask(mask)).repeated(count);
}

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

class TestKomutProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void run_data();
    void run();
    void commandsBackToBack();
    void killedWhileSending();

private:
    QString iniPath() const { return relo::settingsPath(m_dir->path()); }
    QProcess *start(const QStringList &args);
    Outcome run(const QStringList &args);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<relo::PseudoTerminal> m_wire;
    QString m_program;
    QProcessEnvironment m_env;
};

void TestKomutProgram::init()
{
    // A folder of its own, so ayar.ini lands beside this copy of the program.
    m_dir = std::make_unique<QTemporaryDir>();
    m_program = m_dir->filePath(QStringLiteral("RELOKomut"));
    QVERIFY(QFile::copy(QStringLiteral(RELO_BIN_DIR "/RELOKomut"), m_program));
    QVERIFY(writeFile(iniPath(), Saved));
    m_wire = std::make_unique<relo::PseudoTerminal>();
    QVERIFY2(m_wire->open(), qPrintable(m_wire->errorString()));

    // Ports 3 (the saved one) and 1 (where an unusable PortNumber leads) are the
    // wire; every other number maps nowhere, so the machine's own devices never
    // count. No display: the program must do without one.
    m_env = QProcessEnvironment::systemEnvironment();
    for (int n = 1; n <= 10; ++n)
        m_env.insert(QStringLiteral("RELO_COM%1").arg(n),
                     n == 1 || n == 3 ? m_wire->slavePath()
                                      : QStringLiteral("/nonexistent/tty%1").arg(n));
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        m_env.remove(QLatin1String(name));
}

QProcess *TestKomutProgram::start(const QStringList &args)
{
    auto *process = new QProcess(this);
    process->setProcessEnvironment(m_env);
    process->start(m_program, args);
    return process;
}

Outcome TestKomutProgram::run(const QStringList &args)
{
    const std::unique_ptr<QProcess> process(start(args));
    if (!process->waitForFinished(20000) || process->exitStatus() != QProcess::NormalExit)
        return {};
    return {process->exitCode(), QString::fromUtf8(process->readAllStandardOutput()),
            QString::fromUtf8(process->readAllStandardError())};
}

void TestKomutProgram::run_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");      // %1: the wire's device path; a final * : the start only
    QTest::addColumn<QString>("err");      // likewise
    QTest::addColumn<QByteArray>("after"); // ayar.ini afterwards; empty: unchanged
    QTest::addColumn<int>("mask");         // of the four frames on the wire; -1: nothing sent
    QTest::addColumn<QByteArray>("before"); // ayar.ini; empty: Saved
    const auto row = [](const char *name, const QStringList &args, int exitCode, const char *out,
                        const char *err, const QByteArray &after = {}, int mask = -1,
                        const QByteArray &before = {}) {
        QTest::newRow(name) << args << exitCode << out << err << after << mask << before;
    };
    const QStringList on3{"03-1"};
    const char *const done = "Çıkış-3 Açıldı\n";
    row("03-1", on3, 0, done, "", "[RELO]\nPortNumber=3\nPortData=5\n", 5);
    row("arguments joined", {"03", "-1"}, 2, "", "Hatalı komut: \"03 -1\"\n");
    row("missing port", on3, 1, "", "Port Hatası: Com - 3 (/nonexistent/tty3) bulunamadı\n");
    row("port held", on3, 1, "",
        "Port Hatası: Com - 3 (%1) başka bir program tarafından kullanılıyor\n");
    row("setup needs a person", {}, 2, "", "Kullanım: *");
    row("version", {"--version"}, 0, "RELOKomut 1.0.14\n", "");
    row("list ports", {"--list-ports"}, 0, "Com - 1\t%1\nCom - 3\t%1\n", "");
    row("set port 10", {"--set-port", "10"}, 0, "", "", "[RELO]\nPortNumber=10\nPortData=0\n");
    row("set port=1", {"--set-port=1"}, 0, "", "", "[RELO]\nPortNumber=1\nPortData=0\n");
    row("set port 0", {"--set-port", "0"}, 2, "", "Geçersiz port numarası: \"0\" (1-10 olmalı)\n");
    row("set port 11", {"--set-port", "11"}, 2, "",
        "Geçersiz port numarası: \"11\" (1-10 olmalı)\n");
    row("option and command", {"--list-ports", "03-1"}, 2, "", "Hatalı kullanım: *");

    // Damaged ayar.ini: no crash; what cannot be read counts as missing (port 1, mask 0).
    QByteArray garbage(64 * 1024, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 2654435761u) >> 24);
    garbage.replace('[', '{').replace('\r', '.').back() = '.'; // no section, LF line ends
    // A file too large to be ayar.ini reads as empty and is left alone.
    row("10 MB", on3, 3, done, "ayar.ini yazılamadı: *", {}, 4, Saved + QByteArray(10 << 20, 'x'));
    row("binary garbage", on3, 0, done, "", garbage + "\n[RELO]\nPortData=4\n", 4, garbage);
    row("10,000-character value", on3, 0, done, "", "[RELO]\nPortNumber=3\nPortData=4\n", 4,
        "[RELO]\nPortNumber=3\nPortData=" + QByteArray(10000, '7') + "\n");
    row("no line end at all", on3, 0, done, "", "[RELO] PortNumber=3 PortData=1\nPortData=4\n", 4,
        "[RELO] PortNumber=3 PortData=1");
    row("no final line end", on3, 0, done, "", "[RELO]\nPortNumber=3\nPortData=5", 5,
        Saved.chopped(1));
    row("port 0", on3, 0, done, "", "[RELO]\nPortNumber=0\nPortData=5\n", 5,
        "[RELO]\nPortNumber=0\nPortData=1\n");
}

void TestKomutProgram::run()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QByteArray, after);
    QFETCH(int, mask);
    QFETCH(QByteArray, before);

    const QByteArray situation = QTest::currentDataTag();
    if (situation == "missing port")
        m_env.insert(QStringLiteral("RELO_COM3"), QStringLiteral("/nonexistent/tty3"));
    if (!before.isEmpty())
        QVERIFY(writeFile(iniPath(), before));
    QSerialPort holder(m_wire->slavePath());
    QVERIFY(situation != "port held" || holder.open(QIODevice::ReadWrite));
    const Outcome outcome = run(args);
    holder.close();

    const auto matches = [](const QString &actual, const QString &expected) {
        return expected.endsWith(u'*') ? actual.startsWith(expected.chopped(1))
                                       : actual == expected;
    };
    QCOMPARE(outcome.exitCode, exitCode);
    QVERIFY2(matches(outcome.out, out.replace(QLatin1String("%1"), m_wire->slavePath())),
             qPrintable(outcome.out));
    QVERIFY2(matches(outcome.err, err.replace(QLatin1String("%1"), m_wire->slavePath())),
             qPrintable(outcome.err));
    QVERIFY(readFile(iniPath()) == (!after.isEmpty() ? after : !before.isEmpty() ? before : Saved));
    if (mask >= 0)
        QCOMPARE(m_wire->readExactly(4 * FrameBytes, 5000), frames(4, mask));
    QCOMPARE(m_wire->read(0), QByteArray());
    QSerialPort released(m_wire->slavePath()); // no lock left behind
    QVERIFY(released.open(QIODevice::ReadWrite));
}

void TestKomutProgram::commandsBackToBack()
{
    // A speech tool saying "one on, two on, three on, four on" in quick succession:
    // each command waits for the port and starts from the mask the one before saved.
    QVERIFY(writeFile(iniPath(), "[RELO]\nPortNumber=3\nPortData=0\n"));
    QList<QProcess *> processes;
    for (int channel = 1; channel <= 4; ++channel) {
        processes << start({QStringLiteral("0%1-1").arg(channel)});
        QTest::qWait(100);
    }
    for (QProcess *process : processes) {
        QVERIFY(process->waitForFinished(20000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
    }
    const QByteArray wire = m_wire->readExactly(16 * FrameBytes, 5000);
    QCOMPARE(wire.size(), 16 * FrameBytes);
    for (int i = 0; i < 16; ++i)
        QCOMPARE(wire.mid(i * FrameBytes, FrameBytes - 1), frames(1, 0).chopped(1));
    QCOMPARE(quint8(wire.back()), quint8(0x0F));
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QStringLiteral("15"));
}

void TestKomutProgram::killedWhileSending()
{
    QProcess *victim = start({QStringLiteral("03-1")});
    QCOMPARE(m_wire->readExactly(FrameBytes, 5000).size(), FrameBytes); // it is sending
    ::kill(pid_t(victim->processId()), SIGKILL);
    QVERIFY(victim->waitForFinished(5000));
    m_wire->read(300); // whatever it had written

    // The file holds the old mask or the new one, never a damaged one.
    const QByteArray after = readFile(iniPath());
    QVERIFY2(after == Saved || after == "[RELO]\nPortNumber=3\nPortData=5\n", after.constData());
    // The dead process's lock on the port is stale: the next command gets it.
    QCOMPARE(run({QStringLiteral("08-1")}).exitCode, 0);
    const int mask = relo::readSetting(m_dir->path(), relo::PortDataKey).toInt();
    QVERIFY(mask == (0x80 | 1) || mask == (0x80 | 5));
    QCOMPARE(m_wire->readExactly(4 * FrameBytes, 5000), frames(4, mask));
}

QTEST_GUILESS_MAIN(TestKomutProgram)
#include "tst_komutprogram.moc"
