// The built RELOKomut, run headless as a separate process against a
// pseudo-terminal that stands in for the radio module's serial port, or against
// adapters of pseudo-terminals with by-id links.

#include "core/commandgrammar.h"
#include "core/commandqueue.h"
#include "core/settingsfile.h"
#include "dev/pseudoterminal.h"
#include "link/frame.h"
#include "link/framedecoder.h"
#include "link/realserialport.h"
#include "support/programs.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Saved = savedSettings(3, 1);

QByteArray frames(int count, int mask)
{
    return relo::buildFrame(relo::Mask(mask)).repeated(count);
}

} // namespace

class TestKomutProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void run_data();
    void run();
    void burst_data();
    void burst();
    void readOnlyInstall_data();
    void readOnlyInstall();
    void stopped_data();
    void stopped();

private:
    QString iniPath() const { return relo::settingsPath(m_dir->path()); }
    Outcome run(const QStringList &args) { return runProgram(m_program, args, m_env); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<relo::PseudoTerminal> m_wire;
    QString m_program;
    QProcessEnvironment m_env;
};

void TestKomutProgram::init()
{
    // A folder of its own, so ayar.ini lands beside this copy of the program.
    m_dir = std::make_unique<QTemporaryDir>();
    m_program = copyProgram(QStringLiteral("RELOKomut"), m_dir->path());
    QVERIFY(writeFile(iniPath(), Saved));
    m_wire = std::make_unique<relo::PseudoTerminal>();
    QVERIFY2(m_wire->open(), qPrintable(m_wire->errorString()));

    // Ports 3 (the saved one) and 1 (where an unusable PortNumber leads) are the
    // wire; every other number maps nowhere, so the machine's own devices never
    // count. No display: the program must do without one.
    m_env = portEnvironment({{1, m_wire->slavePath()}, {3, m_wire->slavePath()}});
}

void TestKomutProgram::run_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");      // %1: the wire's device path; a final * : the start only
    QTest::addColumn<QString>("err");      // likewise
    QTest::addColumn<QByteArray>("after"); // ayar.ini afterwards; empty: unchanged
    QTest::addColumn<int>("mask");         // of the four frames on the wire; -1: nothing sent
    const auto row = [](const char *name, const QStringList &args, int exitCode, const char *out,
                        const QByteArray &err, const QByteArray &after = {}, int mask = -1) {
        QTest::newRow(name) << args << exitCode << out << QString::fromUtf8(err) << after << mask;
    };
    const QStringList on3{"03-1"};
    const char *const done = "Çıkış-3 Açıldı\n";
    row("03-1", on3, 0, done, "", savedSettings(3, 5), 5);
    row("arguments joined", {"03", "-1"}, 2, "", "Hatalı komut: \"03 -1\"\n");
    row("missing port", on3, 1, "", "Port Hatası: Com - 3 (/nonexistent/tty3) bulunamadı\n");
    // Held by another program for a moment: tried again until it is free.
    row("port held a moment", on3, 0, done, "", savedSettings(3, 5), 5);
    const QByteArray busy = "Port Hatası: Com - 3 (%1) başka bir program tarafından kullanılıyor\n";
    const QByteArray none = "Açılabilen port yok\n";
    row("port held", on3, 1, "", busy);
    // Held by a program that takes neither a lock nor exclusive use: left out of the list.
    row("list, port held", {"--list-ports"}, 0, "", busy + none);
    // The group may open the device, its owner (this user) may not: the remedy.
    const QByteArray denied = "Port Hatası: Com - 3 (%1) açma izni yok: %3 grubuna üye olun (sudo "
                              "usermod -aG %3 %4), sonra oturumu kapatıp yeniden açın\n";
    row("not permitted", on3, 1, "", denied);
    row("list, not permitted", {"--list-ports"}, 0, "", denied + none);
    // Its lock file (%2) left by a program that has ended, and this user may not remove it.
    row("stale lock", on3, 1, "",
        "Port Hatası: Com - 3 (%1) kilitli: kilit dosyası %2 artık çalışmayan bir programdan kaldı "
        "ve silinemiyor; yönetici silmeli (sudo rm %2)\n");
    row("setup needs a person", {}, 2, "", "Kullanım: *");
    row("list ports", {"--list-ports"}, 0, "Com - 1\t%1\nCom - 3\t%1\n", "");
    row("list no ports", {"--list-ports"}, 0, "", none);
    // Both spellings; a new port starts with all outputs off (which ones a port
    // in use keeps is the window's setup test).
    row("set port 10", {"--set-port", "10"}, 0, "", "", savedSettings(10, 0));
    row("set port=1", {"--set-port=1"}, 0, "", "", savedSettings(1, 0));
    row("set port 0", {"--set-port", "0"}, 2, "", "Geçersiz port numarası: \"0\" (1-10 olmalı)\n");
    row("option and command", {"--list-ports", "03-1"}, 2, "", "Hatalı kullanım: *");
    // Saved as PortNumber=0: port 1 (damaged files are tst_settingsfile's).
    row("port 0", on3, 0, done, "", savedSettings(0, 5), 5);
    // DISPLAY left behind by a session that is gone: a command still runs, a
    // window that needs a person says so in one line.
    row("stale display", on3, 0, done, "", savedSettings(3, 5), 5);
    row("setup, stale display", {}, 1, "",
        "RELOKomut port ayarı bir masaüstü oturumu ister: ekrana bağlanılamadı (DISPLAY=:4242).\n");
    row("RELO stale display", {}, 1, "",
        "RELO bir masaüstü oturumu ister: ekrana bağlanılamadı (DISPLAY=:4242).\n");
    // Rows named after a program run that one: each answers at once, with no screen.
    for (const char *program : {"RELO", "RELOKomut", "relo-sim", "relo-mqtt", "relo-web"})
        row(qPrintable(QStringLiteral("%1 --help").arg(program)), {"--help"}, 0,
            qPrintable(QStringLiteral("Kullanım: %1 *").arg(program)), "");
    // The services echo an unknown option escaped, and say where the help is.
    row("relo-mqtt misuse", {"--\x1b[2J"}, 2, "",
        "Bilinmeyen seçenek: --\\x1b[2J\nYardım için: relo-mqtt --help\n");
}

void TestKomutProgram::run()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QByteArray, after);
    QFETCH(int, mask);

    const QByteArray situation = QTest::currentDataTag();
    if (situation == "list no ports")
        m_env = portEnvironment({});
    if (situation.startsWith("list, "))
        m_env = portEnvironment({{3, m_wire->slavePath()}});
    if (situation == "missing port")
        m_env.insert(QStringLiteral("RELO_COM3"), QStringLiteral("/nonexistent/tty3"));
    if (situation.endsWith("stale display"))
        m_env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4242"));
    const QString first = QString::fromUtf8(situation).section(u' ', 0, 0);
    if (first == "RELO" || first.startsWith("relo-"))
        m_program = QCoreApplication::applicationDirPath() + u'/' + first;
    if (situation == "port 0")
        QVERIFY(writeFile(iniPath(), savedSettings(0, 1)));
    const QString lock = relo::lockFilePath(m_wire->slavePath());
    if (situation == "stale lock") {
        if (::geteuid() == 0)
            QSKIP("root may remove any lock file, and Qt does");
        // No process ever has the number pid_max.
        const QByteArray pid = readFile(QStringLiteral("/proc/sys/kernel/pid_max")).trimmed();
        QVERIFY(writeFile(lock, pid + "\nRELOKomut\n") &&
                QFile::setPermissions(lock, QFile::ReadOwner));
    }
    const QByteArray device = QFile::encodeName(m_wire->slavePath());
    struct stat st = {};
    if (situation.endsWith("not permitted")) {
        if (::geteuid() == 0)
            QSKIP("root may open any device: the permission case needs an ordinary user");
        QVERIFY(::chmod(device.constData(), 0060) == 0 && ::stat(device.constData(), &st) == 0);
    }
    QSerialPort holder(m_wire->slavePath());
    QVERIFY(situation != "port held" || holder.open(QIODevice::ReadWrite));
    QProcess stdinHolder; // the line as its standard input, for half a second or throughout
    stdinHolder.setStandardInputFile(m_wire->slavePath());
    if (situation.endsWith("held a moment") || situation == "list, port held") {
        stdinHolder.start(QStringLiteral("sleep"), {situation.endsWith("moment") ? "0.5" : "60"});
        QVERIFY(stdinHolder.waitForStarted());
    }
    const Outcome outcome = run(args);
    holder.close();
    stdinHolder.kill();
    stdinHolder.waitForFinished();
    ::chmod(device.constData(), 0600);
    QVERIFY(situation != "stale lock" || QFile::remove(lock));

    QCOMPARE(outcome.exitCode, exitCode);
    for (auto [actual, expected] : {std::pair{outcome.out, out}, std::pair{outcome.err, err}}) {
        expected.replace(QLatin1String("%1"), m_wire->slavePath()).replace("%2", lock);
        expected.replace("%3", ::getgrgid(st.st_gid)->gr_name)
            .replace("%4", ::getpwuid(::geteuid())->pw_name);
        QVERIFY2(expected.endsWith(u'*') ? actual.startsWith(expected.chopped(1))
                                         : actual == expected,
                 qPrintable(actual));
    }
    QVERIFY(readFile(iniPath()) == (after.isEmpty() ? Saved : after));
    if (mask >= 0)
        QCOMPARE(m_wire->readExactly(4 * relo::FrameSize, 5000), frames(4, mask));
    QCOMPARE(m_wire->read(0), QByteArray());
    QSerialPort released(m_wire->slavePath()); // no lock left behind
    QVERIFY(released.open(QIODevice::ReadWrite));
}

void TestKomutProgram::burst_data()
{
    QTest::addColumn<QStringList>("commands"); // started 40 ms apart, in this order
    QTest::addColumn<int>("killed");           // SIGKILLed once the first frame is out; -1: none

    // Channels switched on and off again while others wait, as a speech tool's
    // "all lights on" and a pulse do: every command takes effect.
    QTest::newRow("sixteen mixed")
        << QStringList{"01-1", "02-1", "01-0", "03-1", "02-0", "04-1", "03-0", "01-1",
                       "05-1", "04-0", "05-0", "02-1", "06-1", "01-0", "06-0", "07-1"}
        << -1;
    // A process dies once the first frame is out, sending or waiting: the others
    // are not held up, and what was saved is never half a file. The killed
    // command's channel is switched again later, so the end does not depend on
    // how far it got. (Carrying the mask without ayar.ini is readOnlyInstall's.)
    QTest::newRow("first killed") << QStringList{"01-1", "02-1", "03-1", "01-0"} << 0;
    QTest::newRow("second killed") << QStringList{"01-1", "02-1", "03-1", "02-0"} << 1;
}

void TestKomutProgram::burst()
{
    QFETCH(QStringList, commands);
    QFETCH(int, killed);
    QVERIFY(writeFile(iniPath(), savedSettings(3, 0)));

    QList<QProcess *> processes;
    for (const QString &command : commands) {
        if (!processes.isEmpty())
            QTest::qWait(40);
        processes << new QProcess(this);
        processes.back()->setProcessEnvironment(m_env);
        endWithTest(*processes.back());
        processes.back()->start(m_program, {command});
    }
    relo::FrameDecoder decoder;
    QList<relo::FrameDecoder::Event> events;
    if (killed >= 0) {
        while (events.isEmpty())
            events += decoder.feed(m_wire->read(5000));
        ::kill(pid_t(processes.at(killed)->processId()), SIGKILL);
    }
    for (QProcess *process : processes) {
        QVERIFY(process->waitForFinished(30000));
        // Each learns its batch's outcome, whichever process sent it.
        QVERIFY(process == processes.value(killed) || process->exitCode() == 0);
    }
    events += decoder.feed(m_wire->read(500));

    // Applied one by one in start order.
    relo::Mask expected = 0;
    for (const QString &command : commands)
        expected = relo::applyCommand(command, expected).newMask;
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QString::number(expected));
    QVERIFY(!events.isEmpty());
    QCOMPARE(events.back().mask, expected);
    // Every mask that reached the wire did so in at least four frames in a row
    // (the batch a kill may cut short excepted).
    QList<std::pair<relo::Mask, int>> runs;
    for (const relo::FrameDecoder::Event &event : std::as_const(events)) {
        QCOMPARE(event.kind, relo::FrameDecoder::Event::Frame);
        if (runs.isEmpty() || runs.back().first != event.mask)
            runs.append({event.mask, 0});
        ++runs.back().second;
    }
    for (qsizetype i = killed >= 0 ? 1 : 0; i < runs.size(); ++i)
        QVERIFY2(runs.at(i).second >= 4, qPrintable(QString::number(runs.at(i).first)));
    // Each channel went through every state its commands asked for, in order: no
    // command was swallowed by a later one for the same channel (a pulse's "on").
    for (int channel = 1; channel <= relo::ChannelCount; ++channel) {
        QString asked = QStringLiteral("0");
        for (qsizetype i = 0; i < commands.size(); ++i) {
            const relo::CommandResult c = relo::applyCommand(commands.at(i), 0);
            if (c.channel == channel && i != killed && asked.back() != QChar(u'0' + c.state))
                asked += QChar(u'0' + c.state);
        }
        qsizetype at = 1; // the channel starts off
        for (const auto &run : std::as_const(runs))
            at += at < asked.size() &&
                  asked.at(at) == (run.first & relo::channelBit(channel) ? u'1' : u'0');
        QVERIFY2(at == asked.size(), qPrintable(QStringLiteral("%1: %2").arg(channel).arg(asked)));
    }
    // A process that died left nothing behind in the queue.
    const QStringList left =
        QDir(relo::CommandQueue::queueFolder(m_dir->path())).entryList(QDir::Files);
    QVERIFY2(left == QStringList({"port", "sira"}), qPrintable(left.join(u' ')));
}

// Installed where the user may not write. With a configuration folder, ayar.ini
// lives there, starting from a copy of the one beside the program; without one
// (a service account with no home), the shipped ayar.ini is read, each save
// fails with the remedy, and the queue in a private runtime folder keeps what
// was sent.
void TestKomutProgram::readOnlyInstall_data()
{
    QTest::addColumn<bool>("configWritable");
    QTest::newRow("private copy") << true;
    QTest::newRow("nowhere to write") << false;
}

void TestKomutProgram::readOnlyInstall()
{
    QFETCH(bool, configWritable);
    if (::geteuid() == 0)
        QSKIP("root may write into any folder");
    // The program's folder (where ayar.ini is) closed until cleanup(), a configuration
    // folder that may or may not be written, and a runtime folder of their own.
    const QDir dir(m_dir->path());
    QVERIFY(dir.mkdir(QStringLiteral("config")) && dir.mkdir(QStringLiteral("run")));
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
    const auto closed = QFile::ReadOwner | QFile::ExeOwner;
    QFile::setPermissions(dir.filePath(QStringLiteral("run")), closed | QFile::WriteOwner);
    if (!configWritable)
        QFile::setPermissions(dir.filePath(QStringLiteral("config")), closed);
    QFile::setPermissions(dir.path(), closed);
    const QString copy = m_dir->filePath(QStringLiteral("config/RELO/ayar.ini"));
    const QString used = configWritable ? copy : iniPath();
    QVERIFY(run({QStringLiteral("--help")}).out.contains(QStringLiteral("Ayar dosyası: ") + used));
    const int status = configWritable ? 0 : 3;
    for (const char *args : {"03-1", "--set-port=1", "03-1", "05-1"}) {
        const Outcome outcome = run({QString::fromLatin1(args)});
        QCOMPARE(outcome.exitCode, status);
        QVERIFY2(configWritable || outcome.err.contains(QStringLiteral("XDG_CONFIG_HOME")),
                 qPrintable(outcome.err));
    }
    QCOMPARE(readFile(iniPath()), Saved);
    if (configWritable) {
        QCOMPARE(readFile(copy), savedSettings(1, 20));
        QCOMPARE(m_wire->readExactly(12 * relo::FrameSize, 5000),
                 frames(4, 5) + frames(4, 4) + frames(4, 20));
    } else {
        // Port 3 as shipped throughout; each command on top of the one before.
        QVERIFY(!QFile::exists(copy));
        QCOMPARE(m_wire->readExactly(12 * relo::FrameSize, 5000),
                 frames(4, 5) + frames(4, 5) + frames(4, 21));
    }
}

void TestKomutProgram::cleanup()
{
    const QDir dir(m_dir->path());
    for (const QString &path : {dir.path(), dir.filePath(QStringLiteral("config"))})
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Asked to stop, a program finishes the frame it is sending and lets go of the
// port and its lock file. A request made while it starts (held back until the
// program catches it) is not lost.
void TestKomutProgram::stopped_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("sending"); // sent once the first frame is out, else at once
    QTest::newRow("RELOKomut sending, SIGTERM") << "RELOKomut" << SIGTERM << true;
    QTest::newRow("RELOKomut sending, SIGHUP") << "RELOKomut" << SIGHUP << true;
    QTest::newRow("RELOKomut starting, SIGINT") << "RELOKomut" << SIGINT << false;
    QTest::newRow("RELO starting, SIGTERM") << "RELO" << SIGTERM << false;
}

void TestKomutProgram::stopped()
{
    QFETCH(QString, program);
    QFETCH(int, signal);
    QFETCH(bool, sending);
    QProcess process;
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(m_env);
    process.setChildProcessModifier([signal, sending] {
        sigset_t blocked;
        sigemptyset(&blocked);
        if (!sending)
            sigaddset(&blocked, signal);
        ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // as endWithTest()
    });
    process.start(QCoreApplication::applicationDirPath() + u'/' + program, {"03-1"});
    const QString lock = relo::lockFilePath(m_wire->slavePath());
    QByteArray wire = sending ? m_wire->readExactly(relo::FrameSize, 5000) : QByteArray();
    QVERIFY(process.waitForStarted() && (!sending || QFile::exists(lock)));
    ::kill(pid_t(process.processId()), signal);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 128 + signal); // ended by the signal itself: its number
    if (program == QLatin1String("RELOKomut"))
        QCOMPARE(process.readAllStandardError(),
                 "RELOKomut durduruldu (" + QByteArray(QTest::currentDataTag()).split(' ').last() +
                     "): komut tamamlanmadı\n");
    QVERIFY(!QFile::exists(lock));
    QCOMPARE((wire + m_wire->read(0)).size() % relo::FrameSize, 0); // the last frame whole
    QSerialPort released(m_wire->slavePath());
    QVERIFY(released.open(QIODevice::ReadWrite));
}

QTEST_GUILESS_MAIN(TestKomutProgram)
#include "tst_komutprogram.moc"
