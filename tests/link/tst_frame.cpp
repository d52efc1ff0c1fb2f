// The frame on the line: built, decoded from any cutting of the stream, and sent
// by the transmitter through the recording fake port.

#include "link/framedecoder.h"
#include "link/transmitter.h"
#include "support/fakeserialport.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace relo;

namespace {

QByteArray frame(int mask)
{
    return buildFrame(Mask(mask));
}

// What the decoder reports for `input` fed in pieces cut at `cuts`: each frame as
// "frame<mask>", each stray byte in hex (how the input is cut may split a run of
// stray bytes, never change which bytes are stray), then the bytes held back.
QString decode(const QByteArray &input, const QList<int> &cuts)
{
    FrameDecoder decoder;
    QString out;
    int from = 0;
    for (int cut : cuts + QList<int>{int(input.size())}) {
        for (const FrameDecoder::Event &e : decoder.feed(input.mid(from, cut - from))) {
            const bool isFrame =
                e.kind == FrameDecoder::Event::Frame && e.bytes == buildFrame(e.mask);
            out += QLatin1Char(' ') + (isFrame ? QStringLiteral("frame%1").arg(e.mask)
                                               : QString::fromLatin1(e.bytes.toHex(' ')));
        }
        from = cut;
    }
    if (!decoder.pending().isEmpty())
        out += QStringLiteral(" held ") + QString::fromLatin1(decoder.pending().toHex(' '));
    return out.mid(1);
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void build();
    void decode_data();
    void decode();
    void continuous();
};

// Channel n is bit n - 1 of the mask, which ends the frame.
void TestFrame::build()
{
    ChannelStates states{};
    states[0] = states[7] = true; // channels 1 and 8
    QCOMPARE(buildFrame(maskFromStates(states)),
             QByteArray::fromHex("55555555550000000000ffffffffff524681"));
}

void TestFrame::decode_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("decoded");
    const QByteArray header = frame(0).left(FrameSize - 1);

    QTest::newRow("back to back") << frame(1) + frame(0xFF) + frame(0) << "frame1 frame255 frame0";
    QTest::newRow("mask 0x55 starts no frame")
        << frame(0x55) + frame(0x55) + frame(7) << "frame85 frame85 frame7";
    QTest::newRow("stray bytes between frames")
        << frame(1) + "\x04" + frame(2) + "\x55" + frame(3) + "\xFF"
        << "frame1 04 frame2 55 frame3 ff";
    QTest::newRow("noise with 0x55 runs")
        << QByteArray::fromHex("555555005555555555550042") + frame(3)
        << "55 55 55 00 55 55 55 55 55 55 00 42 frame3";
    QTest::newRow("wrong header letter")
        << header.left(16) + "G\x05" + frame(6)
        << "55 55 55 55 55 00 00 00 00 00 ff ff ff ff ff 52 47 05 frame6";
    QTest::newRow("whole header waiting for its mask")
        << "\x04" + header << "04 held 55 55 55 55 55 00 00 00 00 00 ff ff ff ff ff 52 46";
    QTest::newRow("lone mask byte reported at once") << QByteArray("\x13") << "13";
}

// Fed whole, cut once anywhere, or byte by byte: the same result.
void TestFrame::decode()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, decoded);
    QList<int> everyByte;
    for (int cut = 0; cut <= input.size(); ++cut) {
        const QString got = ::decode(input, {cut});
        QVERIFY2(got == decoded, qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(got)));
        everyByte << cut;
    }
    QCOMPARE(::decode(input, everyByte), decoded);
}

// Panel mode: the blink flag starts cleared, so the first frame goes out with RTS
// low although connecting raised it; the flag survives a stop; every tick reads
// the mask anew.
void TestFrame::continuous()
{
    // Port 1 open with RTS raised, as the panel leaves it before starting the timer.
    FakeSerialPort port;
    port.setPresent({1});
    QCOMPARE(port.openPort(1), SerialPort::OpenError::None);
    port.setRts(true);
    port.clearLog();
    Mask mask = 0x04;
    FrameTransmitter tx(&port, [&] { return mask; });
    const auto *timer = tx.findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer && timer->interval() == 250 && timer->timerType() == Qt::PreciseTimer);
    QSignalSpy sent(&tx, &FrameTransmitter::frameSent);
    QList<bool> rts;
    connect(&tx, &FrameTransmitter::rtsChanged, this, [&](bool high) { rts << high; });
    connect(&tx, &FrameTransmitter::frameSent, this, [&] {
        if (sent.count() == 2)
            mask = 0x84; // a channel switched between two ticks
        else
            tx.stop();
    });

    tx.startContinuous();
    QVERIFY(sent.wait(5000));
    QVERIFY(!tx.isActive() && tx.blinkFlag());
    tx.startContinuous(); // a reconnect resumes the alternation where it stopped
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 3, 5000);

    QCOMPARE(port.calls(),
             (QStringList{"rts 0", "send 18", "rts 1", "send 18", "rts 0", "send 18"}));
    QCOMPARE(rts, (QList<bool>{false, true, false})); // told as RTS goes
    QCOMPARE(port.writes(), (QList<QByteArray>{buildFrame(4), buildFrame(4), buildFrame(0x84)}));
}

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
