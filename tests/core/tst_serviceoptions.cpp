// The network services' shared rules, in-process: the option reader every
// service's command line goes through, and the payloads that switch outputs.

#include "core/servicecore.h"
#include "core/serviceoptions.h"
#include "core/settingsfolder.h"
#include "support/programs.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

using relo::ServiceArguments;
using relo::ServiceOption;

const relo::ServiceCommandLine Line{
    QStringLiteral("relo-test"),
    QStringLiteral("TEST"),
    QStringLiteral("RELO_TEST_PASSWORD"),
    {{QStringLiteral("--name"), QStringLiteral("Name")},
     {QStringLiteral("--password-file"), QStringLiteral("PasswordFile"), ServiceOption::Path},
     {QStringLiteral("--list"), QStringLiteral("List"), ServiceOption::List}}};

} // namespace

class TestServiceOptions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void arguments_data();
    void arguments();
    void payloads_data();
    void payloads();
    void sharedSettingsNotTrusted();
};

void TestServiceOptions::arguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("ini");     // Name, PasswordFile, List
    QTest::addColumn<QString>("environment"); // RELO_TEST_PASSWORD
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("answer"); // the error; else Name|List|password ("-": none)

    using A = ServiceArguments;
    const auto row = [](const char *name, const QStringList &args, const QStringList &ini,
                        const char *environment, A::Action action, const QString &answer) {
        QTest::newRow(name) << args << ini << environment << int(action) << answer;
    };
    row("help wins", {"--help", "--bogus"}, {}, "", A::Help, "");
    row("version", {"--name=x", "--version"}, {}, "", A::Version, "");
    row("unknown option, escaped", {"--b\x1b[2J\"ad=x"}, {}, "", A::Misuse,
        "Bilinmeyen seçenek: --b\\x1b[2J\\x22ad");
    row("stray argument", {"name"}, {}, "", A::Misuse, "Beklenmeyen bağımsız değişken: name");
    row("password given", {"--password=gizli"}, {}, "", A::Misuse,
        "Parola komut satırında verilmez: --password-file veya RELO_TEST_PASSWORD kullanın");
    row("value missing", {"--name"}, {}, "", A::Misuse, "--name bir değer ister");
    row("the file's", {}, {" a ", "", "x, y z"}, "", A::Run, "a|x y z|-");
    row("options win", {"--name", "b", "--list=p", "--list", "q"}, {"a", "", "x"}, "", A::Run,
        "b|p q|-");
    // A relative path in the file is taken from its folder.
    row("password of the file", {}, {"", "pw", ""}, "", A::Run, "||söz");
    row("environment over the file", {}, {"", "pw", ""}, "env", A::Run, "||env");
    row("option over the environment", {"--password-file=DIR/pw"}, {}, "env", A::Run, "||söz");
    row("password file unreadable", {"--password-file", "/nonexistent"}, {}, "env", A::Failed,
        "Parola dosyası okunamadı: /nonexistent");
    row("password file too big", {"--password-file", "DIR/big"}, {}, "", A::Failed,
        "Parola dosyası okunamadı: DIR/big");
}

void TestServiceOptions::arguments()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, ini);
    QFETCH(QString, environment);
    QFETCH(int, action);
    QFETCH(QString, answer);
    const QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("pw")), "söz\r\nnext\n"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("big")), QByteArray(4097, 'x')));
    args.replaceInStrings(QStringLiteral("DIR"), dir.path());
    answer.replace(QStringLiteral("DIR"), dir.path());
    QProcessEnvironment env;
    env.insert(QStringLiteral("RELO_TEST_PASSWORD"), environment);

    const ServiceArguments parsed = relo::readServiceArguments(Line, args, ini, dir.path(), env);
    QCOMPARE(int(parsed.action), action);
    QCOMPARE(action != ServiceArguments::Run
                 ? parsed.error
                 : parsed.value(0) + u'|' + parsed.values.value(2).join(u' ') + u'|' +
                       parsed.password.value_or(QStringLiteral("-")),
             answer);
}

void TestServiceOptions::payloads_data()
{
    QTest::addColumn<QString>("target"); // a channel's name, or "mask"
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("channels"); // -1: refused
    QTest::addColumn<int>("states");

    const QList<std::tuple<const char *, QByteArray, int, int>> rows = {
        {"3", "ON", 4, 4},      {"3", "1", 4, 4},
        {"8", "OFF", 128, 0},   {"1", "0", 1, 0},
        {"3", "on", -1, 0},     {"9", "ON", -1, 0},
        {"03", "ON", -1, 0},    {"mask", "255", 255, 255},
        {"mask", "256", -1, 0}, {"mask", "0012", -1, 0},
        {"mask", " 12", -1, 0}, {"mask", QByteArray(100000, '1'), -1, 0}};
    for (const auto &[target, payload, channels, states] : rows)
        QTest::addRow("%s %s", target, payload.left(12).constData())
            << QString(target) << payload << channels << states;
}

void TestServiceOptions::payloads()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, payload);
    QFETCH(int, channels);
    QFETCH(int, states);
    std::optional<relo::MaskChange> change;
    if (target == QLatin1String("mask"))
        change = relo::wholeMaskChange(payload);
    else if (const std::optional<int> channel = relo::channelNumber(target))
        change = relo::switchChange(*channel, payload);
    QCOMPARE(change ? int(change->channels) : -1, channels);
    QCOMPARE(change ? int(change->states) : 0, states);
}

// The section of the shared ayar.ini, which every account of its group may write,
// is not read: the account's own ayar.ini is, and the service says why.
void TestServiceOptions::sharedSettingsNotTrusted()
{
    QTemporaryDir shared;
    QTemporaryDir own;
    qputenv("RELO_SHARED_STATE_DIR", QFile::encodeName(shared.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(own.path()));
    QVERIFY(relo::writeSetting(shared.path(), QStringLiteral("PortNumber"), QStringLiteral("2")));
    const QString ownFile = relo::settingsPath(relo::privateSettingsFolder());
    QString note;
    QCOMPARE(relo::serviceSettingsFile(Line, shared.path(), &note), ownFile);
    QVERIFY(note.isEmpty()); // nothing of the service there: nothing to say
    QVERIFY(relo::writeIniValues(relo::settingsPath(shared.path()), QStringLiteral("TEST"),
                                 {{QStringLiteral("PasswordFile"), QStringLiteral("/etc/x")}}));
    QCOMPARE(relo::serviceSettingsFile(Line, shared.path(), &note), ownFile);
    QVERIFY(note.contains(QStringLiteral("[TEST] bölümü okunmadı")));
    // Any other folder's ayar.ini is the service's own.
    note.clear();
    QCOMPARE(relo::serviceSettingsFile(Line, own.path(), &note), relo::settingsPath(own.path()));
    QVERIFY(note.isEmpty());
}

QTEST_GUILESS_MAIN(TestServiceOptions)
#include "tst_serviceoptions.moc"
