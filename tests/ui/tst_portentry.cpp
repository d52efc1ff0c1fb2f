// The windows' port list entries read back to port numbers.

#include "ui/portentry.h"

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
    QTest::newRow("port 1") << "Com - 1" << 1;
    QTest::newRow("port 10") << "Com - 10" << 10;
    QTest::newRow("not a number") << "Com - abc" << 0;
}

void TestPortEntry::portFromEntry()
{
    QFETCH(QString, entry);
    QFETCH(int, port);
    QCOMPARE(relo::portFromEntry(entry), port);
}

QTEST_GUILESS_MAIN(TestPortEntry)
#include "tst_portentry.moc"
