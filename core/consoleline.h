#pragma once

#include <QString>

#include <cstdio>

namespace relo {

// Writes `line` and a line end to `stream` in UTF-8, as every program here
// prints, and flushes it, so that each line reaches a pipe or a log at once.
void printLine(FILE *stream, const QString &line);

} // namespace relo
