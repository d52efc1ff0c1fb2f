#pragma once

#include "frame.h"

#include <QString>
#include <QStringView>

namespace relo {

// The outcome of applying one command (NN-S) to the mask loaded from ayar.ini.
struct CommandResult
{
    bool accepted = false;
    Mask newMask = 0;     // accepted only
    int channel = 0;      // 1..8, accepted only
    int state = 0;        // 0 or 1, accepted only
    QString channelLabel; // "Çıkış-3", accepted only
    QString statusText;   // "Çıkış-3 Açıldı" / "Çıkış-3 Kapandı" / "Hatalı komut"
};

// Checks the command text and returns the new mask: the loaded mask with the
// channel's bit set (state 1) or cleared (state 0). Channel fields above 8 mean 8,
// below 1 mean 1; state digits 2..9 mean on.
CommandResult applyCommand(const QString &text, Mask loadedMask);

// The numeric-text test of the two-character channel field, also the syntax of a
// stored number: blanks, an optional sign, ASCII digits with at most one decimal
// point, blanks. The exact rules sit beside the implementation.
bool isNumericText(QStringView text);

// The lenient reading: leading blanks skipped, an optional sign, digits with at
// most one decimal point; stops at the first character that cannot continue the
// number, 0 when nothing can be read.
double lenientNumber(QStringView text);

// Rounds to the nearest whole number, halves to the even neighbour (0.5 -> 0,
// 1.5 -> 2, -2.5 -> -2). Values beyond int's range give its nearest end, NaN 0.
int roundHalfEven(double value);

} // namespace relo
