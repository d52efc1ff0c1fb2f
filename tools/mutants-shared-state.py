"""Seeded faults in the state that the accounts of a system-wide install share (same format as
the project's mutation catalogue: id: (file, old text, new text, the fault in words)). Run:
    ../shared/mutants/run --catalog tools/mutants-shared-state.py --unprivileged --only S25a,...
"""
M = {
 "S25a": ("platform/files_linux.cpp", "        openToGroup(fd, folder, SharedFileMode);", "        (void)0;", "shared folder: new files keep the umask (not group-writable)"),
 "S25b": ("platform/files_linux.cpp", "(shared ? O_NOFOLLOW : 0)", "0", "shared folder: a planted symbolic link is followed"),
 "S25c": ("platform/files_linux.cpp", "!accountInGroup(info.st_uid, folder.st_gid)", "false", "shared folder: a file of someone outside the group is taken"),
 "S25d": ("platform/files_linux.cpp", "errno == EACCES || errno == EPERM ? LockState::Unknown : LockState::Free", "LockState::Free", "queue: another account's owner file that cannot be opened means dead"),
 "S25e": ("core/settingsfolder.cpp", "facts.sharedFolderExists && facts.inItsGroup", "facts.sharedFolderExists", "an account outside the group uses the shared state"),
 "S25f": ("core/settingsfolder.cpp", "        seed(SettingsFileName, {ownFile(SettingsFileName), settingsPath(programFolder)});\n", "", "shared ayar.ini not seeded from the first account's copy"),
 "S25g": ("platform/files_linux.cpp", "        openToGroup(m_fd, folder, SharedFileMode);", "        (void)0;", "queue: lock files keep the umask (other accounts cannot join)"),
 "S25h": ("platform/files_linux.cpp", "(info.st_mode & S_IWOTH) != 0 || ", "", "shared folder: a file anyone may write is taken"),
 "S25i": ("core/commandqueue.cpp", "platform::processesNamed(StartedByProgram, shared)", "platform::processesNamed(StartedByProgram)", "start-up wait: other accounts' RELOKomut not waited for"),
 "S25j": ("core/settingsfolder.cpp", "    if (facts.programFolderWritable && !(facts.rootInRootsFolder && shared))", "    if (facts.programFolderWritable)", "root keeps ayar.ini beside a system-wide install"),
}
