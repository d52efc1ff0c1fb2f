#include "command/komutwindow.h"

#include "komut_version.h"
#include "ui/messagebox.h"
#include "ui/sharedwidgets.h"
#include "ui/twips.h"
#include "ui/versiontitle.h"
#include "ui/windowplacement.h"

#include "ui/aboutwindow.h"
#include "ui/portentry.h"
#include "core/porterror.h"
#include "core/portregistry.h"
#include "link/portscan.h"
#include "core/settingsfile.h"
#include "core/settingsfolder.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
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
    return QLatin1String(KomutVersion::Text);
}

QString KomutWindow::versionTitle()
{
    return relo::versionTitle(QStringLiteral("RELOKomut"), KomutVersion::Text);
}

KomutWindow::KomutWindow(const QString &commandText, const QString &settingsFolder,
                         SerialPort *port, QWidget *parent)
    : QWidget(parent), m_settingsFolder(settingsFolder),
      m_port(port ? port : registeredSerialPort(this)),
      m_run(commandText.isEmpty() ? nullptr
                                  : new CommandRun(commandText, m_port, settingsFolder, this)),
      m_setupFrame(new GroupFrame(this)), m_portList(new QComboBox(m_setupFrame)),
      m_save(new QPushButton(m_setupFrame)), m_about(new QLabel(m_setupFrame)),
      m_runFrame(new GroupFrame(this)), m_status(new QLabel(m_runFrame)),
      m_rejectedClose(new QTimer(this))
{
    setObjectName(QStringLiteral("main"));
    // The version title is this window's alone: Qt would append an application
    // display name to the title of every window, "Hakkında" included.
    setWindowTitle(versionTitle());
    setWindowIcon(QIcon(QStringLiteral(":/relo/chip.png")));
    setFixedSize(px(3135), px(1590));
    setFont(verdana(WindowPointSize));
    QPalette pale = palette();
    pale.setColor(QPalette::Window, PaleBlue);
    setPalette(pale);
    setAutoFillBackground(true);

    buildSetupFace();
    buildRunFace();

    // Both faces stay above every other window; activate() raises them again.
    Qt::WindowFlags flags = Qt::Window | Qt::WindowStaysOnTopHint;
    if (m_run)
        flags |= Qt::FramelessWindowHint;
    else
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint;
    setWindowFlags(flags);
    m_setupFrame->setVisible(!isRunMode());
    m_runFrame->setVisible(isRunMode());
    centreOnScreen(this);

    if (m_run)
        loadRun();
    else
        loadSetup();
}

KomutWindow::~KomutWindow()
{
    // A window destroyed without being closed still lets go of the port.
    if (m_run)
        m_run->stop(QString());
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

    m_rejectedClose->setObjectName(QStringLiteral("Timer2"));
    m_rejectedClose->setSingleShot(true);
    m_rejectedClose->setInterval(RejectedDisplayMs);
    connect(m_rejectedClose, &QTimer::timeout, this, &QWidget::close);
}

void KomutWindow::loadSetup()
{
    fillPortList(m_portList, openedPorts(scanPorts(*m_port)));
    // A filled list selects its first entry by itself; only the saved port may be
    // preselected. Preselection leaves "Kaydet" disabled: nothing was chosen yet.
    m_portList->setCurrentIndex(-1);
    // The open list may be wider than the closed one, so entries show whole there.
    QAbstractItemView *view = m_portList->view();
    view->setMinimumWidth(view->sizeHintForColumn(0) + 2 * view->frameWidth());
    const std::optional<qint16> saved =
        wholeNumberSetting(readSetting(m_settingsFolder, PortNumberKey));
    if (saved)
        m_portList->setCurrentIndex(m_portList->findText(portName(*saved)));
}

void KomutWindow::loadRun()
{
    // A rejected command says so at once; an accepted one waits in the queue,
    // perhaps with the port taken, and is applied once the window shows.
    if (m_run->isRejected())
        showStatus(m_run->statusText());
    connect(m_run, &CommandRun::finished, this, &KomutWindow::onFinished);
}

bool KomutWindow::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        activate();
    else if (event->type() == QEvent::WindowDeactivate)
        m_applied = false;
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
        if (m_run && m_run->isRejected())
            m_rejectedClose->start();
        activate();
    }
}

void KomutWindow::activate()
{
    raise();
    if (m_run && m_run->isWaiting() && !m_applied)
        applyCommandNow();
}

void KomutWindow::applyCommandNow()
{
    m_applied = true;
    showStatus(m_run->statusText());
    m_run->apply();
}

void KomutWindow::onFinished(ExitStatus status)
{
    if (status == ExitStatus::PortFailed) {
        showStatus(m_run->statusText());
        QTimer::singleShot(PortErrorDisplayMs, this, &QWidget::close);
        return;
    }
    close();
}

void KomutWindow::closeEvent(QCloseEvent *event)
{
    if (m_run)
        m_run->stop(QStringLiteral("Komut gönderilemedi: pencere kapatıldı"));
    QWidget::closeEvent(event);
}

ExitStatus KomutWindow::status() const
{
    if (m_run)
        return m_run->status();
    return m_error.isEmpty() ? ExitStatus::Done : ExitStatus::NotSaved;
}

QString KomutWindow::statusText() const
{
    return m_status->text();
}

QString KomutWindow::errorText() const
{
    return m_run ? m_run->errorText() : m_error;
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

void KomutWindow::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (m_run && m_run->isRejected() &&
        (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        close();
        return;
    }
    // Setup: Enter presses "Kaydet" wherever the focus is. Neither the list nor
    // the button takes it: a button is pressed by Enter only inside a dialog.
    if (!isRunMode() && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        if (m_save->isEnabled())
            m_save->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void KomutWindow::mousePressEvent(QMouseEvent *event)
{
    // Neither the label nor its frame takes a click: one anywhere comes here.
    if (m_run && m_run->isRejected()) {
        close();
        return;
    }
    QWidget::mousePressEvent(event);
}

void KomutWindow::choosePort(int index)
{
    // The entry just saved is not saved again: "Kaydet" stays disabled to show it took.
    const QString entry = m_portList->itemText(index);
    if (portFromEntry(entry) > 0 && entry != m_savedEntry)
        m_save->setEnabled(true);
}

void KomutWindow::savePort()
{
    const QString entry = m_portList->currentText();
    if (savePortChoice(m_settingsFolder, portFromEntry(entry))) {
        m_error.clear();
        m_savedEntry = entry;
        m_save->setEnabled(false);
        return;
    }
    m_error = settingsSaveError(m_settingsFolder);
    showMessage(this, QMessageBox::Warning, QStringLiteral("RELOKomut"), m_error);
}

} // namespace relo
