#pragma once

#include "link/frame.h"

#include <QByteArray>
#include <QList>

namespace relo {

// Receiving side of the control frame. Bytes arrive in chunks of any size; the
// decoder reports every complete frame with its mask and every byte that cannot
// belong to a frame, in wire order. A partial frame at the end of a chunk is kept
// for the next call. A byte is reported as stray as soon as no frame can start at
// it, so the panel's lone mask byte shows up without waiting for more input.
class FrameDecoder
{
public:
    struct Event
    {
        enum Kind { Frame, Stray };
        Kind kind = Frame;
        Mask mask = 0;    // Frame: the mask at offset 17
        QByteArray bytes; // Frame: the 18 bytes; Stray: the bytes outside frames
    };

    QList<Event> feed(const QByteArray &chunk);

    // Bytes held back as the possible start of a frame.
    QByteArray pending() const { return m_buffer; }

private:
    QByteArray m_buffer;
};

} // namespace relo
