// The built RELOKomut, run as a separate process against a pseudo-terminal that
// stands in for the radio module's serial port.

#include "frame.h"
#include "pseudoterminal.h"
#include "settingsfile.h"

#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

namespace {

constexpr int WirePort = 3;
constexpr int FrameBytes = 18;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class TestKomutProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void command_data();
    void command();
    void busyPortFreesUp();
    void withoutDisplay_data();
    void withoutDisplay();
    void options_data();
    void options();

    void commandsBackToBack();
    void killedWhileSending();
    void damagedSettings_data();
    void damagedSettings();

private:
    QString iniPath() const { return relo::settingsPath(m_dir->path()); }
    // Runs the copy of RELOKomut; `whileRunning` is called once it has started.
    Outcome run(const QStringList &args, const std::function<void()> &whileRunning = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<relo::PseudoTerminal> m_wire;
    QString m_program;
    QProcessEnvironment m_env;
};

void TestKomutProgram::init()
{
    // A folder of its own, so ayar.ini lands beside this copy of the program.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_program = m_dir->filePath(QStringLiteral("RELOKomut"));
    QVERIFY(QFile::copy(QStringLiteral(RELO_BIN_DIR "/RELOKomut"), m_program));

    m_wire = std::make_unique<relo::PseudoTerminal>();
    QVERIFY2(m_wire->open(), qPrintable(m_wire->errorString()));

    // Every port number maps somewhere, so the machine's own devices never count.
    m_env = QProcessEnvironment::systemEnvironment();
    for (int n = 1; n <= 10; ++n)
        m_env.insert(QStringLiteral("RELO_COM%1").arg(n),
                     QStringLiteral("/nonexistent/relo-test/tty%1").arg(n));
    m_env.insert(QStringLiteral("RELO_COM%1").arg(WirePort), m_wire->slavePath());
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
}

void TestKomutProgram::cleanup()
{
    m_wire.reset();
    m_dir.reset();
}

Outcome TestKomutProgram::run(const QStringList &args, const std::function<void()> &whileRunning)
{
    QProcess process;
    process.setProcessEnvironment(m_env);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(m_program, args);
    if (!process.waitForStarted(10000)) {
        qWarning("RELOKomut did not start: %s", qPrintable(process.errorString()));
        return {};
    }
    if (whileRunning)
        whileRunning();
    if (finished.isEmpty() && !finished.wait(20000)) {
        qWarning("RELOKomut did not finish");
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        qWarning("RELOKomut crashed");
        return {};
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

void TestKomutProgram::command_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("portThere");
    QTest::addColumn<QByteArray>("portData"); // before
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QString>("err"); // the start of the one line
    QTest::addColumn<int>("mask");    // on the wire and in ayar.ini; -1: nothing sent or saved

    QTest::newRow("03-1") << QStringList{"03-1"} << true << QByteArray("0") << 0
                          << QByteArray("Çıkış-3 Açıldı\n") << QString() << 4;
    QTest::newRow("01-1 keeps 4") << QStringList{"01-1"} << true << QByteArray("4") << 0
                                  << QByteArray("Çıkış-1 Açıldı\n") << QString() << 5;
    QTest::newRow("03-0") << QStringList{"03-0"} << true << QByteArray("5") << 0
                          << QByteArray("Çıkış-3 Kapandı\n") << QString() << 1;
    QTest::newRow("3-1") << QStringList{"3-1"} << true << QByteArray("1") << 2 << QByteArray()
                         << "Hatalı komut" << -1;
    QTest::newRow("03 -1") << QStringList{"03", "-1"} << true << QByteArray("1") << 2
                           << QByteArray() << "Hatalı komut" << -1;
    QTest::newRow("missing port") << QStringList{"03-1"} << false << QByteArray("1") << 1
                                  << QByteArray() << "Port Hatası: Com - 3" << -1;
}

void TestKomutProgram::command()
{
    QFETCH(QStringList, args);
    QFETCH(bool, portThere);
    QFETCH(QByteArray, portData);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QString, err);
    QFETCH(int, mask);

    const QByteArray before = "[RELO]\nPortNumber=3\nPortData=" + portData + "\n";
    QVERIFY(writeFile(iniPath(), before));
    if (!portThere)
        m_env.insert(QStringLiteral("RELO_COM3"), QStringLiteral("/nonexistent/relo-test/tty3"));

    const Outcome outcome = run(args);
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.out, out);
    if (err.isEmpty()) {
        QCOMPARE(outcome.err, QByteArray());
    } else {
        QVERIFY2(outcome.err.startsWith(err.toUtf8()), outcome.err.constData());
        QCOMPARE(outcome.err.count('\n'), 1);
    }
    QSerialPort after(m_wire->slavePath()); // released: Qt's lock file is gone
    QVERIFY(after.open(QIODevice::ReadWrite));
    after.close();

    if (mask < 0) {
        QCOMPARE(m_wire->read(0), QByteArray());
        QCOMPARE(readFile(iniPath()), before);
        return;
    }
    const QByteArray frame = relo::buildFrame(relo::Mask(mask));
    QCOMPARE(m_wire->readExactly(4 * FrameBytes, 5000), frame + frame + frame + frame);
    QCOMPARE(m_wire->read(0), QByteArray());
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QString::number(mask));
}

void TestKomutProgram::busyPortFreesUp()
{
    QVERIFY(writeFile(iniPath(), "[RELO]\nPortNumber=3\nPortData=1\n"));
    QSerialPort holder(m_wire->slavePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));

    // The holder saves its mask and lets go a second after the command started.
    const Outcome outcome = run({QStringLiteral("02-1")}, [&] {
        QTimer::singleShot(1000, &holder, [&] {
            relo::writeSetting(m_dir->path(), relo::PortDataKey, QStringLiteral("4"));
            holder.close();
        });
    });
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("Çıkış-2 Açıldı\n"));
    const QByteArray frame = relo::buildFrame(4 | 2);
    QCOMPARE(m_wire->readExactly(4 * FrameBytes, 5000), frame + frame + frame + frame);
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QStringLiteral("6"));
}

void TestKomutProgram::withoutDisplay_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("command") << QStringList{"04-1"} << 0 << QByteArray("Çıkış-4 Açıldı\n")
                             << QString();
    QTest::newRow("rejected at once") << QStringList{"4-1"} << 2 << QByteArray() << "Hatalı komut";
    QTest::newRow("setup needs a person") << QStringList() << 2 << QByteArray() << "Kullanım";
}

void TestKomutProgram::withoutDisplay()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QString, err);

    QVERIFY(writeFile(iniPath(), "[RELO]\nPortNumber=3\nPortData=0\n"));
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        m_env.remove(QLatin1String(name));
    const Outcome outcome = run(args);
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.out, out);
    if (err.isEmpty())
        QCOMPARE(outcome.err, QByteArray());
    else
        QVERIFY2(outcome.err.startsWith(err.toUtf8()), outcome.err.constData());
}

void TestKomutProgram::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");        // %1: the wire's device path; "*": anything
    QTest::addColumn<QString>("portNumber"); // afterwards; "3": unchanged
    QTest::addColumn<QString>("portData");   // afterwards; "7": unchanged

    QTest::newRow("version") << QStringList{"--version"} << 0 << "RELOKomut 1.0.14\n"
                             << "3"
                             << "7";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "*"
                          << "3"
                          << "7";
    QTest::newRow("list ports") << QStringList{"--list-ports"} << 0 << "Com - 3\t%1\n"
                                << "3"
                                << "7";
    QTest::newRow("set port 10") << QStringList{"--set-port", "10"} << 0 << ""
                                 << "10"
                                 << "0";
    QTest::newRow("set port=1") << QStringList{"--set-port=1"} << 0 << ""
                                << "1"
                                << "0";
    QTest::newRow("set port 0") << QStringList{"--set-port", "0"} << 2 << ""
                                << "3"
                                << "7";
    QTest::newRow("set port 11") << QStringList{"--set-port", "11"} << 2 << ""
                                 << "3"
                                 << "7";
    QTest::newRow("set port x") << QStringList{"--set-port", "x"} << 2 << ""
                                << "3"
                                << "7";
    QTest::newRow("set port, no number") << QStringList{"--set-port"} << 2 << ""
                                         << "3"
                                         << "7";
    QTest::newRow("unknown") << QStringList{"--bogus"} << 2 << ""
                             << "3"
                             << "7";
    QTest::newRow("option and command") << QStringList{"--list-ports", "03-1"} << 2 << ""
                                        << "3"
                                        << "7";
}

void TestKomutProgram::options()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, portNumber);
    QFETCH(QString, portData);

    QVERIFY(writeFile(iniPath(), "[RELO]\nPortNumber=3\nPortData=7\n"));
    const Outcome outcome = run(args);
    QCOMPARE(outcome.exitCode, exitCode);
    if (out != QLatin1String("*"))
        QCOMPARE(QString::fromUtf8(outcome.out),
                 QString(out).replace(QLatin1String("%1"), m_wire->slavePath()));
    QCOMPARE(outcome.err.isEmpty(), exitCode == 0);
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortNumberKey), portNumber);
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), portData);
    QCOMPARE(m_wire->read(0), QByteArray());
}

void TestKomutProgram::commandsBackToBack()
{
    // A speech tool saying "one on, two on, three on, four on" in quick succession:
    // each command waits for the port and starts from the mask the one before saved.
    QVERIFY(writeFile(iniPath(), "[RELO]\nPortNumber=3\nPortData=0\n"));
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int channel = 1; channel <= 4; ++channel) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(m_env);
        process->start(m_program, {QStringLiteral("0%1-1").arg(channel)});
        QVERIFY(process->waitForStarted(10000));
        processes.push_back(std::move(process));
        QTest::qWait(100);
    }
    for (const auto &process : processes) {
        QVERIFY(process->waitForFinished(20000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
    }
    const QByteArray wire = m_wire->readExactly(16 * FrameBytes, 5000);
    QCOMPARE(wire.size(), 16 * FrameBytes);
    for (int i = 0; i < 16; ++i)
        QCOMPARE(wire.mid(i * FrameBytes, FrameBytes - 1),
                 relo::buildFrame(0).left(FrameBytes - 1));
    QCOMPARE(quint8(wire.back()), quint8(0x0F));
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QStringLiteral("15"));
}

void TestKomutProgram::killedWhileSending()
{
    const QByteArray before = "[RELO]\nPortNumber=3\nPortData=1\n";
    QVERIFY(writeFile(iniPath(), before));
    QProcess victim;
    victim.setProcessEnvironment(m_env);
    victim.start(m_program, {QStringLiteral("03-1")});
    QVERIFY(victim.waitForStarted(10000));
    QCOMPARE(m_wire->readExactly(FrameBytes, 5000).size(), FrameBytes); // it is sending
    ::kill(pid_t(victim.processId()), SIGKILL);
    QVERIFY(victim.waitForFinished(5000));
    m_wire->read(300); // whatever it had written

    // The file holds the old mask or the new one, never a damaged one.
    const QByteArray after = readFile(iniPath());
    QVERIFY2(after == before || after == "[RELO]\nPortNumber=3\nPortData=5\n", after.constData());
    // The dead process's lock on the port is stale: the next command gets it.
    const Outcome outcome = run({QStringLiteral("08-1")});
    QCOMPARE(outcome.exitCode, 0);
    const int mask = relo::readSetting(m_dir->path(), relo::PortDataKey).toInt();
    QVERIFY(mask == (0x80 | 1) || mask == (0x80 | 5));
    QCOMPARE(m_wire->readExactly(4 * FrameBytes, 5000).right(1), QByteArray(1, char(mask)));
}

void TestKomutProgram::damagedSettings_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("mask"); // sent with 03-1
    QTest::addColumn<bool>("saved");

    QByteArray garbage(64 * 1024, '\0');
    quint32 seed = 12345;
    for (char &c : garbage) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    garbage.replace('[', '{'); // no section header can appear by chance

    // A file too large to be ayar.ini reads as empty and is left alone.
    QTest::newRow("10 MB") << "[RELO]\nPortNumber=3\nPortData=1\n" + QByteArray(10 << 20, 'x') << 3
                           << 4 << false;
    QTest::newRow("binary garbage") << garbage << 0 << 4 << true;
    QTest::newRow("10,000-character value")
        << "[RELO]\nPortNumber=3\nPortData=" + QByteArray(10000, '7') + "\n"
        << 0 << 4 << true;
    QTest::newRow("no line end at all")
        << QByteArray("[RELO] PortNumber=3 PortData=1") << 0 << 4 << true;
    QTest::newRow("no final line end")
        << QByteArray("[RELO]\nPortNumber=3\nPortData=1") << 0 << 5 << true;
}

void TestKomutProgram::damagedSettings()
{
    QFETCH(QByteArray, content);
    QFETCH(int, exitCode);
    QFETCH(int, mask);
    QFETCH(bool, saved);

    // An unreadable PortNumber falls back to port 1: let that be the wire too.
    m_env.insert(QStringLiteral("RELO_COM1"), m_wire->slavePath());
    QVERIFY(writeFile(iniPath(), content));
    const Outcome outcome = run({QStringLiteral("03-1")});
    QCOMPARE(outcome.exitCode, exitCode);
    const QByteArray frame = relo::buildFrame(relo::Mask(mask));
    QCOMPARE(m_wire->readExactly(4 * FrameBytes, 5000), frame + frame + frame + frame);
    if (saved)
        QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QString::number(mask));
    else
        QVERIFY(readFile(iniPath()) == content);
}

QTEST_GUILESS_MAIN(TestKomutProgram)
#include "tst_komutprogram.moc"
