#include "frame.h"

#include <QTest>

using namespace relo;

class TestFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void frameLayout_data();
    void frameLayout();
    void maskFromStates_data();
    void maskFromStates();
};

void TestFrame::frameLayout_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("all off") << 0;
    QTest::newRow("all on, same as the 0xFF run") << 255;
    QTest::newRow("channel 8") << 128;
    QTest::newRow("channels 1 and 8") << 129;
    QTest::newRow("mask equal to the lead-in") << 0x55;
}

void TestFrame::frameLayout()
{
    QFETCH(int, mask);
    const QByteArray frame = buildFrame(Mask(mask));
    const QByteArray expected = QByteArray(5, '\x55') + QByteArray(5, '\x00') +
                                QByteArray(5, '\xFF') + QByteArray("RF") + char(mask);
    QCOMPARE(frame.size(), FrameSize);
    QCOMPARE(frame, expected);
    QCOMPARE(buildFrame(Mask(mask)), frame); // no sequence number or time inside
}

void TestFrame::maskFromStates_data()
{
    QTest::addColumn<QList<int>>("onChannels");
    QTest::addColumn<int>("mask");
    QTest::newRow("none") << QList<int>{} << 0;
    QTest::newRow("channel 1") << QList<int>{1} << 1;
    QTest::newRow("channel 8") << QList<int>{8} << 128;
    QTest::newRow("1, 2 and 8") << QList<int>{1, 2, 8} << 131;
    QTest::newRow("all") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8} << 255;
}

void TestFrame::maskFromStates()
{
    QFETCH(QList<int>, onChannels);
    QFETCH(int, mask);
    ChannelStates states{};
    for (int channel : onChannels)
        states[size_t(channel - 1)] = true;
    QCOMPARE(int(relo::maskFromStates(states)), mask);
}

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
