// Port numbers that stay with their adapter: the built RELOKomut against adapters
// made of pseudo-terminals and /dev/serial/by-id links in a folder of the test's
// own, with a registry of its own.

#include "frame.h"
#include "programs.h"
#include "pseudoterminal.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <map>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestPortRegistry : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void numbers_data();
    void numbers();
    void unusableDevices();

private:
    Outcome run(const QString &arg, char portNumber = '1');
    relo::PseudoTerminal &pty(QChar name);
    QString link(QChar name) const { return m_dir->filePath(QStringLiteral("by-id/usb-")) + name; }
    void plug(QChar name) { QVERIFY(QFile::link(pty(name).slavePath(), link(name))); }
    QString registry() const { return m_dir->filePath(QStringLiteral("config/RELO/portlar.ini")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::map<QChar, std::unique_ptr<relo::PseudoTerminal>> m_ptys;
    QProcessEnvironment m_env;
};

void TestPortRegistry::init()
{
    m_ptys.clear();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("by-id")));
    QVERIFY(!copyProgram(QStringLiteral("RELOKomut"), m_dir->path()).isEmpty());
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("RELO_SERIAL_DIR"), m_dir->path());
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    for (int n = 1; n <= 10; ++n)
        m_env.remove(QStringLiteral("RELO_COM%1").arg(n));
}

relo::PseudoTerminal &TestPortRegistry::pty(QChar name)
{
    auto &line = m_ptys[name];
    if (!line) {
        line = std::make_unique<relo::PseudoTerminal>();
        line->open();
    }
    return *line;
}

// RELOKomut with one argument, port `portNumber` saved in its ayar.ini.
Outcome TestPortRegistry::run(const QString &arg, char portNumber)
{
    writeFile(m_dir->filePath(QStringLiteral("ayar.ini")),
              QByteArray("[RELO]\nPortNumber=") + portNumber + "\nPortData=0\n");
    return runProgram(m_dir->filePath(QStringLiteral("RELOKomut")), {arg}, m_env);
}

// Steps, separated by blanks: +A plugs adapter A in, -A pulls it out; ?1A2B: the
// port list is Com - 1 for A and Com - 2 for B; >2B: a command for port 2 reaches
// B; >1!A: a command for port 1 finds it missing and names A; # turns the registry
// into garbage; * fills it with ten adapters, not plugged in, Com - 4 seen longest ago.
void TestPortRegistry::numbers_data()
{
    QTest::addColumn<QString>("steps");
    QTest::newRow("numbers stay") << "+A ?1A +B ?1A2B -A ?2B >2B >1!A +C ?2B3C +A ?1A2B3C";
    QTest::newRow("garbage rebuilt") << "+A ?1A +B ?1A2B # -A ?1B";
    QTest::newRow("all ten held") << "* +A ?4A +B ?1B4A";
}

void TestPortRegistry::numbers()
{
    QFETCH(QString, steps);
    for (const QString &step : steps.split(u' ')) {
        const QChar op = step.at(0);
        if (op == u'+') {
            plug(step.at(1));
        } else if (op == u'-') {
            QVERIFY(QFile::remove(link(step.at(1))));
        } else if (op == u'?') {
            QString list;
            for (qsizetype i = 1; i + 1 < step.size(); i += 2)
                list += QStringLiteral("Com - %1\t%2\n").arg(step.at(i), link(step.at(i + 1)));
            const Outcome listed = run(QStringLiteral("--list-ports"));
            QCOMPARE(listed.out, list);
            QCOMPARE(listed.err, QString());
        } else if (op == u'>') {
            const Outcome sent = run(QStringLiteral("03-1"), step.at(1).toLatin1());
            const bool missing = step.at(2) == u'!';
            QCOMPARE(sent.exitCode, missing ? 1 : 0);
            if (missing)
                QCOMPARE(sent.err, QStringLiteral("Port Hatası: Com - %1 (%2) bulunamadı\n")
                                       .arg(step.at(1), link(step.at(3))));
            else
                QCOMPARE(pty(step.at(2)).readExactly(4 * 18, 5000),
                         relo::buildFrame(4).repeated(4));
        } else if (op == u'#') {
            QVERIFY(writeFile(registry(), QByteArray(500, '\0') + "\xff[=]\n1"));
        } else {
            QByteArray ten = "[Portlar]\n";
            for (int n = 1; n <= 10; ++n)
                ten += QStringLiteral("%1=2026-01-%2T00:00:00Z /gone/%1\n")
                           .arg(n)
                           .arg(n == 4 ? 1 : 10 + n)
                           .toUtf8();
            QVERIFY(QDir().mkpath(QFileInfo(registry()).path()) && writeFile(registry(), ten));
        }
    }
    // Whatever it held before, the registry is one line an adapter: seen, adapter.
    static const QRegularExpression clean(QStringLiteral("^\\[Portlar\\]\n(\\d+=\\S+Z \\S+\n)+$"));
    QVERIFY2(clean.match(QString::fromUtf8(readFile(registry()))).hasMatch(),
             readFile(registry()).constData());
}

// A device held open by another program (no lock, no exclusive use) is left out
// of the list and reported busy; one this user may not open gets the remedy.
void TestPortRegistry::unusableDevices()
{
    plug(u'A');
    plug(u'B');
    QProcess holder;
    holder.setStandardInputFile(pty(u'A').slavePath());
    holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(holder.waitForStarted());
    Outcome listed = run(QStringLiteral("--list-ports"));
    QCOMPARE(listed.out, QStringLiteral("Com - 2\t") + link(u'B') + u'\n');
    QCOMPARE(listed.err, QStringLiteral("Port Hatası: Com - 1 (%1) başka bir program tarafından "
                                        "kullanılıyor\n")
                             .arg(pty(u'A').slavePath()));
    holder.kill();
    QVERIFY(holder.waitForFinished());

    if (::geteuid() == 0)
        QSKIP("root may open any device: the permission case needs an ordinary user");
    // The group may open B, its owner (this user) may not.
    const QByteArray path = QFile::encodeName(pty(u'B').slavePath());
    struct stat st = {};
    QVERIFY(::chmod(path.constData(), 0060) == 0 && ::stat(path.constData(), &st) == 0);
    const QString line = QStringLiteral("Port Hatası: Com - 2 (%1) açma izni yok: %2 grubuna üye "
                                        "olun (sudo usermod -aG %2 %3), sonra oturumu kapatıp "
                                        "yeniden açın\n")
                             .arg(pty(u'B').slavePath(), ::getgrgid(st.st_gid)->gr_name,
                                  ::getpwuid(::geteuid())->pw_name);
    listed = run(QStringLiteral("--list-ports"));
    QCOMPARE(listed.out, QStringLiteral("Com - 1\t") + link(u'A') + u'\n');
    QCOMPARE(listed.err, line);
    const Outcome sent = run(QStringLiteral("03-1"), '2');
    QCOMPARE(sent.exitCode, 1);
    QCOMPARE(sent.err, line);
}

QTEST_GUILESS_MAIN(TestPortRegistry)
#include "tst_portregistry.moc"
