#pragma once

#include "dev/pseudoterminal.h"
#include "link/framedecoder.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A built network service (relo-mqtt, relo-web) run from a folder of the test's
// own, with RELOKomut beside it and a pseudo-terminal as the radio module on
// ports 1 and 3: start, wait for its lines, read the frames it sends.
struct ServiceProcess
{
    std::unique_ptr<QProcess> process;
    QString log; // standard error so far

    QString readLog();
    // As systemctl stop does: SIGTERM, and the end within `waitMs`.
    bool stop(int waitMs = 20000);
};

class ServiceBench
{
public:
    bool open(const QString &program);
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path(); }
    bool writeSettings(const QByteArray &ini);

    std::unique_ptr<ServiceProcess> start(const QStringList &args) { return start(args, env); }
    std::unique_ptr<ServiceProcess> start(const QStringList &args, const QProcessEnvironment &env);
    // The masks of the frames on the wire (-1 for stray bytes) until the last four
    // carry `mask`, or 20 s have passed.
    QList<int> frames(int mask);
    // Forgets what the wire holds.
    void clearWire();

    relo::PseudoTerminal wire;
    QProcessEnvironment env; // ports 1 and 3 are the wire; no display

private:
    QTemporaryDir m_dir;
    QString m_program;
    relo::FrameDecoder m_decoder;
};
