// The windows' port list entries read back to port numbers.

#include "portentry.h"

#include <QTest>

class TestPortEntry : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void portFromEntry_data();
    void portFromEntry();
};

void TestPortEntry::portFromEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("port");
    QTest::newRow("port 10") << "Com - 10" << 10;
    QTest::newRow("rounded down") << "Com - 3.7" << 3;
    QTest::newRow("blanks before, letters after") << "Com -  12abc" << 12;
    QTest::newRow("not a number") << "Com - abc" << 0;
    QTest::newRow("too large for an int") << "Com - 99999999999" << 0;
    QTest::newRow("only the seventh character on counts") << "Com 12 5" << 5;
}

void TestPortEntry::portFromEntry()
{
    QFETCH(QString, entry);
    QFETCH(int, port);
    QCOMPARE(relo::portFromEntry(entry), port);
}

QTEST_GUILESS_MAIN(TestPortEntry)
#include "tst_portentry.moc"
