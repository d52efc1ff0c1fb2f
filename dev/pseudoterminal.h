#pragma once

#include <QByteArray>
#include <QString>

#include <thread>

namespace relo {

// A pseudo-terminal pair in raw mode on both ends, standing in for a serial line:
// programs open slavePath() as their port, the owner reads and writes the master.
//
// The line behaves like a real adapter towards the programs that open it:
// - No process appears to hold it. The owner's own reference to the slave side,
//   which keeps the line from hanging up between users, waits inside a socket
//   rather than in a file table, so a check for other holders does not see it.
// - Once the last program that opened it is gone (closed, crashed or killed),
//   the line is free again: the exclusive-use flag a holder set is cleared and
//   the line is made raw again. The kernel resets neither on a pseudo-terminal,
//   whose slave side lives as long as the master, and an ordinary user could not
//   reopen a line whose flag a killed program left set.
// Linux only.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Creates the pair; false (with errorString()) on failure.
    bool open();
    void close();
    bool isOpen() const { return m_master >= 0; }

    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }
    QString errorString() const { return m_error; }

    // Reads what is waiting on the master, waiting up to `timeoutMs` for the first
    // byte; returns an empty array on time-out.
    QByteArray read(int timeoutMs);
    // Reads until at least `count` bytes have arrived or `timeoutMs` has passed in
    // all (negative: no limit); returns everything read.
    QByteArray readExactly(int count, int timeoutMs);
    // Writes to the master (arrives as input on the slave side).
    bool write(const QByteArray &bytes);

private:
    void watchOpeners();
    void freeLine();

    int m_master = -1;
    // The slave side travels from [0] to [1] and stays queued there; a byte
    // written to [1] tells the watcher to stop.
    int m_keeper[2] = {-1, -1};
    int m_watch = -1; // inotify: every open and close of the slave side
    std::thread m_watcher;
    QString m_slavePath;
    QString m_error;
};

} // namespace relo
