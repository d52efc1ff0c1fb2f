#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace relo;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray dataFile(const QString &name)
{
    return fileBytes(QStringLiteral(RELO_TEST_DATA "/") + name);
}

void putFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void read_data();
    void read();
    void write_data();
    void write();
    void failedWrite_data();
    void failedWrite();
    void wholeNumber_data();
    void wholeNumber();
};

void TestSettingsFile::read_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("missing file") << ""
                                  << "PortNumber"
                                  << "";
    QTest::newRow("crlf") << "ini-crlf.input"
                          << "PortNumber"
                          << "3";
    QTest::newRow("key only in another section") << "ini-crlf.input"
                                                 << "PortData"
                                                 << "";
    QTest::newRow("lower-case names") << "ini-lowercase.input"
                                      << "PORTDATA"
                                      << "12";
    QTest::newRow("blanks and tabs around") << "ini-blanks.input"
                                            << "PortNumber"
                                            << "4";
    QTest::newRow("300 digits") << "ini-long.input"
                                << "PortNumber" << QString("0123456789").repeated(30).left(254);
    QTest::newRow("300 two-byte letters") << "ini-long.input"
                                          << "PortData" << QString("ş").repeated(254);
    QTest::newRow("binary around") << "ini-binary.input"
                                   << "PortData"
                                   << "12";
    QTest::newRow("binary value") << "ini-binary.input"
                                  << "Bozuk" << QStringView(u"\uFFFD\0\uFFFD", 3).toString();
    QTest::newRow("byte-order mark") << "ini-bom.input"
                                     << "PortData"
                                     << "3";
    QTest::newRow("comments, no =") << "ini-duplicates.input"
                                    << "PortData"
                                    << "2";
    QTest::newRow("second RELO section") << "ini-duplicates.input"
                                         << "Extra"
                                         << "1";
}

void TestSettingsFile::read()
{
    QFETCH(QString, input);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QTemporaryDir folder;
    if (!input.isEmpty())
        putFile(settingsPath(folder.path()), dataFile(input));
    QCOMPARE(readSetting(folder.path(), key), value);
}

void TestSettingsFile::write_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("writes"); // key=value, in order
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const char *input, const QStringList &writes,
                        const char *expected) {
        QTest::newRow(name) << input << writes << expected;
    };
    row("fresh folder", "", {"PortNumber=3", "PortData=0"}, "ini-fresh.expected");
    row("crlf, replace", "ini-crlf.input", {"PortNumber=12"}, "ini-crlf-replaced.expected");
    row("crlf, add key", "ini-crlf.input", {"PortData=7"}, "ini-crlf-added.expected");
    row("key's spelling", "ini-lowercase.input", {"PortData=13"}, "ini-lowercase.expected");
    row("blanks stay", "ini-blanks.input", {"PortData=5"}, "ini-blanks.expected");
    row("binary survives", "ini-binary.input", {"PortData=200"}, "ini-binary.expected");
    row("open end, add section", "ini-nofinal.input", {"PortData=5"}, "ini-nofinal.expected");
    row("open end, add key", "ini-nofinal-relo.input", {"PortData=0"},
        "ini-nofinal-relo-added.expected");
    row("open end, replace", "ini-nofinal-relo.input", {"PortNumber=4"},
        "ini-nofinal-relo-replaced.expected");
    row("byte-order mark", "ini-bom.input", {"PortData=4"}, "ini-bom.expected");
    row("byte-order mark only", "ini-bom-only.input", {"PortData=1"}, "ini-bom-only.expected");
    row("first duplicate", "ini-duplicates.input", {"PortData=6"}, "ini-duplicates-first.expected");
    row("second section", "ini-duplicates.input", {"Extra=2"}, "ini-duplicates-second.expected");
    row("new key", "ini-duplicates.input", {"Yeni=1"}, "ini-duplicates-new.expected");
}

void TestSettingsFile::write()
{
    QFETCH(QString, input);
    QFETCH(QStringList, writes);
    QFETCH(QString, expected);
    QTemporaryDir folder;
    const QString path = settingsPath(folder.path());
    if (!input.isEmpty())
        putFile(path, dataFile(input));

    for (const QString &entry : writes) {
        const QString key = entry.section(u'=', 0, 0);
        const QString value = entry.section(u'=', 1);
        QVERIFY(writeSetting(folder.path(), key, value));
        QCOMPARE(readSetting(folder.path(), key), value);
    }
    QCOMPARE(fileBytes(path), dataFile(expected));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"ayar.ini"});
}

void TestSettingsFile::failedWrite_data()
{
    QTest::addColumn<QString>("situation");
    for (const char *situation : {"folder missing", "folder is a file", "ayar.ini is a folder",
                                  "disk full", "file too big", "line break", "key with ="})
        QTest::newRow(situation) << situation;
}

// Permission bits stop no write when tests run as root; these failures hold for
// root as well. writeSetting must report each one and leave every byte as it was.
void TestSettingsFile::failedWrite()
{
    QFETCH(QString, situation);
    QTemporaryDir temp;
    QString folder = temp.path();
    QString key = PortDataKey;
    QString value = QStringLiteral("7");
    QString watched = settingsPath(folder); // must stay as it is
    putFile(watched, dataFile("ini-crlf.input"));

    rlimit noLimit = {};
    getrlimit(RLIMIT_FSIZE, &noLimit);
    rlimit limit = noLimit;
    if (situation == "folder missing") {
        folder = temp.filePath("absent/deeper");
    } else if (situation == "folder is a file") {
        folder = watched;
    } else if (situation == "ayar.ini is a folder") {
        QVERIFY(QFile::remove(watched) && QDir(folder).mkdir("ayar.ini"));
        watched.clear();
    } else if (situation == "disk full") {
        limit.rlim_cur = 16; // further writes fail with EFBIG, for root too
    } else if (situation == "file too big") {
        putFile(watched, dataFile("ini-crlf.input") + QByteArray(1024 * 1024, '.'));
    } else if (situation == "line break") {
        value = QStringLiteral("7\r\n[Diger]\r\nPortData=1");
    } else {
        key = QStringLiteral("Port=Data");
    }
    const QByteArray before = watched.isEmpty() ? QByteArray() : fileBytes(watched);

    struct sigaction quiet = {}, old = {};
    quiet.sa_handler = [](int) {}; // EFBIG rather than SIGXFSZ
    sigaction(SIGXFSZ, &quiet, &old);
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = writeSetting(folder, key, value);
    setrlimit(RLIMIT_FSIZE, &noLimit);
    sigaction(SIGXFSZ, &old, nullptr);

    QVERIFY(!written);
    if (!watched.isEmpty())
        QCOMPARE(fileBytes(watched), before);
    QCOMPARE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"ayar.ini"}); // nothing else created or left behind
}

void TestSettingsFile::wholeNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number"); // -99999: conversion fails
    QTest::addColumn<int>("mask");   // -1: not a mask
    const int fails = -99999;

    QTest::newRow("plain") << "12" << 12 << 12;
    QTest::newRow("blanks around, fraction down") << " 3.7 " << 3 << 3;
    QTest::newRow("negative rounds down") << "-0.5" << -1 << -1;
    QTest::newRow("highest mask") << "255" << 255 << 255;
    QTest::newRow("above a mask") << "256" << 256 << -1;
    QTest::newRow("highest 16-bit") << "32767.9" << 32767 << -1;
    QTest::newRow("lowest 16-bit") << "-32768" << -32768 << -1;
    QTest::newRow("above 16-bit") << "32768" << fails << -1;
    QTest::newRow("below 16-bit") << "-32768.5" << fails << -1;
    QTest::newRow("400 digits") << QString(400, u'9') << fails << -1;
    QTest::newRow("empty") << "" << fails << -1;
    QTest::newRow("comment after") << "5 ; note" << fails << -1;
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

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
