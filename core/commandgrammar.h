#pragma once

#include "core/batch.h"
#include "link/frame.h"
#include "core/numbertext.h"

#include <QString>
#include <QStringView>

namespace relo {

// The outcome of applying one command (NN-S) to the mask loaded from ayar.ini.
struct CommandResult
{
    bool accepted = false;
    MaskChange change;    // the channel and its new state, accepted only
    Mask newMask = 0;     // change applied to the loaded mask, accepted only
    int channel = 0;      // 1..8, accepted only
    int state = 0;        // 0 or 1, accepted only
    QString channelLabel; // "Çıkış-3", accepted only
    QString statusText;   // "Çıkış-3 Açıldı" / "Çıkış-3 Kapandı" / "Hatalı komut"
};

// Checks the command text and returns the change it makes and the new mask: the
// loaded mask with the channel's bit set (state 1) or cleared (state 0). Channel
// fields above 8 mean 8, below 1 mean 1; state digits 2..9 mean on.
CommandResult applyCommand(const QString &text, Mask loadedMask);

} // namespace relo
