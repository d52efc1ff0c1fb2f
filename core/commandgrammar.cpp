#include "core/commandgrammar.h"

namespace relo {

namespace {

const QString Rejected = QStringLiteral("Hatalı komut");
const QString LabelPrefix = QStringLiteral("Çıkış-");
const QString SwitchedOn = QStringLiteral(" Açıldı");
const QString SwitchedOff = QStringLiteral(" Kapandı");

} // namespace

CommandResult applyCommand(const QString &text, Mask loadedMask)
{
    CommandResult result;
    result.statusText = Rejected;
    // NN-S: a numeric two-character channel field, a dash, one ASCII state digit.
    if (text.size() != 4 || text[2] != u'-' || !isNumericText(QStringView(text).first(2)) ||
        text[3] < u'0' || text[3] > u'9')
        return result;

    const int channel = roundHalfEven(lenientNumber(QStringView(text).first(2)));
    result.channel = qBound(1, channel, ChannelCount);
    result.state = qMin(text[3].unicode() - u'0', 1);
    result.channelLabel = LabelPrefix + QString::number(result.channel);

    // The change sets the channel's state whatever it was, so repeating a command
    // gives the same mask.
    const Mask bit = channelBit(result.channel);
    result.change = {bit, result.state == 1 ? bit : Mask(0)};
    result.newMask = result.change.appliedTo(loadedMask);
    result.statusText = result.channelLabel + (result.state == 1 ? SwitchedOn : SwitchedOff);
    result.accepted = true;
    return result;
}

} // namespace relo
