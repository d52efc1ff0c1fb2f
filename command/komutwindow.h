#pragma once

#include "frame.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace relo {

class FrameTransmitter;
class SerialPort;

// The RELOKomut window ("main"). Two faces, chosen by the command text:
//
// Run mode (a command): a small borderless status window above all others. It
// opens the saved port (a busy port is retried for a few seconds), raises RTS,
// loads the saved mask, applies the command when first shown and again on every
// activation, saves the new mask, sends four frames and closes itself. A rejected
// command never takes the port; a port that cannot be opened shows "Port Hatası",
// sends nothing, saves nothing and closes after about a second.
//
// Setup mode (no command): the list of usable ports with the saved one selected;
// choosing an entry enables "Kaydet", which saves the port and clears the mask.
class KomutWindow : public QWidget
{
    Q_OBJECT
public:
    // The command program's exit status.
    enum Status {
        Done = 0,       // four frames sent and the mask saved; setup mode: nothing failed
        PortFailed = 1, // the port could not be opened, or the frames did not all go out
        Rejected = 2,   // the command was rejected
        NotSaved = 3,   // ayar.ini could not be written (run mode: the frames did go out)
    };
    Q_ENUM(Status)

    static constexpr int VersionMajor = 1;
    static constexpr int VersionMinor = 0;
    static constexpr int VersionRevision = 14;
    // How long a port held by another program is tried again before giving up.
    static constexpr int BusyRetryMs = 5000;
    static constexpr int BusyRetryIntervalMs = 100;
    // How long "Port Hatası" stays on screen before the window closes.
    static constexpr int PortErrorDisplayMs = 1000;

    // "1.0.14" and "RELOKomut    Ver. 1.0.14".
    static QString version();
    static QString versionTitle();

    // `settingsFolder` holds ayar.ini. `port` is used, not owned; without one the
    // window makes a RealSerialPort of its own, numbered through the port registry.
    KomutWindow(const QString &commandText, const QString &settingsFolder,
                SerialPort *port = nullptr, QWidget *parent = nullptr);
    ~KomutWindow() override;

    bool isRunMode() const { return m_runMode; }
    Status status() const;
    // Run mode: the text of Label1 ("Çıkış-3 Açıldı", "Hatalı komut", "Port Hatası").
    QString statusText() const;
    // One line in Turkish saying what went wrong; empty when nothing did.
    QString errorText() const;

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class RunState {
        Opening,  // waiting for the port
        Ready,    // port held, mask loaded, waiting to be shown
        Sending,  // command applied, frames going out
        Finished, // fourth frame out, port closed
        Rejected, // the command was rejected; the port was never taken
        Failed,   // the port could not be opened or broke while sending
        Stopped,  // closed by the user before the fourth frame
    };

    void buildSetupFace();
    void buildRunFace();
    void loadSetup();
    void loadRun();
    void tryOpenPort();
    void activate();
    void applyCommandNow();
    void giveUp(const QString &error);
    void releasePort();
    void showStatus(const QString &text);
    void choosePort(int index);
    void savePort();

    const QString m_commandText;
    const QString m_settingsFolder;
    const bool m_runMode;
    SerialPort *const m_port;
    FrameTransmitter *const m_transmitter;
    QTimer *const m_retryTimer;
    QGroupBox *const m_setupFrame; // Frame1
    QComboBox *const m_portList;   // Combo1
    QPushButton *const m_save;     // Command1
    QLabel *const m_about;         // Label2
    QGroupBox *const m_runFrame;   // Frame2
    QLabel *const m_status;        // Label1

    RunState m_state = RunState::Opening;
    QElapsedTimer m_openClock;
    int m_portNumber = 1;
    Mask m_loadedMask = 0;
    Mask m_newMask = 0;
    bool m_saved = false;
    bool m_shown = false;
    QString m_error;
};

} // namespace relo
