#pragma once

#include <QString>

namespace relo {

// "1.0.14": major, minor and revision in decimal without leading blanks.
inline QString versionText(int major, int minor, int revision)
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

// A main window's title: its design title, four blanks, "Ver." and the version
// ("RELO    Ver. 1.0.2").
inline QString versionTitle(const QString &designTitle, int major, int minor, int revision)
{
    return designTitle + QStringLiteral("    Ver. ") + versionText(major, minor, revision);
}

} // namespace relo
