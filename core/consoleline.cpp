#include "core/consoleline.h"

#include <QByteArray>
#include <QStringList>

namespace relo {

void printLine(FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString shownText(const QByteArray &bytes, qsizetype limit)
{
    QByteArray out;
    for (const char c : bytes.left(limit)) {
        if (uchar(c) < 0x20 || c == 0x7F || c == '"' || c == '\\')
            out += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    if (bytes.size() > limit)
        out += "… (" + QByteArray::number(bytes.size()) + " bayt)";
    return QString::fromUtf8(out);
}

QString openChannelsText(Mask mask)
{
    QStringList open;
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        if (mask & channelBit(channel))
            open << QString::number(channel);
    }
    return QStringLiteral("maske %1, açık: %2")
        .arg(mask)
        .arg(open.isEmpty() ? QStringLiteral("yok") : open.join(u' '));
}

} // namespace relo
