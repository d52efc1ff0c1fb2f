// What text becomes: ayar.ini read and written, the numbers in it and in a
// command, and the command grammar. The network services' shared rules: the
// option reader every service's command line goes through, and the payloads
// that switch outputs.

#include "core/commandgrammar.h"
#include "core/servicecore.h"
#include "core/serviceoptions.h"
#include "core/settingsfile.h"
#include "core/settingsfolder.h"
#include "core/statewatcher.h"
#include "support/programs.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <limits>
#include <sys/resource.h>

using namespace relo;

namespace {

QByteArray dataFile(const QString &name)
{
    return readFile(QStringLiteral(RELO_TEST_DATA "/") + name);
}

const ServiceCommandLine Line{
    QStringLiteral("relo-test"),
    QStringLiteral("TEST"),
    QStringLiteral("RELO_TEST_PASSWORD"),
    {{QStringLiteral("--name"), QStringLiteral("Name")},
     {QStringLiteral("--password-file"), QStringLiteral("PasswordFile"), ServiceOption::Path},
     {QStringLiteral("--list"), QStringLiteral("List"), ServiceOption::List}}};

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readThenWrite_data();
    void readThenWrite();
    void failedWrite_data();
    void failedWrite();
    void wholeNumber_data();
    void wholeNumber();
    void watchedMask();
    void applyCommand_data();
    void applyCommand();
    void roundHalfEven_data();
    void roundHalfEven();
    void arguments_data();
    void arguments();
    void payloads_data();
    void payloads();
    void sharedSettingsNotTrusted();
};

void TestSettingsFile::readThenWrite_data()
{
    QTest::addColumn<QString>("input"); // tests/data/ini-<input>.input; empty: no ayar.ini
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("read");     // before the write
    QTest::addColumn<QString>("written");  // ignored without a golden file
    QTest::addColumn<QString>("expected"); // tests/data/ini-<expected>.expected; empty: no write
    const auto row = [](const char *name, const QString &input, const QString &key,
                        const QString &read, const QString &written = {},
                        const QString &expected = {}) {
        QTest::newRow(name) << input << key << read << written << expected;
    };
    for (const QByteArray &line : dataFile("ini-cases").split('\n')) {
        const QStringList f = QString::fromUtf8(line).split(u'|');
        if (f.size() == 6 && !line.startsWith('#'))
            row(qPrintable(f[0]), f[1], f[2], f[3], f[4], f[5]);
    }
    // Read only: a value that is no text, and values cut at 254 characters.
    row("binary value", "binary", "Bozuk", QStringView(u"\uFFFD\0\uFFFD", 3).toString());
    row("300 two-byte letters", "long", "PortData", QString("ş").repeated(254));
    row("cut between a surrogate pair", "long", "Emoji", "a" + QString("😀").repeated(126));
}

void TestSettingsFile::readThenWrite()
{
    QFETCH(QString, input);
    QFETCH(QString, key);
    QFETCH(QString, read);
    QFETCH(QString, written);
    QFETCH(QString, expected);
    QTemporaryDir folder;
    const QString path = settingsPath(folder.path());
    if (!input.isEmpty())
        QVERIFY(writeFile(path, dataFile("ini-" + input + ".input")));
    QCOMPARE(readSetting(folder.path(), key), read);
    if (expected.isEmpty())
        return;
    QVERIFY(writeSetting(folder.path(), key, written));
    QCOMPARE(readFile(path), dataFile("ini-" + expected + ".expected"));
}

void TestSettingsFile::failedWrite_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    for (const char *situation : {"folder missing", "ayar.ini is a folder", "disk full", "too big"})
        QTest::newRow(situation) << PortDataKey << QStringLiteral("7");
    QTest::newRow("line break") << PortDataKey << QStringLiteral("7\r\n[Diger]\r\nPortData=1");
    QTest::newRow("key with =") << QStringLiteral("Port=Data") << QStringLiteral("7");
}

// Permission bits stop no write when tests run as root; these failures hold for
// root as well. writeSetting must report each one and leave every byte as it was.
void TestSettingsFile::failedWrite()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QByteArray situation = QTest::currentDataTag();
    QTemporaryDir temp;
    QString folder = temp.path();
    const QString path = settingsPath(folder);
    if (situation == "ayar.ini is a folder")
        QVERIFY(QDir(folder).mkdir("ayar.ini"));
    else
        QVERIFY(writeFile(path, dataFile("ini-crlf.input") +
                                    QByteArray(situation == "too big" ? 1024 * 1024 : 0, '.')));
    if (situation == "folder missing")
        folder = temp.filePath("absent/deeper");
    const QByteArray before = readFile(path);

    // A disk that fills up after 16 bytes: writes fail with EFBIG, for root too.
    rlimit noLimit = {};
    getrlimit(RLIMIT_FSIZE, &noLimit);
    const rlimit limit = {situation == "disk full" ? 16 : noLimit.rlim_cur, noLimit.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN); // EFBIG rather than SIGXFSZ
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = writeSetting(folder, key, value);
    setrlimit(RLIMIT_FSIZE, &noLimit);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!written);
    QCOMPARE(readFile(path), before);
    QCOMPARE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"ayar.ini"}); // nothing else created or left behind
}

void TestSettingsFile::wholeNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number"); // -99999: conversion fails
    QTest::addColumn<int>("mask");   // -1: not a mask
    const int fails = -99999;
    const QList<std::tuple<QString, int, int>> rows = {
        {"12", 12, 12},         {" 3.7 ", 3, 3},         {"\t-0.5", -1, -1},
        {"255", 255, 255},      {"256", 256, -1},        {"32767.9", 32767, -1},
        {"-32768", -32768, -1}, {"32768", fails, -1},    {"-32768.5", fails, -1},
        {"", fails, -1},        {"5 ; note", fails, -1}, {"- 3", fails, -1},
        {"1 2", fails, -1},     {"1.5.7", fails, -1},    {"3e2", fails, -1},
        {"3,5", fails, -1},     {"３", fails, -1},       {QString(400, u'9'), fails, -1}};
    for (const auto &[text, number, mask] : rows)
        QTest::addRow("'%s'", qPrintable(text.left(12))) << text << number << mask;
}

void TestSettingsFile::wholeNumber()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    QFETCH(int, mask);
    const std::optional<qint16> converted = wholeNumberSetting(text);
    QCOMPARE(converted ? int(*converted) : -99999, number);
    const std::optional<Mask> asMask = maskSetting(text);
    QCOMPARE(asMask ? int(*asMask) : -1, mask);
}

// The mask saved in ayar.ini, followed: only a new value counts.
void TestSettingsFile::watchedMask()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(settingsPath(dir.path()), "[RELO]\nPortData=5\n"));
    StateWatcher watcher(dir.path());
    QSignalSpy changed(&watcher, &StateWatcher::maskChanged);
    QCOMPARE(watcher.start(), Mask(5));
    const auto save = [&dir](const QString &key, const char *value) {
        return writeSetting(dir.path(), key, QString::fromLatin1(value));
    };
    QVERIFY(save(PortDataKey, "7")); // by another program: seen unasked
    QTRY_COMPARE(changed.size(), 1);
    QVERIFY(save(PortNumberKey, "4")); // touched, the mask the same
    watcher.check();
    QVERIFY(save(PortDataKey, "x")); // no mask: 0
    watcher.check();
    watcher.check();
    QVERIFY(save(PortDataKey, "9"));
    QTRY_COMPARE(changed.size(), 3);
    QCOMPARE(changed.at(1).at(0).value<Mask>(), Mask(0));
    QCOMPARE(watcher.mask(), Mask(9));
}

void TestSettingsFile::applyCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("loaded");
    QTest::addColumn<int>("mask"); // -1: rejected
    QTest::addColumn<QString>("status");
    // Above 8 means 8, below 1 means 1; state digits 2..9 mean on.
    QList<std::tuple<const char *, int, int, const char *>> rows = {
        {"03-1", 0, 4, "Çıkış-3 Açıldı"},      {"03-0", 5, 1, "Çıkış-3 Kapandı"},
        {"03-1", 4, 4, "Çıkış-3 Açıldı"},      {"01-0", 4, 4, "Çıkış-1 Kapandı"},
        {"08-0", 255, 127, "Çıkış-8 Kapandı"}, {"00-0", 3, 2, "Çıkış-1 Kapandı"},
        {"-3-1", 0, 1, "Çıkış-1 Açıldı"},      {"05-7", 0, 16, "Çıkış-5 Açıldı"},
        {" 9-1", 0, 128, "Çıkış-8 Açıldı"},    {"6 -1", 0, 32, "Çıkış-6 Açıldı"},
        {"+3-1", 0, 4, "Çıkış-3 Açıldı"},      {"3.-0", 255, 251, "Çıkış-3 Kapandı"},
        {".5-1", 0, 1, "Çıkış-1 Açıldı"}};
    // Not numeric, not NN-S, or digits from outside ASCII.
    for (const char *rejected : {"", "3-1", "03-10", "0301", "03 1", "ab-1", "3a-1", "  -1", "..-1",
                                 "+ -1", "03-x", "03- ", "3--1", " 03-1", "０３-1", "03-١"})
        rows << std::tuple(rejected, 0x55, -1, "Hatalı komut");
    for (const auto &[command, loaded, mask, status] : rows)
        QTest::addRow("'%s' on %d", command, loaded) << command << loaded << mask << status;
}

void TestSettingsFile::applyCommand()
{
    QFETCH(QString, command);
    QFETCH(int, loaded);
    QFETCH(int, mask);
    QFETCH(QString, status);
    const CommandResult result = relo::applyCommand(command, Mask(loaded));
    QCOMPARE(result.accepted, mask >= 0);
    QCOMPARE(result.statusText, status);
    if (result.accepted)
        QCOMPARE(int(result.newMask), mask);
}

void TestSettingsFile::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("rounded");
    const QList<std::pair<double, int>> cases = {
        {0.5, 0},    {1.5, 2},   {2.5, 2},
        {-0.5, 0},   {-1.5, -2}, {-2.5, -2},
        {2.5001, 3}, {-3.7, -4}, {1e300, std::numeric_limits<int>::max()}};
    for (const auto &[value, rounded] : cases)
        QTest::addRow("%g", value) << value << rounded;
}

void TestSettingsFile::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(int, rounded);
    QCOMPARE(relo::roundHalfEven(value), rounded);
}

void TestSettingsFile::arguments_data()
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

void TestSettingsFile::arguments()
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

void TestSettingsFile::payloads_data()
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

void TestSettingsFile::payloads()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, payload);
    QFETCH(int, channels);
    QFETCH(int, states);
    std::optional<MaskChange> change;
    if (target == QLatin1String("mask"))
        change = wholeMaskChange(payload);
    else if (const std::optional<int> channel = channelNumber(target))
        change = switchChange(*channel, payload);
    QCOMPARE(change ? int(change->channels) : -1, channels);
    QCOMPARE(change ? int(change->states) : 0, states);
}

// The section of the shared ayar.ini, which every account of its group may write,
// is not read: the account's own ayar.ini is, and the service says why.
void TestSettingsFile::sharedSettingsNotTrusted()
{
    QTemporaryDir shared;
    QTemporaryDir own;
    qputenv("RELO_SHARED_STATE_DIR", QFile::encodeName(shared.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(own.path()));
    QVERIFY(writeSetting(shared.path(), QStringLiteral("PortNumber"), QStringLiteral("2")));
    const QString ownFile = settingsPath(privateSettingsFolder());
    QString note;
    QCOMPARE(serviceSettingsFile(Line, shared.path(), &note), ownFile);
    QVERIFY(note.isEmpty()); // nothing of the service there: nothing to say
    QVERIFY(writeIniValues(settingsPath(shared.path()), QStringLiteral("TEST"),
                           {{QStringLiteral("PasswordFile"), QStringLiteral("/etc/x")}}));
    QCOMPARE(serviceSettingsFile(Line, shared.path(), &note), ownFile);
    QVERIFY(note.contains(QStringLiteral("[TEST] bölümü okunmadı")));
    // Any other folder's ayar.ini is the service's own.
    note.clear();
    QCOMPARE(serviceSettingsFile(Line, own.path(), &note), settingsPath(own.path()));
    QVERIFY(note.isEmpty());
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
