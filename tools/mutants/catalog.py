"""Seeded faults for RELO, kept at the current code (ids kept from the first catalogue): each entry replaces one exact piece of the code with a plausible
mistake. `run` applies them one at a time to a scratch copy and reports which tests catch each.
An entry whose text no longer appears exactly once is reported as stale: update or drop it
when the code it names has changed on purpose.

id: (file, old text, new text, the fault in words)
"""
M = {
 "M01": ("link/frame.h", "1u << (channel - 1)", "1u << channel", "channelBit off by one (wrong mask bit)"),
 "M02": ("link/frame.cpp", 'frame.append("RF", 2);', 'frame.append("FR", 2);', "frame header bytes swapped ('FR')"),
 "M03": ("link/transmitter.cpp", "        m_port->drain();\n        m_port->setRts(false);", "        m_port->setRts(false);\n        m_port->drain();", "one-shot: RTS dropped before drain"),
 "M04": ("link/transmitter.cpp", "m_ticks >= OneShotFrames)", "m_ticks >= OneShotFrames - 1)", "one-shot: only 3 frames (last frame lost)"),
 "M05": ("link/realserialport.cpp", "    if (!m_broken)\n        drain();\n    m_broken = false;\n    m_serial->close();", "    m_broken = false;\n    m_serial->close();", "RealSerialPort::closePort drops unwritten bytes (no drain)"),
 "M06": ("core/settingsfile.cpp", "const bool lastLineOpen = bytes.size() > at.bodyStart && !bytes.endsWith('\\n');", "const bool lastLineOpen = false;", "ini: new section glued to unterminated last line"),
 "M07": ("core/settingsfile.cpp", "(at.insertNeedsLineEnd ? lineEnd : QByteArray())", "QByteArray()", "ini: new key glued to unterminated last key line"),
 "M08": ("core/commandgrammar.cpp", "return digitSeen && skipBlanks(text, i) == text.size();", "return (digitSeen || true) && skipBlanks(text, i) == text.size();", "grammar: channel field without digit accepted ('  -1', '+ -1')"),
 "M09": ("core/commandgrammar.cpp", "result.channel = qBound(1, channel, ChannelCount);", "result.channel = qMin(channel, ChannelCount);", "grammar: no lower clamp (00 -> channel 0)"),
 "M10": ("link/transmitter.cpp", "    m_timer->setTimerType(Qt::PreciseTimer);\n", "", "timer not precise (coarse)"),
 "M11": ("core/commandqueue.cpp", "if (error == SerialPort::OpenError::Busy && !m_openClock.hasExpired(BusyRetryMs)) {", "if (false) {", "busy port not retried"),
 "M12": ("link/transmitter.cpp", "        const bool high = !m_blink;", "        const bool high = m_blink;", "continuous: RTS phase inverted (first frame RTS high)"),
 "M13": ("link/transmitter.cpp", "        Q_EMIT indicatorChanged(high);", "        Q_EMIT indicatorChanged(!high);", "continuous: lamp blue while RTS low"),
 "M14": ("panel/panelwindow.cpp", "    if (!m_port->send(QByteArray(1, static_cast<char>(m_mask))))\n        onPortLost();", "", "panel: click does not write mask byte at once"),
 "M15": ("link/portscan.cpp", "    if (port.isOpen())\n        return;\n    for", "    for", "scan runs on an open port (cuts live connection)"),
 "M16": ("link/portmap.cpp", "return {family, path.left(digits), value, path};", "return {family, path.left(digits), value * 0, path};", "port order: numbers sorted as text (ttyUSB10 before ttyUSB2)"),
 "M17": ("link/portscan.cpp", "const QString rest = entry.mid(6);", "const QString rest = entry.mid(6, 1);", "portFromEntry reads one digit ('Com - 10' -> 1)"),
 "M18": ("core/settingsfile.cpp", "if (!number || *number < 0 || *number > 255)", "if (!number || *number < 0)", "PortData 256.. accepted as mask (wraps)"),
 "M19": ("core/settingsfile.cpp", "if (file.write(updated) != updated.size() || !file.flush()) {", "if (file.write(updated) != updated.size()) {", "ini write: disk-full flush not checked"),
 "M20": ("core/commandqueue.cpp", "    if (m_phase == Phase::Sending)\n        sendBatch();", "    if (m_phase == Phase::Sending) {\n        m_loadedMask = maskSetting(readSetting(m_settingsFolder, PortDataKey)).value_or(0);\n        sendBatch();\n    }", "re-activation re-reads the mask from ayar.ini (queue reapply)"),
 "M21": ("core/commandqueue.cpp", "        m_loadedMask = maskSetting(readSetting(m_settingsFolder, PortDataKey)).value_or(0);\n", "", "mask not re-read after port open: batch applied to 0 (saved and back-to-back updates lost)"),
 "M22": ("command/komutwindow.cpp", "        return m_saved ? Done : NotSaved;", "        return Done;", "ini write failure reported as success (exit 0)"),
 "M23": ("link/realserialport.cpp", "    if (openElsewhere(path))\n        return OpenError::Busy;", "    if (openElsewhere(path))\n        return OpenError::Other;", "held port reported as Other (not Busy)"),
 "M24": ("link/realserialport.cpp", "    case QSerialPort::ResourceError:\n", "", "pulled adapter (ResourceError) not treated as fatal"),
 "M25": ("panel/panelwindow.cpp", "    if (!m_connected || m_lossPending)\n        return;\n    m_lossPending = true;\n    m_transmitter->stop();\n    QMetaObject::invokeMethod(this, &PanelWindow::reportPortLost, Qt::QueuedConnection);\n}\n\nvoid PanelWindow::reportPortLost()\n{\n    if (!m_lossPending)\n        return;", "    if (!m_connected)\n        return;\n    m_lossPending = true;\n    m_transmitter->stop();\n    QMetaObject::invokeMethod(this, &PanelWindow::reportPortLost, Qt::QueuedConnection);\n}\n\nvoid PanelWindow::reportPortLost()\n{", "panel: port loss reported twice (both guards gone)"),
 "M26": ("link/framedecoder.cpp", "            pos += FrameSize;", "            pos += FrameSize - 1;", "decoder: mask byte re-scanned (0x55 mask starts frame)"),
 "M27": ("panel/prompt.cpp", 'QStringLiteral("\\n\\r|\\r\\n|\\r")', 'QStringLiteral("\\r\\n")', "message text keeps stray CR"),
 "M28": ("core/commandqueue.cpp", "    m_port->drain();\n    m_port->setRts(false);\n    m_port->closePort();", "    m_port->setRts(false);\n    m_port->closePort();", "queue releasePort: no drain before RTS low"),
 "M29": ("panel/panelwindow.cpp", "    m_port->setRts(false);\n    m_transmitter->stop();\n    m_shape2", "    m_transmitter->stop();\n    m_shape2", "panel disconnect: RTS not lowered (closed port anyway)"),
 "M30": ("command/komutwindow.cpp", "    m_command = applyCommand(m_commandText, 0);\n", "    m_port->openPort(1);\n    m_port->setRts(true);\n    m_command = applyCommand(m_commandText, 0);\n", "rejected command keys the port (open + RTS before the check)"),
}
M.update({
 "M31": ("link/realserialport.cpp", "setBaudRate(QSerialPort::Baud2400)", "setBaudRate(QSerialPort::Baud9600)", "line speed 9600 instead of 2400"),
 "M32": ("core/commandgrammar.cpp", "if (rest > 0.5 || (rest == 0.5 && std::fmod(below, 2.0) != 0.0))", "if (rest >= 0.5)", "rounding half-up instead of half-even"),
 "M33": ("core/settingsfile.cpp", "    QSaveFile file(path);\n    if (!file.open(QIODevice::WriteOnly))\n        return false;", "    QFile file(path);\n    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))\n        return false;", "ini written in place, not atomically (QFile)"),
 "M34": ("core/settingsfile.cpp", "    if (value.size() > MaxValueLength) {", "    if (false) {", "read value not cut to 254 chars"),
 "M35": ("link/portmap.cpp", "    if (env.contains(key))\n        return env.value(key).trimmed();", "    if (!env.value(key).isEmpty())\n        return env.value(key).trimmed();", "RELO_COM<n> set but empty falls back to system device"),
 "M36": ("core/settingsfile.cpp", "            at.lineEnd = end < newline ? QByteArray(\"\\r\\n\") : QByteArray(\"\\n\");", "            at.lineEnd = QByteArray(\"\\n\");", "ini: new lines in CRLF file get LF"),
 "M37": ("core/settingsfile.cpp", "    if (bytes.startsWith(ByteOrderMark))\n        at.bodyStart = ByteOrderMark.size();", "", "ini: byte-order mark not skipped"),
 "M38": ("link/framedecoder.cpp", "        } else if (matched == available) {\n            break;", "        } else if (false) {\n            break;", "decoder: partial frame at chunk end dropped as stray"),
 "M39": ("core/commandqueue.cpp", "    m_portNumber = saved && *saved > 0 ? *saved : 1;", "    m_portNumber = saved ? *saved : 1;", "PortNumber=0 used as is (no fallback to port 1)"),
 "M40": ("command/komutwindow.cpp", "    if (!m_shown) {\n        m_shown = true;\n        activate();\n    }", "    m_shown = true;", "command applied only on activation, not on first show"),
 "M41": ("ui/aboutwindow.cpp", "QUrl(QStringLiteral(\"http://\") + webHost())", "QUrl(QStringLiteral(\"http://\") + mailAddress())", "About: web link opens wrong URL"),
 "M42": ("ui/aboutwindow.cpp", "        label->setAttribute(Qt::WA_NoMousePropagation);", "        (void)label;", "About: move over any label resets links"),
 "M43": ("link/realserialport.cpp", "        if (!isOpen() || m_serial->bytesAvailable() >= before)\n            break;", "        break;", "receive: one notification per readyRead, later blocks left"),
 "M44": ("command/main.cpp", "        return {Action::SetPort, first.mid(11)};", "        return {Action::SetPort, first.mid(10)};", "--set-port=N parsed wrongly"),
 "M45": ("link/transmitter.cpp", "    m_mode = Mode::Continuous;\n    m_timer->start();", "    m_mode = Mode::Continuous;\n    m_blink = false;\n    m_timer->start();", "blink flag reset on restart"),
 "M46": ("panel/panelwindow.cpp", "    m_command1->setEnabled(false);\n    m_frame2->setEnabled(false);", "    m_command1->setEnabled(false);", "panel: switches stay enabled after disconnect"),
 "M47": ("sim/main.cpp", "                         [&] { printer.print(decoder.feed(pty.read(0))); });", "                         [&] { decoder.feed(pty.read(0)); });", "relo-sim pty mode prints nothing"),
 "M48": ("link/realserialport.cpp", "    m_serial->setRequestToSend(false);\n    m_serial->clearError();\n    return OpenError::None;", "    m_serial->clearError();\n    return OpenError::None;", "RTS left high (driver default) at open"),
})

M["M33"] = ("core/settingsfile.cpp", '    QSaveFile file(path);\n    if (!file.open(QIODevice::WriteOnly))\n        return false;\n    // Flush before commit and check it: a short final write (disk full) in the flush\n    // that commit() does by itself is not reported, and the truncated file would\n    // replace the good one.\n    if (file.write(updated) != updated.size() || !file.flush()) {\n        file.cancelWriting();\n        return false;\n    }\n    return file.commit();', '    QFile file(path);\n    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))\n        return false;\n    return file.write(updated) == updated.size() && file.flush();', "ini written in place, not atomically (QFile)")
M["M43"] = ("link/realserialport.cpp", "        if (!isOpen() || m_serial->bytesAvailable() >= before)\n            break;", "        if (!isOpen() || m_serial->bytesAvailable() >= before || true)\n            break;", "receive: one notification per readyRead, later blocks left")
M["M49"] = ("core/settingsfile.cpp", "value.at(MaxValueLength - 1).isHighSurrogate()", "false", "value cut at 254 splits a surrogate pair")
M["M50"] = ("link/realserialport.cpp", "if (isOpen() && m_serial->bytesAvailable() > InputBufferSize)", "if (false && isOpen() && m_serial->bytesAvailable() > InputBufferSize)", "incoming flood not capped at 1 KiB")

# Rewritten where the code they name has moved or changed since.
M["M13"] = ("link/transmitter.cpp", "        Q_EMIT rtsChanged(high);", "        Q_EMIT rtsChanged(!high);", "continuous: lamp blue while RTS low")
M["M15"] = ("link/portscan.cpp", "    if (port.isOpen())\n        return probes;\n", "", "scan runs on an open port (cuts live connection)")
M["M17"] = ("ui/portentry.cpp", "lenientNumber(QStringView(entry).mid(6))", "lenientNumber(QStringView(entry).mid(6, 1))", "portFromEntry reads one digit ('Com - 10' -> 1)")
M["M21"] = ("core/commandqueue.cpp", "        m_loadedMask = savedMask();\n", "", "mask not re-read after port open: batch applied to 0 (saved and back-to-back updates lost)")
M["M22"] = ("core/commandrun.cpp", "                    m_state = State::NotSaved;", "                    m_state = State::Sent;", "ini write failure reported as success (exit 0)")
M["M30"] = ("core/commandrun.cpp", '#include "core/commandqueue.h"\n\nnamespace relo {\n\nCommandRun::CommandRun(const QString &commandText, SerialPort *port, const QString &settingsFolder,\n                       QObject *parent)\n    : QObject(parent), m_command(applyCommand(commandText, 0)),\n      m_queue(new CommandQueue(port, settingsFolder, this))\n{\n    // The command is checked before the port is touched: a rejected command must\n    // not key the transmitter, not even for a moment.\n    if (!m_command.accepted) {\n        m_state = State::Rejected;', '#include "core/commandqueue.h"\n#include "link/serialport.h"\n\nnamespace relo {\n\nCommandRun::CommandRun(const QString &commandText, SerialPort *port, const QString &settingsFolder,\n                       QObject *parent)\n    : QObject(parent), m_command(applyCommand(commandText, 0)),\n      m_queue(new CommandQueue(port, settingsFolder, this))\n{\n    // The command is checked before the port is touched: a rejected command must\n    // not key the transmitter, not even for a moment.\n    (void)port->openPort(1);\n    port->setRts(true);\n    if (!m_command.accepted) {\n        m_state = State::Rejected;', "rejected command keys the port (open + RTS before the check)")
M["M39"] = ("core/settingsfolder.cpp", "return saved && *saved > 0 ? *saved : 1;", "return saved ? *saved : 1;", "PortNumber=0 used as is (no fallback to port 1)")
M["M40"] = ("command/komutwindow.cpp", "            m_rejectedClose->start();\n        activate();", "            m_rejectedClose->start();", "command applied only on activation, not on first show")

# Faults a review found slipping through, and the services' shared rules.
M.update({
 "M51": ("web/liveclients.cpp", "if (!m_access->sameOrigin(socket->origin().toUtf8(), host, {}))", "if (false)", "relo-web: WebSocket accepted from any origin"),
 "M52": ("core/servicecore.cpp", 'if (payload == "ON" || payload == "1")', 'if (payload == "ON")', "services: payload 1 refused (relo-web: body of PUT /api/channels/<n>)"),
 "M53": ("web/access.cpp", "std::min(RefusalDelayMs << std::min(tries - 1, 10), MaxRefusalDelayMs)", "MaxRefusalDelayMs >> std::min(tries - 1, 10)", "relo-web: delay after a wrong password shrinks"),
 "M54": ("web/webserver.cpp", "return reply(*held, Status::Ok, JsonType, stateJson(false));", "return reply(*held, Status::Ok, JsonType, stateJson());", "relo-web: change sent but not saved answered without saved: false"),
 "M55": ("web/httpconnection.cpp", "    m_timer->start(IdleMs);\n    QMetaObject::invokeMethod(this, &HttpConnection::process, Qt::QueuedConnection);\n}\n\nvoid HttpConnection::onTimeout()", "    m_timer->start(IdleMs);\n}\n\nvoid HttpConnection::onTimeout()", "relo-web: a request already received behind an answered one is never read (kept-alive pipelining stalls)"),
 "M56": ("web/access.cpp", "    if (!m_options.certFile.isEmpty())\n        cookie += \"; Secure\";", "    if (m_options.certFile.isEmpty())\n        cookie += \"; Secure\";", "relo-web: cookie Secure flag the wrong way round"),
 "M57": ("core/commandqueue.cpp", "    m_poll->stop();\n    report(ids, Outcome::PortFailed, error);", "    m_poll->stop();\n    report(ids, Outcome::NotSaved, error);", "queue: a stalled sender ahead ends the waiting changes as not saved"),
 "M58": ("core/commandqueue.cpp", "    return QByteArray::number(file.size()) + ':' +\n           QByteArray::number(file.lastModified().toMSecsSinceEpoch());", "    return QByteArray::number(file.size());", "queue: unsaved-mask stamp misses an edit of the same size"),
 "M59": ("platform/files_linux.cpp", "(info.st_mode & 077) == 0", "true", "private folder accepted when open to others"),
 "M60": ("platform/files_linux.cpp", "privateToUser ? ::lstat(name.constData(), &info) : ::stat(name.constData(), &info)", "::stat(name.constData(), &info)", "private folder accepted when it is a link"),
 "M61": ("platform/files_linux.cpp", "(info.st_uid == ::getuid() && ", "(", "private folder accepted when someone else's"),
 "M62": ("core/portregistry.cpp", "    return QDir(usable ? own : QCoreApplication::applicationDirPath()).filePath(name);", "    return QDir((usable || true) ? own : QCoreApplication::applicationDirPath()).filePath(name);", "registry: portlar.ini beside the program not used without a home (ordinary user only: --unprivileged)"),
 "M63": ("ui/sharedwidgets.cpp", "        if (!event->isAutoRepeat())\n            click();", "        click();", "a held Space or Enter toggles a switch on every auto-repeat"),
 "M64": ("panel/panelwidgets.cpp", "    QAccessibleStateChangeEvent event(this, changed);\n    QAccessible::updateAccessibility(&event);", "    QAccessibleStateChangeEvent event(this, changed);\n    if (on)\n        QAccessible::updateAccessibility(&event);", "a switch turned off: checked state not told to assistive technology"),
 "M65": ("mqtt/bridge.cpp", 'topic(QStringLiteral("%1/state").arg(channel))},\n            {QStringLiteral("availability_topic")', 'topic(QStringLiteral("%1/set").arg(channel))},\n            {QStringLiteral("availability_topic")', "relo-mqtt: discovery state_topic names the command topic"),
 "M66": ("man/RELOKomut.1.in", '.TH RELOKOMUT 1 2026-12-07 "relo @RELO_PACKAGE_VERSION@" "RELO"', '.TH RELOKOMUT 1 2026-12-07 "relo" "RELO"', "manual page header without the version"),
})

# The services' shared core and option reader.
M.update({
 "M67": ("core/commandqueue.cpp", "return m_folder.unsaved(settingsStamp()).value_or(relo::savedMask(m_settingsFolder));", "return relo::savedMask(m_settingsFolder);", "the mask a batch could not save forgotten: services show ayar.ini's after a port failure (stale state)"),
 "M68": ("core/servicecore.cpp", "adopt(m_queue->savedMask(), failed);", "adopt(m_queue->savedMask(), 0);", "services: a change that did not go out is not shown again (the switch does not flip back)"),
 "M69": ("core/serviceoptions.cpp", ".arg(shownText(name.toUtf8())));", ".arg(name));", "services: unknown option echoed unescaped"),
 "M70": ("core/serviceoptions.cpp", "    } else if (!fromEnvironment.isEmpty()) {\n        parsed.password = fromEnvironment;", "    } else if (false) {\n        parsed.password = fromEnvironment;", "services: password from the environment ignored"),
 "M71": ("core/serviceoptions.cpp", "if (known->kind != ServiceOption::List || !given[key])", "if (known->kind != ServiceOption::List)", "services: a list option adds to the file's values instead of replacing them"),
 "M72": ("core/servicecore.cpp", "text.at(0) > u'8'", "text.at(0) > u'9'", "services: channel 9 accepted"),
 "M73": ("core/servicecore.cpp", "    if (mask > 255)", "    if (mask > 256)", "services: mask 256 accepted (wraps to 0)"),
})

# Moved with the INI engine and the number reader into rooms of their own.
M["M06"] = ("core/inifile.cpp",) + M["M06"][1:]
M["M07"] = ("core/inifile.cpp",) + M["M07"][1:]
M["M08"] = ("core/numbertext.cpp",) + M["M08"][1:]
M["M19"] = ("core/inifile.cpp",) + M["M19"][1:]
M["M32"] = ("core/numbertext.cpp",) + M["M32"][1:]
M["M33"] = ("core/inifile.cpp",) + M["M33"][1:]
M["M34"] = ("core/inifile.cpp",) + M["M34"][1:]
M["M36"] = ("core/inifile.cpp",) + M["M36"][1:]
M["M37"] = ("core/inifile.cpp",) + M["M37"][1:]
M["M49"] = ("core/inifile.cpp",) + M["M49"][1:]

# The state every account of the serial devices' group shares.
M.update({
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
 "S26a": ("core/serviceoptions.cpp", "    if (!isSharedStateFolder(settingsFolder))\n        return file;", "    if (false)\n        return file;", "services read their section from the shared ayar.ini, which any account of the group may write"),
 "S26b": ("core/batch.h", '#include "link/frame.h"', '#include "link/frame.h"\n#include "dev/pseudoterminal.h"', "core includes from dev, which no shipped program may use"),
})

# Where the shared-folder work moved their code.
M["M19"] = ("core/inifile.cpp", "if (file.write(bytes) != bytes.size() || !file.flush()) {", "if (file.write(bytes) != bytes.size()) {", M["M19"][3])
M["M33"] = ("core/inifile.cpp", "    QSaveFile file(path);\n    if (!file.open(QIODevice::WriteOnly))\n        return false;\n    // Flush before commit and check it: a short final write (disk full) in the flush\n    // that commit() does by itself is not reported, and the truncated file would\n    // replace the good one.\n    if (file.write(bytes) != bytes.size() || !file.flush()) {\n        file.cancelWriting();\n        return false;\n    }\n    return file.commit();", "    QFile file(path);\n    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))\n        return false;\n    return file.write(bytes) == bytes.size() && file.flush();", M["M33"][3])
M["M60"] = ("platform/files_linux.cpp", "privateToUser || shared ? ::lstat(name.constData(), &info)", "shared ? ::lstat(name.constData(), &info)", M["M60"][3])

# Password guessing against relo-web, and its password file.
M["M53"] = ("web/guessguard.cpp", "std::min(FirstDelayMs << std::min(wrongTries - 1, 10), MaxDelayMs)", "MaxDelayMs >> std::min(wrongTries - 1, 10)", M["M53"][3])
M.update({
 "P27a": ("web/guessguard.cpp", "FirstDelayMs << std::min(wrongTries - 1, 10)", "FirstDelayMs >> std::min(wrongTries - 1, 10)", "relo-web: each wrong password makes the delay shorter instead of longer"),
 "P27b": ("web/guessguard.cpp", "    if (entry.busy) {\n        ticket.kind = Ticket::Busy;", "    if (false) {\n        ticket.kind = Ticket::Busy;", "relo-web: the one-check-at-a-time rule per client skipped (parallel guesses all checked)"),
 "P27c": ("web/guessguard.cpp", "std::fill(bytes.c + 8, bytes.c + 16, quint8(0));", "std::fill(bytes.c + 15, bytes.c + 16, quint8(0));", "relo-web: IPv6 clients grouped by /120 instead of /64"),
 "P27d": ("web/guessguard.cpp", "const bool stale = !c.busy && c.until <= now && now - c.lastWrong >= ForgetMs;", "const bool stale = !c.busy;", "relo-web: a full table evicts delayed clients to make room"),
 "P27e": ("web/guessguard.cpp", "    ticket.waitMs = std::max<qint64>(entry.until - now, 0);\n    return ticket;\n}", "    ticket.waitMs = 0;\n    return ticket;\n}", "relo-web: a delayed client's password checked at once (right one answered before the delay)"),
 "P27f": ("web/guessguard.cpp", "    if (next - now > qint64(BudgetBurst) * BudgetRefillMs) {", "    if (false) {", "relo-web: no budget of wrong passwords across clients"),
 "P27g": ("web/guessguard.cpp", "    if (now - entry.loggedAt < LogEveryMs)\n        return {};", "", "relo-web: a log line for every wrong password"),
 "P27h": ("web/guessguard.cpp", "        m_budgetAt -= BudgetRefillMs;\n", "", "relo-web: a right password does not give its share of the budget back"),
 "P27i": ("web/weboptions.cpp", "QFileInfo(read.passwordFile).permissions().testFlag(QFileDevice::ReadOther)", "false", "relo-web: a password file anyone may read is used"),
 "P27j": ("web/access.cpp", "    return sameSecret(given.trimmed(), password.trimmed());", "    return sameSecret(given, password);", "relo-web: a password ending in a blank works in the login but not as a Bearer header"),
 "P27k": ("web/liveclients.cpp", "else if (verdict == GuessGuard::Verdict::Right)", "else if (verdict != GuessGuard::Verdict::Refused)", "relo-web: a wrong password opens the WebSocket"),
 "P27m": ("web/guessguard.cpp", "if (entry.unlogged > 0 && now - entry.loggedAt >= LogEveryMs)", "if (false)", "relo-web: wrong passwords left out of the log are never written when no more come"),
 "P27l": ("web/guessguard.cpp", "    if (v4)\n        return QHostAddress(ipv4).toString();", "    if (v4 && client.protocol() == QAbstractSocket::IPv4Protocol)\n        return QHostAddress(ipv4).toString();", "relo-web: an IPv4-mapped IPv6 address counted apart from its IPv4 address"),
})
# relo-web's HTTP layer: its limits, deadlines, order and TLS (the WebSocket's
# origin check is M51).
M.update({
 "W27a": ("web/httpserver.cpp", "fromAddress >= MaxPerAddress)", "fromAddress > MaxPerAddress)", "relo-web: one connection more per address than the cap"),
 "W27b": ("web/httpconnection.cpp", "    if (!m_begun) {\n", "    if (true) {\n", "relo-web: the request deadline restarted by each byte (slow clients kept)"),
 "W27c": ("web/httpconnection.cpp", "        if (m_request.body.size() + size > MaxBody) {", "        if (false) {", "relo-web: chunked body not held to the body limit"),
 "W27d": ("web/httpconnection.cpp", "if (bad || lengths > 1 || encodings > 1", "if (bad || encodings > 1", "relo-web: two Content-Lengths accepted (the last one read)"),
 "W27e": ("web/httpconnection.cpp", "    if (length > MaxBody) {", "    if (false) {", "relo-web: a body over the limit read before it is refused"),
 "W27f": ("web/httpconnection.cpp", "    if (!m_head)\n        text += body;", "    text += body;", "relo-web: HEAD answered with the body"),
 "W27g": ("web/httpconnection.cpp", "? !hasToken(connection, \"close\")", "? true", "relo-web: Connection: close ignored"),
 "W27h": ("web/httpserver.cpp", "if (tls13 || (ephemeral && aead))", "if (tls13 || ephemeral || aead || !name.isEmpty())", "relo-web: TLS suites without forward secrecy offered"),
 "W27i": ("web/httpserver.cpp", "        if (!secure->isEncrypted())\n            secure->abort();", "", "relo-web: a TLS handshake that never finishes holds its slot"),
 "W27j": ("web/httpreply.cpp", "if (responder.isTls())", "if (false)", "relo-web: no Strict-Transport-Security over HTTPS"),
 "W27l": ("web/httpserver.cpp", "m_open >= MaxConnections || ", "", "relo-web: no cap on all connections together"),
 "W27k": ("web/access.cpp", "compare(\"Bearer \", Qt::CaseInsensitive)", "compare(\"Bearer \", Qt::CaseSensitive)", "relo-web: the Bearer scheme only in one case"),
})
