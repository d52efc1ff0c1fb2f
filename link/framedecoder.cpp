#include "link/framedecoder.h"

namespace relo {

namespace {

// How many of the first `available` bytes at `data` agree with a frame header
// (lead-in, zero run, one run, "RF"). The mask byte agrees with anything, so a
// result of FrameSize means a whole frame starts at `data`.
int matchingPrefix(const char *data, int available)
{
    constexpr unsigned char header[FrameSize - 1] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x00,
                                                     0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF,
                                                     0xFF, 0xFF, 0xFF, 'R',  'F'};
    const int limit = qMin(available, FrameSize);
    int i = 0;
    while (i < limit && (i == FrameSize - 1 || static_cast<unsigned char>(data[i]) == header[i]))
        ++i;
    return i;
}

} // namespace

QList<FrameDecoder::Event> FrameDecoder::feed(const QByteArray &chunk)
{
    m_buffer += chunk;
    QList<Event> events;
    QByteArray stray;
    const auto flushStray = [&] {
        if (stray.isEmpty())
            return;
        events.append(Event{Event::Stray, 0, stray});
        stray.clear();
    };

    // Leftmost first: at each position either a whole frame starts (taken in full,
    // so a mask of 0x55 never starts a second frame), or the bytes seen so far
    // could still be a frame (kept for the next call), or the byte is stray.
    const char *const data = m_buffer.constData();
    const int size = int(m_buffer.size());
    int pos = 0;
    while (pos < size) {
        const int available = size - pos;
        const int matched = matchingPrefix(data + pos, available);
        if (matched == FrameSize) {
            flushStray();
            const QByteArray frame = m_buffer.mid(pos, FrameSize);
            events.append(Event{Event::Frame, Mask(frame.at(FrameSize - 1)), frame});
            pos += FrameSize;
        } else if (matched == available) {
            break;
        } else {
            stray.append(data[pos]);
            ++pos;
        }
    }
    flushStray();
    m_buffer.remove(0, pos);
    return events;
}

} // namespace relo
