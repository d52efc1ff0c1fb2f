#pragma once

#include <QString>

namespace relo {

// A main window's title: its design title, four blanks, "Ver." and the version
// ("RELO    Ver. 1.2.10"); `version` is the generated <ID>Version::Text.
inline QString versionTitle(const QString &designTitle, const char *version)
{
    return designTitle + QStringLiteral("    Ver. ") + QLatin1String(version);
}

} // namespace relo
