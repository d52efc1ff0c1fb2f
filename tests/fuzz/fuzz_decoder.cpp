// libFuzzer target: the frame decoder fed in chunks of fuzzer-chosen sizes must
// report exactly what a straightforward reference split of the whole input finds:
// the same frames, the same stray bytes, and the same held-back tail.
#include "link/framedecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const QByteArray &header()
{
    static const QByteArray h = relo::buildFrame(0).left(relo::FrameSize - 1);
    return h;
}

struct Split
{
    QList<QByteArray> frames;
    QByteArray strays;
    QByteArray tail;
};

// Leftmost-first: a frame starts wherever the 17 header bytes stand; everything
// else is stray, except a final run that is still the beginning of a header.
Split referenceSplit(const QByteArray &in)
{
    Split out;
    qsizetype i = 0;
    while (i < in.size()) {
        const qsizetype left = in.size() - i;
        if (left >= relo::FrameSize && in.mid(i, relo::FrameSize - 1) == header()) {
            out.frames << in.mid(i, relo::FrameSize);
            i += relo::FrameSize;
        } else if (left < relo::FrameSize && header().startsWith(in.mid(i))) {
            out.tail = in.mid(i);
            break;
        } else {
            out.strays += in.at(i);
            ++i;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte seeds the chunk sizes; the rest is the byte stream.
    unsigned seed = data[0];
    const QByteArray in(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));

    relo::FrameDecoder decoder;
    Split got;
    for (qsizetype pos = 0; pos < in.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype chunk = qMin(in.size() - pos, qsizetype(1 + (seed >> 16) % 40));
        for (const relo::FrameDecoder::Event &e : decoder.feed(in.mid(pos, chunk))) {
            if (e.kind == relo::FrameDecoder::Event::Frame) {
                if (e.bytes.size() != relo::FrameSize || e.mask != quint8(e.bytes.back()))
                    std::abort();
                got.frames << e.bytes;
            } else {
                got.strays += e.bytes;
            }
        }
        pos += chunk;
    }
    got.tail = decoder.pending();

    const Split want = referenceSplit(in);
    if (got.frames != want.frames || got.strays != want.strays || got.tail != want.tail)
        std::abort();
    return 0;
}
