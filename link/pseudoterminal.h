#pragma once

#include <QByteArray>
#include <QString>

namespace relo {

// A pseudo-terminal pair in raw mode on both ends, standing in for a serial line:
// programs open slavePath() as their port, the owner reads and writes the master.
// Unix only.
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
    int m_master = -1;
    int m_slave = -1; // kept open so the line does not hang up between users
    QString m_slavePath;
    QString m_error;
};

} // namespace relo
