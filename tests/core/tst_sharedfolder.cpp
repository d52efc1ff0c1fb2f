// Where the state lives, and the care taken in a folder several accounts share:
// a folder of this user's own, writable by its group, stands for the shared one.
// Port numbers that stay with their adapter: adapters are pseudo-terminals behind
// by-id links in a folder of the test's own, numbered by a registry file of its own.

#include "core/portregistry.h"
#include "core/queuefolder.h"
#include "core/settingsfile.h"
#include "core/settingsfolder.h"
#include "dev/pseudoterminal.h"
#include "support/programs.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using relo::SettingsPlace;

class TestSharedFolder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void place_data();
    void place();
    void files_data();
    void files();
    void otherAccountAlive_data();
    void otherAccountAlive();
    void numbers_data();
    void numbers();
    void withoutHome();

private:
    QString link(QChar name) const { return m_dir.filePath(QStringLiteral("by-id/usb-")) + name; }
    QString registry() const { return m_dir.filePath(QStringLiteral("portlar.ini")); }

    QTemporaryDir m_dir;
    std::map<QChar, std::unique_ptr<relo::PseudoTerminal>> m_ptys;
};

void TestSharedFolder::place_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("rootInRootsFolder");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("member");
    QTest::addColumn<SettingsPlace>("place");
    QTest::newRow("own install") << true << false << true << true << SettingsPlace::ProgramFolder;
    QTest::newRow("member") << false << false << true << true << SettingsPlace::Shared;
    QTest::newRow("outsider") << false << false << true << false << SettingsPlace::Private;
    QTest::newRow("no shared folder") << false << false << false << true << SettingsPlace::Private;
    QTest::newRow("root, system install") << true << true << true << true << SettingsPlace::Shared;
    QTest::newRow("root, no shared folder")
        << true << true << false << true << SettingsPlace::ProgramFolder;
}

void TestSharedFolder::place()
{
    QFETCH(bool, writable);
    QFETCH(bool, rootInRootsFolder);
    QFETCH(bool, exists);
    QFETCH(bool, member);
    QFETCH(SettingsPlace, place);
    QCOMPARE(relo::choosePlace({writable, rootInRootsFolder, exists, member}), place);
}

// ayar.ini in a group-writable folder: what is read, what a save does.
void TestSharedFolder::files_data()
{
    QTest::addColumn<QString>("planted"); // "", "link", "open to all", "another group"
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QString>("problem"); // a part of the line that says why
    QTest::newRow("a file of the group's") << "" << true << "";
    QTest::newRow("a link") << "link" << false << "sembolik bağ";
    QTest::newRow("writable by anyone") << "open to all" << false << "herkese yazılabilir";
    // Without the setgid bit a new file takes this process's group, not the folder's.
    QTest::newRow("folder of another group, no setgid") << "another group" << true << "";
}

void TestSharedFolder::files()
{
    QFETCH(QString, planted);
    QFETCH(bool, saved);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString shared = dir.filePath(QStringLiteral("ortak"));
    const QString ini = relo::settingsPath(shared);
    const QString target = dir.filePath(QStringLiteral("elsewhere"));
    const QByteArray folder = QFile::encodeName(shared);
    QVERIFY(QDir().mkdir(shared) && ::chmod(folder.constData(), 02770) == 0);
    if (planted == u"another group") {
        gid_t groups[64];
        const int count = ::getgroups(64, groups);
        gid_t other = ::geteuid() == 0 ? 65534 : ::getegid(); // root may give any group
        for (int i = 0; i < count && other == ::getegid(); ++i)
            other = groups[i];
        if (other == ::getegid() || ::chown(folder.constData(), uid_t(-1), other) != 0)
            QSKIP("this user is in no second group to give the folder");
        QVERIFY(::chmod(folder.constData(), 0770) == 0);
    }
    QVERIFY(relo::writeIniValues(target, relo::SettingsSection, {{relo::PortDataKey, "7"}}));
    QVERIFY(planted == u"link" ? QFile::link(target, ini) : QFile::copy(target, ini));
    if (planted == u"open to all")
        QVERIFY(::chmod(QFile::encodeName(ini).constData(), 0666) == 0);

    // Whatever this process's umask, the group may write what it makes.
    const mode_t umask = ::umask(077);
    QCOMPARE(relo::writeSetting(shared, relo::PortDataKey, QStringLiteral("5")), saved);
    ::umask(umask);
    QCOMPARE(relo::savedMask(shared), relo::Mask(saved ? 5 : 0));
    QVERIFY(relo::settingsSaveError(shared).contains(problem));
    QCOMPARE(relo::settingsFileProblem(ini).isEmpty(), problem.isEmpty());
    QCOMPARE(relo::readIniValues(target, relo::SettingsSection, {relo::PortDataKey}),
             QStringList{"7"});
    struct stat info
    {};
    struct stat folderInfo
    {};
    QVERIFY(::lstat(QFile::encodeName(ini).constData(), &info) == 0 &&
            ::stat(folder.constData(), &folderInfo) == 0);
    QCOMPARE(info.st_mode & 0777, mode_t(saved ? 0664 : planted == u"link" ? 0777 : 0666));
    QCOMPARE(info.st_gid, folderInfo.st_gid); // the group's file
}

// Another account's owner file that this one may not open: its process is
// asked after by id, so a live one keeps its tickets and a dead one loses them.
void TestSharedFolder::otherAccountAlive_data()
{
    QTest::addColumn<qint64>("pid");
    QTest::addColumn<int>("kept");
    QTest::newRow("alive, not to be signalled") << qint64(1) << 1;
    QTest::newRow("ended") << qint64(0x3fffffff) << 0;
}

void TestSharedFolder::otherAccountAlive()
{
    if (::geteuid() == 0)
        QSKIP("root opens every file");
    QFETCH(qint64, pid);
    QFETCH(int, kept);
    QTemporaryDir dir;
    relo::QueueFolder queue;
    QVERIFY(queue.join(dir.filePath(QStringLiteral("kuyruk"))));
    const QString owner = QStringLiteral("%1-0badf00d").arg(pid);
    const QString alive = queue.path() + u'/' + owner + QStringLiteral(".canli");
    const QString ticket = queue.path() + u'/' + relo::TicketName{1, 1, owner}.toString();
    QFile file(ticket);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("1 1\n") > 0);
    file.close();
    QVERIFY(QFile(alive).open(QIODevice::WriteOnly));
    QVERIFY(QFile::setPermissions(alive, QFile::Permissions()));
    QCOMPARE(queue.waiting().size(), kept);
    QCOMPARE(QFile::exists(ticket), kept == 1);
}

// Steps, separated by blanks: +A plugs adapter A in, -A pulls it out; ?1A2B: the
// ports present are 1 for A and 2 for B; !1A: port 1 is not present and names A;
// # turns the registry into garbage; * fills it with ten adapters, not plugged in,
// port 4 seen longest ago. Each look is a program of its own: a new registry.
// An adapter named by a line break is kept under its device path.
void TestSharedFolder::numbers_data()
{
    QTest::addColumn<QString>("steps");
    QTest::newRow("numbers stay") << "+A ?1A +B ?1A2B -A ?2B !1A +C ?2B3C +A ?1A2B3C";
    QTest::newRow("garbage rebuilt") << "+A ?1A +B ?1A2B # -A ?1B";
    QTest::newRow("all ten held") << "* +A ?4A +B ?1B4A";
    QTest::newRow("line breaks in names") << "+\r +\n ?1\r2\n";
}

void TestSharedFolder::numbers()
{
    QFETCH(QString, steps);
    QDir(m_dir.path()).removeRecursively();
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("by-id"))));
    for (const QString &step : steps.split(u' ')) {
        const QChar op = step.at(0);
        const QChar name = step.size() > 1 ? step.at(1) : QChar();
        if (op == u'+') {
            auto &pty = m_ptys[name];
            if (!pty) {
                pty = std::make_unique<relo::PseudoTerminal>();
                QVERIFY(pty->open());
            }
            QVERIFY(QFile::link(pty->slavePath(), link(name)));
        } else if (op == u'-') {
            QVERIFY(QFile::remove(link(name)));
        } else if (op == u'?') {
            relo::PortRegistry ports(registry(), m_dir.path());
            QString present;
            QString expected;
            for (qsizetype i = 1; i + 1 < step.size(); i += 2) {
                const QChar adapter = step.at(i + 1);
                expected += QStringLiteral("%1 %2\n").arg(
                    step.at(i), adapter.isSpace() ? m_ptys[adapter]->slavePath() : link(adapter));
            }
            for (int n = 1; n <= relo::PortRegistry::Size; ++n) {
                const relo::PortDevice device = ports.device(n);
                if (!device.path.isEmpty())
                    present += QStringLiteral("%1 %2\n").arg(n).arg(device.adapter);
            }
            QCOMPARE(present, expected);
        } else if (op == u'!') {
            const relo::PortDevice device =
                relo::PortRegistry(registry(), m_dir.path()).device(name.digitValue());
            QCOMPARE(device.path, QString());
            QCOMPARE(device.adapter, link(step.at(2)));
        } else if (op == u'#') {
            QVERIFY(writeFile(registry(), QByteArray(500, '\0') + "\xff[=]\n1"));
        } else {
            QByteArray ten = "[Portlar]\n";
            for (int n = 1; n <= 10; ++n)
                ten += QStringLiteral("%1=2026-01-%2T00:00:00Z /gone/%1\n")
                           .arg(QString::number(n), QString::number(n == 4 ? 1 : 10 + n))
                           .toUtf8();
            QVERIFY(writeFile(registry(), ten));
        }
    }
    // Whatever it held before, the registry is one line an adapter: seen, adapter.
    static const QRegularExpression clean(QStringLiteral("^\\[Portlar\\]\n(\\d+=\\S+Z \\S+\n)+$"));
    QVERIFY2(clean.match(QString::fromUtf8(readFile(registry()))).hasMatch(),
             readFile(registry()).constData());
}

// A service account whose home does not exist uses the registry an
// administrator ships beside the program.
void TestSharedFolder::withoutHome()
{
    if (::geteuid() == 0)
        QSKIP("root may make any folder");
    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/nonexistent");
    qunsetenv("XDG_CONFIG_HOME");
    const QString file = relo::PortRegistry::defaultFile();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", config);
    QCOMPARE(file, QCoreApplication::applicationDirPath() + QStringLiteral("/portlar.ini"));
}

QTEST_GUILESS_MAIN(TestSharedFolder)
#include "tst_sharedfolder.moc"
