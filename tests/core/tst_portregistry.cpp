// Port numbers that stay with their adapter: adapters are pseudo-terminals behind
// by-id links in a folder of the test's own, numbered by a registry file of its own.

#include "link/frame.h"
#include "core/portregistry.h"
#include "support/programs.h"
#include "dev/pseudoterminal.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

#include <unistd.h>

class TestPortRegistry : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void numbers_data();
    void numbers();
    void withoutHome();

private:
    QString link(QChar name) const { return m_dir.filePath(QStringLiteral("by-id/usb-")) + name; }
    QString registry() const { return m_dir.filePath(QStringLiteral("portlar.ini")); }

    QTemporaryDir m_dir;
    std::map<QChar, std::unique_ptr<relo::PseudoTerminal>> m_ptys;
};

// Steps, separated by blanks: +A plugs adapter A in, -A pulls it out; ?1A2B: the
// ports present are 1 for A and 2 for B; !1A: port 1 is not present and names A;
// # turns the registry into garbage; * fills it with ten adapters, not plugged in,
// port 4 seen longest ago. Each look is a program of its own: a new registry.
// An adapter named by a line break is kept under its device path.
void TestPortRegistry::numbers_data()
{
    QTest::addColumn<QString>("steps");
    QTest::newRow("numbers stay") << "+A ?1A +B ?1A2B -A ?2B !1A +C ?2B3C +A ?1A2B3C";
    QTest::newRow("garbage rebuilt") << "+A ?1A +B ?1A2B # -A ?1B";
    QTest::newRow("all ten held") << "* +A ?4A +B ?1B4A";
    QTest::newRow("line breaks in names") << "+\r +\n ?1\r2\n";
}

void TestPortRegistry::numbers()
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
                expected += QStringLiteral("%1 %2\n").arg(step.at(i), adapter.isSpace()
                                                                          ? m_ptys[adapter]->slavePath()
                                                                          : link(adapter));
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
void TestPortRegistry::withoutHome()
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

QTEST_GUILESS_MAIN(TestPortRegistry)
#include "tst_portregistry.moc"
