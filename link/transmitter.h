#pragma once

#include "link/frame.h"

#include <QObject>

#include <functional>

class QTimer;

namespace relo {

class SerialPort;

// Sends the control frame on a 250 ms timer (object name "Timer1").
//
// Continuous mode (panel): each tick flips the blink flag; when the flag was set
// it is cleared, the indicator turns blue and RTS goes high, otherwise the flag is
// set, the indicator takes the window colour and RTS goes low. Then the frame of
// the owner's current mask is sent. The flag starts cleared and survives stop().
//
// One-shot mode (command program): four identical frames, one per tick; after the
// fourth the bytes are drained, RTS goes low, the port closes and oneShotFinished()
// is emitted. startOneShot() again restarts the count.
//
// Each tick asks `mask` for the owner's mask at that moment.
class FrameTransmitter : public QObject
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 250;
    static constexpr int OneShotFrames = 4;

    FrameTransmitter(SerialPort *port, std::function<Mask()> mask, QObject *parent = nullptr);

    void startContinuous();
    // `firstFrameAtOnce`: the first frame leaves now, the other three on the timer.
    void startOneShot(bool firstFrameAtOnce = false);
    void stop();

    bool isActive() const;
    bool blinkFlag() const { return m_blink; }

Q_SIGNALS:
    // Continuous mode, every tick, before the frame goes out: the level RTS takes.
    void rtsChanged(bool high);
    void frameSent(const QByteArray &frame);
    // One-shot mode: the last frame has left the line, RTS is low, the port is closed.
    void oneShotFinished();
    // A frame could not be written (port closed or broken); the timer is stopped.
    void sendFailed();

private:
    void tick();

    enum class Mode { Continuous, OneShot };

    SerialPort *const m_port;
    const std::function<Mask()> m_mask;
    QTimer *const m_timer;
    Mode m_mode = Mode::Continuous;
    bool m_blink = false;
    int m_ticks = 0;
};

} // namespace relo
