#pragma once

#include "link/frame.h"

#include <QString>

namespace relo {

// Where the programs keep what they share: ayar.ini (port and channel mask),
// portlar.ini (the port registry) and the command queue.
enum class SettingsPlace {
    // The folder of the RELOKomut executable, when this user may write ayar.ini
    // there (the folder, and the file if it exists): ayar.ini beside the program
    // is the rule, and an existing writable install keeps its file where it is.
    // Not for root in a folder of root's where the shared folder exists (a
    // system-wide install): root shares the state like the group.
    ProgramFolder,
    // A system-wide install the user cannot write, on a machine that has the
    // shared folders (sharedStateFolder(), sharedRunFolder()) and an account in
    // their group, or root: one ayar.ini, one portlar.ini and one queue for
    // every such account, since the outputs belong to the board, not to a user.
    Shared,
    // Otherwise the user's own configuration folder, $XDG_CONFIG_HOME/RELO (by
    // default ~/.config/RELO).
    Private,
};

// The rule above, on what was found.
struct PlaceFacts
{
    bool programFolderWritable = false;
    bool rootInRootsFolder = false; // root, running from a folder root owns
    bool sharedFolderExists = false;
    bool inItsGroup = false; // root, or a member of the shared folder's group
};
SettingsPlace choosePlace(const PlaceFacts &facts);
// The place for an install in `programFolder`, as this account finds it now.
SettingsPlace settingsPlace(const QString &programFolder);

// The folders of the shared state: RELO_SHARED_STATE_DIR (ayar.ini, portlar.ini)
// and RELO_SHARED_RUN_DIR (the queue), from the environment when set there, else
// as built (/var/lib/relo, /run/relo).
QString sharedStateFolder();
QString sharedRunFolder();
bool isSharedStateFolder(const QString &folder);

struct SettingsChoice
{
    QString folder;
    // One line for standard error, empty when all is as it should be: why this
    // account does not share the state of the others and how it joins them, or
    // why the shared ayar.ini was not used.
    QString note;
};

// The folder that holds ayar.ini, for every program that reads or writes it
// (RELOKomut in each of its modes, and any other program that must share its
// port and channel mask). Call it once at start and use the folder it returns.
//
// - ProgramFolder and Shared: that folder. The first time, a shared ayar.ini
//   (and portlar.ini) is seeded from this account's private copy if it has one
//   (the port someone chose before the shared folder existed is not lost), else
//   from the file shipped beside the program.
// - Private: the first time, that folder is created and, when `programFolder`
//   holds an ayar.ini, a copy of it goes there first: an administrator can ship
//   a default port, and the user keeps a private copy from then on.
// - Where that private copy can be neither found nor made (a service account
//   whose home does not exist, an unwritable XDG_CONFIG_HOME), `programFolder`
//   again: its ayar.ini is still read, so commands go to the shipped port with
//   the shipped mask, and a save there fails and says so (settingsSaveError()).
SettingsChoice chooseSettingsFolder(const QString &programFolder);
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
