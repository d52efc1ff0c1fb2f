#include "link/frame.h"

namespace relo {

Mask maskFromStates(const ChannelStates &states)
{
    Mask mask = 0;
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        if (states[static_cast<size_t>(channel - 1)])
            mask |= channelBit(channel);
    }
    return mask;
}

QByteArray buildFrame(Mask mask)
{
    QByteArray frame;
    frame.reserve(FrameSize);
    frame.append(5, '\x55');
    frame.append(5, '\x00');
    frame.append(5, '\xFF');
    frame.append("RF", 2);
    frame.append(static_cast<char>(mask));
    return frame;
}

} // namespace relo
