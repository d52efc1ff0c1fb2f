#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

namespace relo {

// The whole state of the eight remote outputs: bit n-1 is channel n.
// A quint8 cannot hold anything outside 0..255, so a frame never carries a
// value the radio module could misread.
using Mask = quint8;

constexpr int ChannelCount = 8;
constexpr int FrameSize = 18;

// Channel states as the panel keeps them: element n-1 is channel n (1..8).
using ChannelStates = std::array<bool, ChannelCount>;

// The bit of channel 1..8 (1, 2, 4 ... 128).
constexpr Mask channelBit(int channel)
{
    return static_cast<Mask>(1u << (channel - 1));
}

// Recomputes the mask in full from all eight states.
Mask maskFromStates(const ChannelStates &states);

// The 18-byte control frame: 5 x 0x55 lead-in, 5 x 0x00, 5 x 0xFF, "RF", mask.
QByteArray buildFrame(Mask mask);

} // namespace relo
