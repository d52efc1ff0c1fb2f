#pragma once

#include <QColor>
#include <QRect>

namespace relo {

// The windows' layouts are drawn in twips, 15 to a pixel at 96 dots per inch,
// rounded to the nearest pixel.
constexpr int px(int twips)
{
    return (twips * 2 + 15) / 30;
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

// The pale blue of both main windows (0xF7DFD6 in the blue-green-red order the
// layouts use).
inline const QColor PaleBlue{0xD6, 0xDF, 0xF7};

} // namespace relo
