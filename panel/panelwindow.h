#pragma once

#include "link/frame.h"
#include "panel/prompt.h"

#include <QList>
#include <QWidget>

#include <memory>

class QGroupBox;
class QLabel;
class QPushButton;

namespace relo {

class ClickableLabel;
class FrameTransmitter;
class Lamp;
class PortList;
class SerialPort;
class SwitchCaption;

// The control panel's window ("main"): the port area "Seri Port Ayar" on the
// left, the eight channel switches of "Çıkışlar" on the right.
//
// Idle: port closed, port list enabled, "Bağlantıyı Kes" and the switches
// disabled, no frames. Connected: the chosen port open at 2400 8N1, the list
// disabled, button and switches enabled, the frame of the current mask sent every
// 250 ms. A click on a switch flips its channel and writes the new mask byte at
// once; the next frame carries it too.
//
// While idle the port list follows the devices: it is rebuilt each time the
// user opens it and, once watchDevices() was called, whenever serial devices
// come or go; never while connected, while the user is picking an entry or
// while the list is open.
//
// Keyboard: Tab goes through the port list, the switches in channel order,
// "Bağlantıyı Kes" and "Hakkında"; Space or Enter flips the focused switch and the
// digits 1 to 8 flip that channel while connected, each as a click does.
class PanelWindow : public QWidget
{
    Q_OBJECT
public:
    // Uses `port` (taken over as a child when it has no parent) and `prompt`;
    // without them the real serial port and real message boxes.
    explicit PanelWindow(SerialPort *port = nullptr, std::unique_ptr<Prompt> prompt = nullptr,
                         QWidget *parent = nullptr);
    ~PanelWindow() override;

    // The version (panel/CMakeLists.txt), and the title "RELO    Ver. " with it.
    static QString version();
    static QString versionTitle();

    Mask mask() const { return m_mask; }
    bool isConnected() const { return m_connected; }

    // Rebuilds the port list when serial devices come or go, as seen in /dev
    // and in the link folders of `serialFolder`.
    void watchDevices(const QString &serialFolder);
    // Ends the session for good, as a request to stop the program does: the
    // frame being sent finishes, RTS drops, the port closes, the window closes,
    // and nothing connects again, not even a "Port Aç" answered afterwards.
    void shutDown();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildPortArea();
    void buildOutputArea();

    void onChoice(int index);
    void connectPort();
    void disconnectPort();
    void scan();
    void rebuildPortList();
    void onReceived();
    void toggle(int index);
    void onRtsChanged(bool high);
    void onPortLost();
    void reportPortLost();
    void release();

    SerialPort *const m_port;
    const std::unique_ptr<Prompt> m_prompt;
    FrameTransmitter *const m_transmitter;

    QGroupBox *const m_frame1;
    Lamp *const m_shape1;
    PortList *const m_combo1;
    QPushButton *const m_command1;
    QGroupBox *const m_frame2;
    QList<QLabel *> m_tiles;           // Image1, index 0..7
    QList<SwitchCaption *> m_captions; // Label1, index 0..7
    ClickableLabel *const m_label2;
    Lamp *const m_shape2;
    QLabel *const m_image2; // the off picture
    QLabel *const m_image3; // the on picture

    ChannelStates m_states{};
    Mask m_mask = 0;
    bool m_connected = false;
    bool m_lossPending = false;
    bool m_choosing = false; // "Port Aç" is asking
    bool m_shutDown = false;
};

} // namespace relo
