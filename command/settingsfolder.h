#pragma once

#include <QString>

namespace relo {

// The folder that holds ayar.ini, for every program that reads or writes it
// (RELOKomut in each of its modes, and any other program that must share its
// port and channel mask). Call it once at start and use the folder it returns.
//
// - `programFolder`, the folder of the RELOKomut executable, when this user may
//   write ayar.ini there (the folder, and the file if it exists): ayar.ini
//   beside the program is the rule, and an existing writable install keeps its
//   file where it is.
// - Otherwise (a system-wide install, a distribution package) the user's own
//   configuration folder, $XDG_CONFIG_HOME/RELO, by default ~/.config/RELO.
//   The first time, that folder is created and, when `programFolder` holds an
//   ayar.ini, a copy of it goes there first: an administrator can ship a default
//   port, and each user keeps a private copy from then on.
//
// The folder is returned even when creating it or copying failed; a later write
// of ayar.ini there then fails and says so. Without a home folder to put it in,
// `programFolder` is returned.
QString settingsFolder(const QString &programFolder);

} // namespace relo
