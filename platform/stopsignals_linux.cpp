#include "platform/stopsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace relo::platform {

namespace {

constexpr int Caught[] = {SIGTERM, SIGINT, SIGHUP};

// Read end, write end; both non-blocking, so the handler never waits.
int stopPipe[2] = {-1, -1};

void onStopSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

bool StopSignals::install()
{
    if (stopPipe[0] >= 0)
        return true;
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t caught;
    sigemptyset(&caught);
    for (const int signalNumber : Caught) {
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            return false;
        sigaddset(&caught, signalNumber);
    }
    // A launcher may hand its blocked signals down to us; blocked, a request
    // would never arrive.
    return ::pthread_sigmask(SIG_UNBLOCK, &caught, nullptr) == 0;
}

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    if (stopPipe[0] < 0)
        return;
    m_notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::onReadable);
}

StopSignals::~StopSignals() = default;

QString StopSignals::name(int signalNumber)
{
    switch (signalNumber) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("sinyal %1").arg(signalNumber);
    }
}

void StopSignals::onReadable()
{
    char bytes[16];
    ssize_t count;
    while ((count = ::read(stopPipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            Q_EMIT stopRequested(bytes[i]);
    }
}

} // namespace relo::platform
