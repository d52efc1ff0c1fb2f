#include "support/servicebench.h"

#include "core/settingsfile.h"
#include "support/programs.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

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
    endWithTest(*service->process);
    service->process->start(path(m_program), args);
    return service;
}

QList<int> ServiceBench::frames(int mask)
{
    QList<int> masks;
    const QDeadlineTimer deadline(20000);
    while ((masks.size() < 4 || masks.mid(masks.size() - 4) != QList<int>(4, mask)) &&
           !deadline.hasExpired()) {
        for (const relo::FrameDecoder::Event &event : m_decoder.feed(wire.read(20)))
            masks << (event.kind == relo::FrameDecoder::Event::Frame ? event.mask : -1);
        QCoreApplication::processEvents();
    }
    return masks;
}

void ServiceBench::clearWire()
{
    wire.read(0);
    m_decoder = {};
}
