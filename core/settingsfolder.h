#pragma once

#include "frame.h"

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
// - Where that private copy can be neither found nor made (a service account
//   whose home does not exist, an unwritable XDG_CONFIG_HOME), `programFolder`
//   again: its ayar.ini is still read, so commands go to the shipped port with
//   the shipped mask, and a save there fails and says so (settingsSaveError()).
QString settingsFolder(const QString &programFolder);

// The port that commands use with ayar.ini in `folder`: its PortNumber, or port 1
// when it names none (missing, not a number, 0 or below).
int savedPort(const QString &folder);
// The channel mask saved in ayar.ini in `folder` (PortData), 0 when it holds none.
Mask savedMask(const QString &folder);
// Saves the choice of port `number`, as "Kaydet" and --set-port do: the port
// first, then the mask cleared, as a new port's receiver starts with every output
// off; the port in use keeps its mask. A failed port write stops there, so the
// mask of the old port stays as it was.
bool savePortChoice(const QString &folder, int number);

// The user's own configuration folder for RELO ($XDG_CONFIG_HOME/RELO); empty
// when there is no home to put it in.
QString privateSettingsFolder();

// One line for standard error when ayar.ini in `folder` could not be written:
// the path, and where the folder is closed to this user, what to do about it.
QString settingsSaveError(const QString &folder);

} // namespace relo
