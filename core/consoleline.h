#pragma once

#include "link/frame.h"

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace relo {

// Writes `line` and a line end to `stream` in UTF-8, as every program here
// prints, and flushes it, so that each line reaches a pipe or a log at once.
void printLine(FILE *stream, const QString &line);

// Text from the network, safe for one log line: control characters, quotes and
// backslashes escaped, anything longer than `limit` bytes cut short.
QString shownText(const QByteArray &bytes, qsizetype limit = 64);

// "maske 5, açık: 1 3" ("açık: yok" when all are off), for log lines.
QString openChannelsText(Mask mask);

} // namespace relo
