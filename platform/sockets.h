#pragma once

#include <QtGlobal>

namespace relo::platform {

// Makes writing to a connection that the other end closed fail with an error,
// where the system would otherwise end the program. For the rest of the
// process's life.
void survivePeerClose();

// What waitForSocket() found.
struct SocketReadiness
{
    bool readable = false; // bytes to read, or the connection ended or failed
    bool writable = false; // room to write
    bool any() const { return readable || writable; }
};

enum class SocketWait { ToRead, ToWrite, ToReadOrWrite };

// Waits up to `timeoutMs` for the socket `fd` (one a library opened) to have
// bytes to read, room to write, or either, as `what` asks. The end or failure
// of the connection is found whatever was asked, and counts as readable: a read
// then tells which. Finds nothing when the time ran out or a signal was caught.
SocketReadiness waitForSocket(qintptr fd, SocketWait what, int timeoutMs);

} // namespace relo::platform
