#include "komutwindow.h"

#include "twips.h"
#include "versiontitle.h"

#include "aboutwindow.h"
#include "commandgrammar.h"
#include "porterror.h"
#include "portregistry.h"
#include "portscan.h"
#include "settingsfile.h"
#include "transmitter.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace relo {

namespace {

const QString FontFamily = QStringLiteral("Verdana");
constexpr double WindowPointSize = 8.25;
constexpr double StatusPointSize = 15.75;
constexpr double PortListPointSize = 7.5;
// Label1 has no size of its own: it is centred on its design position.
const QPoint StatusAnchor(px(1320), px(480));

QFont verdana(double pointSize, bool bold = false)
{
    QFont font(FontFamily);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace

QString KomutWindow::version()
{
    return versionText(VersionMajor, VersionMinor, VersionRevision);
}

QString KomutWindow::versionTitle()
{
    return relo::versionTitle(QStringLiteral("RELOKomut"), VersionMajor, VersionMinor,
                              VersionRevision);
}

KomutWindow::KomutWindow(const QString &commandText, const QString &settingsFolder,
                         SerialPort *port, QWidget *parent)
    : QWidget(parent), m_commandText(commandText), m_settingsFolder(settingsFolder),
      m_runMode(!commandText.isEmpty()), m_port(port ? port : registeredSerialPort(this)),
      m_transmitter(new FrameTransmitter(
          m_port, [this] { return m_newMask; }, this)),
      m_retryTimer(new QTimer(this)), m_setupFrame(new QGroupBox(this)),
      m_portList(new QComboBox(m_setupFrame)), m_save(new QPushButton(m_setupFrame)),
      m_about(new QLabel(m_setupFrame)), m_runFrame(new QGroupBox(this)),
      m_status(new QLabel(m_runFrame))
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(versionTitle());
    QGuiApplication::setApplicationDisplayName(versionTitle());
    setWindowIcon(QIcon(QStringLiteral(":/relo/chip.png")));
    setFixedSize(px(3135), px(1590));
    setFont(verdana(WindowPointSize));
    QPalette pale = palette();
    pale.setColor(QPalette::Window, PaleBlue);
    setPalette(pale);
    setAutoFillBackground(true);

    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(BusyRetryIntervalMs);
    connect(m_retryTimer, &QTimer::timeout, this, &KomutWindow::tryOpenPort);
    connect(m_transmitter, &FrameTransmitter::oneShotFinished, this, [this] {
        m_state = RunState::Finished;
        close();
    });
    connect(m_transmitter, &FrameTransmitter::sendFailed, this, [this] {
        giveUp(QStringLiteral("Port Hatası: %1 gönderim sırasında koptu")
                   .arg(portEntry(m_portNumber)));
    });

    buildSetupFace();
    buildRunFace();

    // Both faces stay above every other window; activate() raises them again.
    Qt::WindowFlags flags = Qt::Window | Qt::WindowStaysOnTopHint;
    if (m_runMode)
        flags |= Qt::FramelessWindowHint;
    else
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint;
    setWindowFlags(flags);
    m_setupFrame->setVisible(!m_runMode);
    m_runFrame->setVisible(m_runMode);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    if (m_runMode)
        loadRun();
    else
        loadSetup();
}

KomutWindow::~KomutWindow()
{
    // A window destroyed without being closed still lets go of the port.
    m_retryTimer->stop();
    m_transmitter->stop();
    releasePort();
}

void KomutWindow::buildSetupFace()
{
    m_setupFrame->setObjectName(QStringLiteral("Frame1"));
    m_setupFrame->setTitle(QStringLiteral("Seri Port Ayar"));
    m_setupFrame->setGeometry(twipsRect(240, 240, 2655, 1215));

    m_portList->setObjectName(QStringLiteral("Combo1"));
    m_portList->setGeometry(twipsRect(240, 360, 975, 315));
    m_portList->setEditable(false);
    m_portList->setToolTip(QStringLiteral("Port Seçin"));
    // The list is only 65 pixels wide: with the style's usual text margin and at
    // 8.25 points, "Com - 10" is cut to "Com - 1" beside the arrow.
    m_portList->setFont(verdana(PortListPointSize));
    m_portList->setStyleSheet(QStringLiteral("QComboBox { padding-left: 1px; }"));
    connect(m_portList, &QComboBox::activated, this, &KomutWindow::choosePort);

    m_save->setObjectName(QStringLiteral("Command1"));
    m_save->setGeometry(twipsRect(1320, 360, 1095, 350));
    m_save->setText(QStringLiteral("Kaydet"));
    m_save->setEnabled(false);
    m_save->setCursor(Qt::PointingHandCursor);
    connect(m_save, &QPushButton::clicked, this, &KomutWindow::savePort);

    m_about->setObjectName(QStringLiteral("Label2"));
    m_about->setText(QStringLiteral("Hakkında"));
    m_about->setFont(verdana(WindowPointSize));
    QPalette highlight = m_about->palette();
    highlight.setColor(QPalette::WindowText, highlight.color(QPalette::Highlight));
    m_about->setPalette(highlight);
    m_about->setCursor(Qt::PointingHandCursor);
    m_about->move(px(840), px(840));
    m_about->adjustSize();
    m_about->installEventFilter(this);
}

void KomutWindow::buildRunFace()
{
    m_runFrame->setObjectName(QStringLiteral("Frame2"));
    m_runFrame->setGeometry(twipsRect(120, 120, 2895, 1335));

    m_status->setObjectName(QStringLiteral("Label1"));
    m_status->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_status->setFont(verdana(StatusPointSize, true));
    showStatus(QString());
}

void KomutWindow::loadSetup()
{
    int count = 0;
    scanPorts(
        *m_port, [this](const QString &entry) { m_portList->addItem(entry); }, count);
    // A filled list selects its first entry by itself; only the saved port may be
    // preselected. Preselection leaves "Kaydet" disabled: saving the same port
    // again would only clear the remembered outputs.
    m_portList->setCurrentIndex(-1);
    // The open list may be wider than the closed one, so entries show whole there.
    QAbstractItemView *view = m_portList->view();
    view->setMinimumWidth(view->sizeHintForColumn(0) + 2 * view->frameWidth());
    const std::optional<qint16> saved =
        wholeNumberSetting(readSetting(m_settingsFolder, PortNumberKey));
    if (saved)
        m_portList->setCurrentIndex(m_portList->findText(portEntry(*saved)));
}

void KomutWindow::loadRun()
{
    // The command is checked before the port is touched: a rejected command must
    // not key the transmitter, not even for a moment.
    const CommandResult check = applyCommand(m_commandText, 0);
    if (!check.accepted) {
        m_state = RunState::Rejected;
        m_error = QStringLiteral("Hatalı komut: \"%1\"").arg(m_commandText);
        showStatus(check.statusText);
        return;
    }
    const std::optional<qint16> saved =
        wholeNumberSetting(readSetting(m_settingsFolder, PortNumberKey));
    m_portNumber = saved && *saved > 0 ? *saved : 1; // port 1 when nothing usable is saved
    m_openClock.start();
    tryOpenPort();
}

void KomutWindow::tryOpenPort()
{
    if (m_state != RunState::Opening)
        return;
    const SerialPort::OpenError error = m_port->openPort(m_portNumber);
    if (error == SerialPort::OpenError::None) {
        m_port->setRts(true);
        // The mask is read only now: a program that held the port may just have
        // saved a newer one.
        m_loadedMask = maskSetting(readSetting(m_settingsFolder, PortDataKey)).value_or(0);
        m_state = RunState::Ready;
        if (m_shown)
            applyCommandNow();
        return;
    }
    if (error == SerialPort::OpenError::Busy && m_openClock.elapsed() < BusyRetryMs) {
        m_retryTimer->start();
        return;
    }
    giveUp(portErrorLine(m_portNumber, error, m_port->device()));
}

bool KomutWindow::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        activate();
    return QWidget::event(event);
}

void KomutWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A window started by a background program is often never activated (focus
    // stealing prevention, no window manager at all): the first show counts as
    // an activation.
    if (!m_shown) {
        m_shown = true;
        activate();
    }
}

void KomutWindow::activate()
{
    raise();
    if (m_runMode && (m_state == RunState::Ready || m_state == RunState::Sending))
        applyCommandNow();
}

void KomutWindow::applyCommandNow()
{
    // Always from the loaded mask, so applying again gives the same new mask;
    // the transmitter starts its count of four again.
    const CommandResult result = applyCommand(m_commandText, m_loadedMask);
    showStatus(result.statusText);
    m_newMask = result.newMask;
    m_saved = writeSetting(m_settingsFolder, PortDataKey, QString::number(m_newMask));
    m_state = RunState::Sending;
    m_transmitter->startOneShot();
}

void KomutWindow::giveUp(const QString &error)
{
    m_retryTimer->stop();
    m_transmitter->stop();
    releasePort();
    m_state = RunState::Failed;
    m_error = error;
    showStatus(QStringLiteral("Port Hatası"));
    QTimer::singleShot(PortErrorDisplayMs, this, &QWidget::close);
}

void KomutWindow::releasePort()
{
    if (!m_port->isOpen())
        return;
    m_port->drain();
    m_port->setRts(false);
    m_port->closePort();
}

void KomutWindow::closeEvent(QCloseEvent *event)
{
    m_retryTimer->stop();
    m_transmitter->stop();
    releasePort();
    if (m_state == RunState::Opening || m_state == RunState::Ready ||
        m_state == RunState::Sending) {
        m_state = RunState::Stopped;
        if (m_runMode)
            m_error = QStringLiteral("Komut gönderilemedi: pencere kapatıldı");
    }
    QWidget::closeEvent(event);
}

KomutWindow::Status KomutWindow::status() const
{
    if (!m_runMode)
        return m_error.isEmpty() ? Done : NotSaved;
    switch (m_state) {
    case RunState::Finished:
        return m_saved ? Done : NotSaved;
    case RunState::Rejected:
        return Rejected;
    case RunState::Opening:
    case RunState::Ready:
    case RunState::Sending:
    case RunState::Failed:
    case RunState::Stopped:
        break;
    }
    return PortFailed;
}

QString KomutWindow::statusText() const
{
    return m_status->text();
}

QString KomutWindow::errorText() const
{
    if (m_state == RunState::Finished && !m_saved)
        return QStringLiteral("ayar.ini yazılamadı: %1").arg(settingsPath(m_settingsFolder));
    return m_error;
}

void KomutWindow::showStatus(const QString &text)
{
    // Sized to its text and centred on its design position; should the text be
    // wider than the frame, the font steps down until all of it shows.
    QFont font = verdana(StatusPointSize, true);
    m_status->setFont(font);
    m_status->setText(text);
    m_status->adjustSize();
    const int room = m_runFrame->width() - 8;
    while (m_status->width() > room && font.pointSizeF() > WindowPointSize) {
        font.setPointSizeF(font.pointSizeF() - 0.75);
        m_status->setFont(font);
        m_status->adjustSize();
    }
    const int spare = m_runFrame->width() - m_status->width();
    const int margin = qBound(0, spare / 2, 6); // off the frame's border
    const int left = StatusAnchor.x() - m_status->width() / 2;
    m_status->move(qBound(margin, left, spare - margin), StatusAnchor.y());
}

bool KomutWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_about && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton &&
            m_about->rect().contains(mouse->position().toPoint())) {
            AboutWindow::showModal(true);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void KomutWindow::choosePort(int index)
{
    if (portFromEntry(m_portList->itemText(index)) > 0)
        m_save->setEnabled(true);
}

void KomutWindow::savePort()
{
    // Port first, then the mask: a new port starts with every output off.
    // A failed port write stops there, so the mask of the old port stays as it was.
    const QString number = m_portList->currentText().mid(6);
    if (writeSetting(m_settingsFolder, PortNumberKey, number) &&
        writeSetting(m_settingsFolder, PortDataKey, QStringLiteral("0"))) {
        m_error.clear();
        return;
    }
    m_error = QStringLiteral("ayar.ini yazılamadı: %1").arg(settingsPath(m_settingsFolder));
    QMessageBox::warning(this, versionTitle(), m_error);
}

} // namespace relo
