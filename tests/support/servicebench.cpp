#include "support/servicebench.h"

#include "support/programs.h"
#include "core/settingsfile.h"


QString ServiceProcess::readLog()
{
    log += QString::fromUtf8(process->readAllStandardError());
    return log;
}

bool ServiceProcess::stop(int waitMs)
{
    process->terminate();
    return process->waitForFinished(waitMs) && process->exitStatus() == QProcess::NormalExit;
}

bool ServiceBench::open(const QString &program)
{
    m_program = program;
    if (!m_dir.isValid() || !wire.open())
        return false;
    // Port 1 too: where ayar.ini names none (or cannot be read).
    env = portEnvironment({{1, wire.slavePath()}, {3, wire.slavePath()}});
    for (const QString &name : {program, QStringLiteral("RELOKomut")}) {
        if (copyProgram(name, m_dir.path()).isEmpty())
            return false;
    }
    return true;
}

bool ServiceBench::writeSettings(const QByteArray &ini)
{
    return writeFile(relo::settingsPath(m_dir.path()), ini);
}

std::unique_ptr<ServiceProcess> ServiceBench::start(const QStringList &args,
                                                    const QProcessEnvironment &environment)
{
    auto service = std::make_unique<ServiceProcess>();
    service->process = std::make_unique<QProcess>();
    service->process->setProcessEnvironment(environment);
    service->process->start(path(m_program), args);
    return service;
}

QList<int> ServiceBench::frames(int mask)
{
    return framesUntil(wire, m_decoder, mask);
}

void ServiceBench::clearWire()
{
    wire.read(0);
    m_decoder = {};
}
