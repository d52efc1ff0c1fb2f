#include "bench/wirerecorder.h"

#include <ctime>
#include <poll.h>
#include <unistd.h>

WireRecorder::WireRecorder(int masterFd) : m_fd(masterFd), m_thread([this] { run(); }) {}

WireRecorder::~WireRecorder()
{
    m_stop = true;
    m_thread.join();
}

std::vector<WireRecorder::Arrival> WireRecorder::take()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Arrival> out;
    out.swap(m_arrivals);
    return out;
}

void WireRecorder::run()
{
    relo::FrameDecoder decoder;
    char buffer[256];
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        const Clock::time_point now = Clock::now();
        if (n <= 0)
            continue;
        const auto events = decoder.feed(QByteArray(buffer, int(n)));
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto &e : events) {
            if (e.kind == relo::FrameDecoder::Event::Frame) {
                m_arrivals.push_back({now, true, e.mask});
                ++m_frames;
            } else {
                for (char c : e.bytes)
                    m_arrivals.push_back({now, false, quint8(c)});
            }
        }
        timespec cpu{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        m_cpu = double(cpu.tv_sec) + double(cpu.tv_nsec) / 1e9;
    }
}
