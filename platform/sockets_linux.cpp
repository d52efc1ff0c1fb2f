#include "platform/sockets.h"

#include <csignal>

#include <poll.h>

namespace relo::platform {

void survivePeerClose()
{
    std::signal(SIGPIPE, SIG_IGN);
}

SocketReadiness waitForSocket(qintptr fd, SocketWait what, int timeoutMs)
{
    short events = 0;
    if (what != SocketWait::ToWrite)
        events |= POLLIN;
    if (what != SocketWait::ToRead)
        events |= POLLOUT;
    pollfd socket{int(fd), events, 0};
    SocketReadiness ready;
    if (::poll(&socket, 1, timeoutMs) <= 0)
        return ready;
    ready.readable = socket.revents & (POLLIN | POLLHUP | POLLERR);
    ready.writable = socket.revents & POLLOUT;
    return ready;
}

} // namespace relo::platform
