#include "commandgrammar.h"

#include <QTest>

using namespace relo;

class TestCommandGrammar : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void accepted_data();
    void accepted();
    void rejected_data();
    void rejected();
    void numbers_data();
    void numbers();
    void roundHalfEven_data();
    void roundHalfEven();
};

void TestCommandGrammar::accepted_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("loadedMask");
    QTest::addColumn<int>("newMask");
    QTest::addColumn<QString>("status");

    QTest::newRow("on") << "03-1" << 0 << 4 << "Çıkış-3 Açıldı";
    QTest::newRow("on beside another") << "01-1" << 4 << 5 << "Çıkış-1 Açıldı";
    QTest::newRow("off") << "03-0" << 5 << 1 << "Çıkış-3 Kapandı";
    QTest::newRow("channel 8 off") << "08-0" << 255 << 127 << "Çıkış-8 Kapandı";
    QTest::newRow("already on") << "03-1" << 4 << 4 << "Çıkış-3 Açıldı";
    QTest::newRow("already off") << "01-0" << 4 << 4 << "Çıkış-1 Kapandı";
    QTest::newRow("12 is 8") << "12-1" << 0 << 128 << "Çıkış-8 Açıldı";
    QTest::newRow("00 is 1") << "00-0" << 3 << 2 << "Çıkış-1 Kapandı";
    QTest::newRow("state 7 is on") << "05-7" << 0 << 16 << "Çıkış-5 Açıldı";
    QTest::newRow("leading blank") << " 9-1" << 0 << 128 << "Çıkış-8 Açıldı";
    QTest::newRow("trailing blank") << "6 -1" << 0 << 32 << "Çıkış-6 Açıldı";
    QTest::newRow("plus") << "+3-1" << 0 << 4 << "Çıkış-3 Açıldı";
    QTest::newRow("minus is below 1") << "-3-1" << 0 << 1 << "Çıkış-1 Açıldı";
    QTest::newRow("trailing point") << "3.-0" << 255 << 251 << "Çıkış-3 Kapandı";
    QTest::newRow(".5 rounds to 0, is 1") << ".5-1" << 0 << 1 << "Çıkış-1 Açıldı";
}

void TestCommandGrammar::accepted()
{
    QFETCH(QString, command);
    QFETCH(int, loadedMask);
    QFETCH(int, newMask);
    QFETCH(QString, status);

    const CommandResult result = applyCommand(command, Mask(loadedMask));
    QVERIFY(result.accepted);
    QCOMPARE(int(result.newMask), newMask);
    QCOMPARE(result.statusText, status);
    QCOMPARE(result.channelLabel, status.section(u' ', 0, 0));
}

void TestCommandGrammar::rejected_data()
{
    QTest::addColumn<QString>("command");
    const char *const commands[] = {"",     "3-1",   "03-10",  "0301", "03 1", "ab-1",
                                    "3a-1", "  -1",  "..-1",   "+ -1", "03-x", "03- ",
                                    "3--1", " 03-1", "０３-1", "03-١"};
    for (const char *command : commands)
        QTest::addRow("'%s'", command) << command;
}

void TestCommandGrammar::rejected()
{
    QFETCH(QString, command);
    const CommandResult result = applyCommand(command, Mask(0x55));
    QVERIFY(!result.accepted);
    QCOMPARE(result.statusText, QStringLiteral("Hatalı komut"));
}

void TestCommandGrammar::numbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("lenient");

    QTest::newRow("digits") << "03" << true << 3.0;
    QTest::newRow("blanks around") << "\t -12.50 " << true << -12.5;
    QTest::newRow("point first") << ".5" << true << 0.5;
    QTest::newRow("point last") << "3." << true << 3.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("point only") << "." << false << 0.0;
    QTest::newRow("sign only") << "-" << false << 0.0;
    QTest::newRow("blank after sign") << "- 3" << false << 0.0;
    QTest::newRow("trailing letter") << "3a" << false << 3.0;
    QTest::newRow("inner blank") << "1 2" << false << 1.0;
    QTest::newRow("second point") << "1.5.7" << false << 1.5;
    QTest::newRow("exponent") << "3e2" << false << 3.0;
    QTest::newRow("decimal comma") << "3,5" << false << 3.0;
    QTest::newRow("full-width digit") << "３" << false << 0.0;
}

void TestCommandGrammar::numbers()
{
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, lenient);
    QCOMPARE(isNumericText(text), numeric);
    QCOMPARE(lenientNumber(text), lenient);
}

void TestCommandGrammar::roundHalfEven_data()
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

void TestCommandGrammar::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(int, rounded);
    QCOMPARE(relo::roundHalfEven(value), rounded);
}

QTEST_GUILESS_MAIN(TestCommandGrammar)
#include "tst_commandgrammar.moc"
