#include "core/commandgrammar.h"

#include <QTest>

#include <limits>

using namespace relo;

class TestCommandGrammar : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void applyCommand_data();
    void applyCommand();
    void roundHalfEven_data();
    void roundHalfEven();
};

void TestCommandGrammar::applyCommand_data()
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

void TestCommandGrammar::applyCommand()
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
