#pragma once

#include <QStringView>

namespace relo {

// Numbers written as text, as ayar.ini stores them and a command's channel field
// and the windows' port entries carry them.

// The numeric-text test of a stored number, also of the two-character channel
// field of a command: blanks, an optional sign, ASCII digits with at most one
// decimal point, blanks. The exact rules sit beside the implementation.
bool isNumericText(QStringView text);

// The lenient reading: leading blanks skipped, an optional sign, digits with at
// most one decimal point; stops at the first character that cannot continue the
// number, 0 when nothing can be read.
double lenientNumber(QStringView text);

// Rounds to the nearest whole number, halves to the even neighbour (0.5 -> 0,
// 1.5 -> 2, -2.5 -> -2). Values beyond int's range give its nearest end, NaN 0.
int roundHalfEven(double value);

} // namespace relo
