#include "framedecoder.h"

#include <QRandomGenerator>
#include <QTest>

using namespace relo;

namespace {

QByteArray frame(int mask)
{
    return buildFrame(Mask(mask));
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Events as readable lines, neighbouring stray runs joined: how the input was cut
// into chunks may split a stray run, but never changes which bytes are stray.
struct Decoded
{
    QStringList events;
    QByteArray pending;
};

void append(Decoded &out, const QList<FrameDecoder::Event> &events)
{
    for (const FrameDecoder::Event &e : events) {
        if (e.kind == FrameDecoder::Event::Frame) {
            QVERIFY(e.bytes.size() == FrameSize);
            QCOMPARE(e.bytes, buildFrame(e.mask));
            out.events << QStringLiteral("frame %1").arg(e.mask);
        } else {
            QVERIFY(!e.bytes.isEmpty());
            const QString hex = QString::fromLatin1(e.bytes.toHex(' '));
            if (!out.events.isEmpty() && out.events.last().startsWith(QLatin1String("stray")))
                out.events.last() += QLatin1Char(' ') + hex;
            else
                out.events << QStringLiteral("stray ") + hex;
        }
    }
}

Decoded decodeInChunks(const QByteArray &input, const QList<int> &cuts)
{
    FrameDecoder decoder;
    Decoded out;
    int from = 0;
    for (int cut : cuts) {
        append(out, decoder.feed(input.mid(from, cut - from)));
        from = cut;
    }
    append(out, decoder.feed(input.mid(from)));
    out.pending = decoder.pending();
    return out;
}

} // namespace

class TestFrameDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decode_data();
    void decode();
    void chunkingNeverChangesTheResult();
};

void TestFrameDecoder::decode_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArray>("pending");

    const QByteArray header = frame(0).left(17);

    QTest::newRow("one frame") << frame(5) << QStringList{"frame 5"} << QByteArray();
    QTest::newRow("back to back") << frame(1) + frame(2) + frame(3)
                                  << QStringList{"frame 1", "frame 2", "frame 3"} << QByteArray();
    QTest::newRow("mask 0x55 does not start a frame")
        << frame(0x55) + frame(7) << QStringList{"frame 85", "frame 7"} << QByteArray();
    QTest::newRow("two frames with mask 0x55")
        << frame(0x55) + frame(0x55) << QStringList{"frame 85", "frame 85"} << QByteArray();
    QTest::newRow("mask 0xFF like the one run")
        << frame(0xFF) + frame(0) << QStringList{"frame 255", "frame 0"} << QByteArray();
    QTest::newRow("lone 0x55 before a frame")
        << QByteArray("\x55") + frame(9) << QStringList{"stray 55", "frame 9"} << QByteArray();
    QTest::newRow("stray bytes between frames")
        << frame(1) + bytes({0x04}) + frame(2) + bytes({0x55}) + frame(3) + bytes({0xFF})
        << QStringList{"frame 1", "stray 04", "frame 2", "stray 55", "frame 3", "stray ff"}
        << QByteArray();
    QTest::newRow("noise with 0x55 runs")
        << bytes({0x55, 0x55, 0x55, 0x00, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x00, 0x42}) +
               frame(3)
        << QStringList{"stray 55 55 55 00 55 55 55 55 55 55 00 42", "frame 3"} << QByteArray();
    QTest::newRow("short lead-in")
        << QByteArray(4, '\x55') + frame(0).mid(5) + frame(6)
        << QStringList{"stray 55 55 55 55 00 00 00 00 00 ff ff ff ff ff 52 46 00", "frame 6"}
        << QByteArray();
    QTest::newRow("wrong header letter")
        << header.left(16) + "G" + char(5) + frame(6)
        << QStringList{"stray 55 55 55 55 55 00 00 00 00 00 ff ff ff ff ff 52 47 05", "frame 6"}
        << QByteArray();
    QTest::newRow("frame cut off at the end")
        << frame(1) + frame(2).left(10) << QStringList{"frame 1"} << frame(2).left(10);
    QTest::newRow("whole header waiting for its mask")
        << bytes({0x04}) + header << QStringList{"stray 04"} << header;
    QTest::newRow("lone mask byte reported at once")
        << bytes({0x13}) << QStringList{"stray 13"} << QByteArray();
    QTest::newRow("lone 0x55 could still start a frame")
        << bytes({0x55}) << QStringList{} << bytes({0x55});
    QTest::newRow("sixth 0x55 shows the first was stray")
        << QByteArray(6, '\x55') << QStringList{"stray 55"} << QByteArray(5, '\x55');
    QTest::newRow("empty") << QByteArray() << QStringList{} << QByteArray();
}

void TestFrameDecoder::decode()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, events);
    QFETCH(QByteArray, pending);

    const Decoded whole = decodeInChunks(input, {});
    QCOMPARE(whole.events, events);
    QCOMPARE(whole.pending, pending);

    for (int cut = 1; cut < input.size(); ++cut) {
        const Decoded split = decodeInChunks(input, {cut});
        QVERIFY2(
            split.events == events && split.pending == pending,
            qPrintable(QStringLiteral("split at %1: %2").arg(cut).arg(split.events.join(", "))));
    }

    QList<int> everyByte;
    for (int cut = 1; cut < input.size(); ++cut)
        everyByte << cut;
    const Decoded bytewise = decodeInChunks(input, everyByte);
    QCOMPARE(bytewise.events, events);
    QCOMPARE(bytewise.pending, pending);
}

// Streams built mostly of frame pieces, fed in random chunks, decode exactly as
// when fed in one piece.
void TestFrameDecoder::chunkingNeverChangesTheResult()
{
    QRandomGenerator random(20240611);
    const QByteArray pieces[] = {frame(0x55),          frame(0),
                                 frame(0xFF),          frame(0).left(17),
                                 frame(0).left(7),     QByteArray(3, '\x55'),
                                 QByteArray("RF"),     QByteArray(1, '\x00'),
                                 QByteArray(1, '\x04')};
    for (int round = 0; round < 300; ++round) {
        QByteArray input;
        while (input.size() < 200)
            input += pieces[random.bounded(int(std::size(pieces)))];
        QList<int> cuts;
        for (int at = random.bounded(1, 40); at < input.size(); at += random.bounded(1, 40))
            cuts << at;
        const Decoded whole = decodeInChunks(input, {});
        const Decoded chunked = decodeInChunks(input, cuts);
        QCOMPARE(chunked.events, whole.events);
        QCOMPARE(chunked.pending, whole.pending);
    }
}

QTEST_GUILESS_MAIN(TestFrameDecoder)
#include "tst_framedecoder.moc"
