#pragma once

#include "core/commandrun.h"

#include <QString>
#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace relo {

class SerialPort;

// The RELOKomut window ("main"). Two faces, chosen by the command text:
//
// Run mode (a command): a small borderless status window above all others, which
// shows what its CommandRun does. The command joins the queue of commands for
// this ayar.ini, which takes the saved port, raises RTS and reads the saved mask;
// when the window is first shown the command is applied, the new mask saved and
// four frames sent, together with whatever other commands wait at that moment;
// then the window closes. A later real activation (after the window lost
// activation) applies the command again. A rejected command never joins the
// queue: "Hatalı komut" closes after three seconds, or at once on Escape, Enter
// or a click. A port that cannot be opened shows "Port Hatası", sends nothing,
// saves nothing and closes after about a second.
//
// Setup mode (no command): the list of usable ports with the saved one selected;
// choosing an entry enables "Kaydet", which saves the port (savePortChoice()) and
// stays disabled until another entry is chosen. Enter presses "Kaydet".
class KomutWindow : public QWidget
{
    Q_OBJECT
public:
    // How long "Port Hatası" stays on screen before the window closes.
    static constexpr int PortErrorDisplayMs = 1000;
    // How long "Hatalı komut" stays on screen (the interval of timer "Timer2").
    static constexpr int RejectedDisplayMs = 3000;

    // The version (command/CMakeLists.txt), and the title "RELOKomut    Ver. " with it.
    static QString version();
    static QString versionTitle();

    // `settingsFolder` holds ayar.ini. `port` is used, not owned; without one the
    // window makes a RealSerialPort of its own, numbered through the port registry.
    KomutWindow(const QString &commandText, const QString &settingsFolder,
                SerialPort *port = nullptr, QWidget *parent = nullptr);
    ~KomutWindow() override;

    bool isRunMode() const { return m_run != nullptr; }
    // The command program's exit status: run mode, the run's; setup mode, Done
    // unless the last save failed (NotSaved).
    ExitStatus status() const;
    // Run mode: the text of Label1 ("Çıkış-3 Açıldı", "Hatalı komut", "Port Hatası").
    QString statusText() const;
    // One line in Turkish saying what went wrong; empty when nothing did.
    QString errorText() const;

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void buildSetupFace();
    void buildRunFace();
    void loadSetup();
    void loadRun();
    void activate();
    void applyCommandNow();
    void onFinished(ExitStatus status);
    void showStatus(const QString &text);
    void choosePort(int index);
    void savePort();

    const QString m_settingsFolder;
    SerialPort *const m_port;
    CommandRun *const m_run;       // run mode only
    QGroupBox *const m_setupFrame; // Frame1
    QComboBox *const m_portList;   // Combo1
    QPushButton *const m_save;     // Command1
    QLabel *const m_about;         // Label2
    QGroupBox *const m_runFrame;   // Frame2
    QLabel *const m_status;        // Label1
    QTimer *const m_rejectedClose; // Timer2: closes "Hatalı komut"

    bool m_shown = false;
    // Applied since the window last lost activation: the activation that follows
    // the first show is part of showing, not a new one.
    bool m_applied = false;
    QString m_error;      // setup mode
    QString m_savedEntry; // the entry "Kaydet" last saved
};

} // namespace relo
