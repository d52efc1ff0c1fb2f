#pragma once

#include "link/framedecoder.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

// Reads the far end of a pseudo-terminal on its own thread and stamps every
// decoded frame and stray byte with the time it arrived.
class WireRecorder
{
public:
    struct Arrival
    {
        Clock::time_point time;
        bool frame = false;
        quint8 value = 0; // the mask of a frame, or the stray byte
    };

    explicit WireRecorder(int masterFd);
    ~WireRecorder();
    WireRecorder(const WireRecorder &) = delete;
    WireRecorder &operator=(const WireRecorder &) = delete;

    std::vector<Arrival> take();
    size_t frameCount() const { return m_frames.load(); }
    // CPU time the reading thread used so far, in seconds.
    double cpuSeconds() const { return m_cpu.load(); }

private:
    void run();

    const int m_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_frames{0};
    std::atomic<double> m_cpu{0};
    std::mutex m_mutex;
    std::vector<Arrival> m_arrivals;
    std::thread m_thread;
};

// |spacing - 250 ms| between consecutive frames, fed batch by batch.
class SpacingTracker
{
public:
    void add(const std::vector<WireRecorder::Arrival> &arrivals, std::vector<double> &deviations)
    {
        for (const WireRecorder::Arrival &a : arrivals) {
            if (!a.frame)
                continue;
            if (m_last) {
                const double ms =
                    std::chrono::duration<double, std::milli>(a.time - *m_last).count();
                deviations.push_back(std::abs(ms - 250.0));
            }
            m_last = a.time;
        }
    }

private:
    std::optional<Clock::time_point> m_last;
};
