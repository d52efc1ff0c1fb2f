#include "panel/panelwindow.h"

#include "panel_version.h"
#include "ui/sharedwidgets.h"
#include "ui/twips.h"
#include "ui/versiontitle.h"
#include "ui/windowplacement.h"

#include "platform/devicewatcher.h"
#include "panel/panelwidgets.h"
#include "ui/portentry.h"
#include "link/portscan.h"
#include "panel/prompt.h"
#include "link/realserialport.h"
#include "link/serialport.h"
#include "link/transmitter.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace relo {

namespace {

const QColor LampBlue(Qt::blue);

// Left edges of the four switch columns; odd channels on the top row, even
// channels on the bottom row. Each caption lies 40 twips below its tile's top.
constexpr int ColumnLeft[] = {360, 1200, 2040, 2880};
constexpr int TileTop[] = {350, 800};
constexpr int CaptionOffset = 40;

// What the link lamp Shape1 says to assistive technology.
const QString Connected = QStringLiteral("Bağlı");
const QString NotConnected = QStringLiteral("Bağlı değil");

QString caption(int channel, bool on)
{
    return QString::number(channel) + (on ? QStringLiteral(" - (1)") : QStringLiteral(" - (0)"));
}

QFont verdana()
{
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    return font;
}

// The lamps' resting colour is the system's window-background colour: the
// background of text fields, QPalette::Base in Qt (white in most schemes), not
// the grey of dialogs.
QColor windowColour(const QWidget *widget)
{
    return widget->palette().color(QPalette::Base);
}

} // namespace

PanelWindow::PanelWindow(SerialPort *port, std::unique_ptr<Prompt> prompt, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_port(port ? port : new RealSerialPort(this)),
      m_prompt(prompt ? std::move(prompt) : std::make_unique<MessageBoxPrompt>()),
      m_transmitter(new FrameTransmitter(
          m_port, [this] { return m_mask; }, this)),
      m_frame1(new GroupFrame(QStringLiteral("Seri Port Ayar"), this)),
      m_shape1(new Lamp(m_frame1)), m_combo1(new PortList(m_frame1)),
      m_command1(new QPushButton(QStringLiteral("Bağlantıyı Kes"), m_frame1)),
      m_frame2(new GroupFrame(QStringLiteral("Çıkışlar"), this)),
      m_label2(new ClickableLabel(QStringLiteral("Hakkında"))), m_shape2(new Lamp),
      m_image2(new QLabel(this)), m_image3(new QLabel(this))
{
    if (!m_port->parent())
        m_port->setParent(this);

    setObjectName(QStringLiteral("main"));
    // The version title is this window's alone. Qt would append an application
    // display name to the title of every window, "Port Aç" and "Hakkında"
    // included, so none is set.
    setWindowTitle(versionTitle());
    setWindowIcon(QIcon(QStringLiteral(":/relo/chip.png")));

    QPalette pal = palette();
    pal.setColor(QPalette::Window, PaleBlue);
    setPalette(pal);
    setAutoFillBackground(true);
    // The layout was drawn for a small interface font: at the desktop's default
    // size "Com - 1" is cut off in the 65-pixel port list. (The open list widens
    // to its longest entry by itself.)
    QFont interfaceFont = font();
    interfaceFont.setPointSizeF(7.5);
    setFont(interfaceFont);
    setFixedSize(px(5895), px(1710));
    centreOnScreen(this);

    // The hidden holders of the two pictures; the switch tiles take copies.
    m_image2->setObjectName(QStringLiteral("Image2"));
    m_image2->setGeometry(twipsRect(1440, 1320, 750, 330));
    m_image2->setPixmap(QPixmap(QStringLiteral(":/relo/off.png")));
    m_image2->hide();
    m_image3->setObjectName(QStringLiteral("Image3"));
    m_image3->setGeometry(twipsRect(2520, 1320, 750, 330));
    m_image3->setPixmap(QPixmap(QStringLiteral(":/relo/on.png")));
    m_image3->hide();

    buildPortArea();
    buildOutputArea();

    connect(m_port, &SerialPort::received, this, &PanelWindow::onReceived);
    connect(m_port, &SerialPort::failed, this, &PanelWindow::onPortLost);
    connect(m_transmitter, &FrameTransmitter::rtsChanged, this, &PanelWindow::onRtsChanged);
    connect(m_transmitter, &FrameTransmitter::sendFailed, this, &PanelWindow::onPortLost);

    scan();
}

PanelWindow::~PanelWindow()
{
    release();
}

QString PanelWindow::version()
{
    return QLatin1String(PanelVersion::Text);
}

QString PanelWindow::versionTitle()
{
    return relo::versionTitle(QStringLiteral("RELO"), PanelVersion::Text);
}

void PanelWindow::buildPortArea()
{
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setGeometry(twipsRect(120, 120, 1575, 1455));

    m_shape1->setObjectName(QStringLiteral("Shape1"));
    m_shape1->setGeometry(twipsRect(120, 360, 255, 255));
    m_shape1->setAccessibleName(NotConnected);

    m_combo1->setObjectName(QStringLiteral("Combo1"));
    m_combo1->setGeometry(twipsRect(480, 360, 975, 315));
    m_combo1->setToolTip(QStringLiteral("Port Seçin"));
    // Every choice by the user, the same entry again included; refilling the
    // list never counts as a choice.
    connect(m_combo1, &QComboBox::activated, this, &PanelWindow::onChoice);
    connect(m_combo1, &PortList::opening, this, &PanelWindow::rebuildPortList);

    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setGeometry(twipsRect(120, 840, 1335, 375));
    m_command1->setEnabled(false);
    m_command1->setCursor(Qt::PointingHandCursor);
    m_command1->setToolTip(QStringLiteral("Bağlantıyı kesmek için tıklayın"));
    connect(m_command1, &QPushButton::clicked, this, &PanelWindow::disconnectPort);
}

void PanelWindow::buildOutputArea()
{
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_frame2->setGeometry(twipsRect(1800, 120, 3975, 1455));
    m_frame2->setEnabled(false);

    const QPixmap off = m_image2->pixmap();
    for (int i = 0; i < ChannelCount; ++i) {
        auto *const tile = new PictureLabel(m_frame2);
        tile->setObjectName(QStringLiteral("Image1"));
        tile->setProperty("index", i);
        tile->setGeometry(twipsRect(ColumnLeft[i / 2], TileTop[i % 2], 750, 330));
        tile->setPixmap(off);
        m_tiles << tile;
    }
    // Created after the tiles so that they lie above them and take the clicks.
    for (int i = 0; i < ChannelCount; ++i) {
        auto *const label = new SwitchCaption(i + 1, m_frame2);
        label->setText(caption(i + 1, false));
        label->setObjectName(QStringLiteral("Label1"));
        label->setProperty("index", i);
        label->setGeometry(twipsRect(ColumnLeft[i / 2], TileTop[i % 2] + CaptionOffset, 735, 255));
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setFont(verdana());
        // Captions keep their colour while the area is disabled, as the tiles do.
        QPalette pal = label->palette();
        pal.setColor(QPalette::Disabled, QPalette::WindowText,
                     pal.color(QPalette::Active, QPalette::WindowText));
        label->setPalette(pal);
        connect(label, &ClickableLabel::clicked, this, [this, i] { toggle(i); });
        m_captions << label;
    }

    m_label2->setParent(m_frame2);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setFont(verdana());
    QPalette pal = m_label2->palette();
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Active, QPalette::Highlight));
    m_label2->setPalette(pal);
    m_label2->setCursor(Qt::PointingHandCursor);
    m_label2->move(px(2760), px(1200));
    m_label2->adjustSize();
    connect(m_label2, &ClickableLabel::clicked, this, [this] { m_prompt->showAbout(); });

    m_shape2->setParent(m_frame2);
    m_shape2->setObjectName(QStringLiteral("Shape2"));
    m_shape2->setGeometry(twipsRect(3600, 1200, 255, 135));
    m_shape2->setBorderColor(Qt::red);
    m_shape2->setAccessibleName(QStringLiteral("RTS"));

    // Tab goes from the port list through the switches in channel order to the
    // two controls below them, whatever the order of creation.
    QList<QWidget *> order{m_combo1};
    order << QList<QWidget *>(m_captions.cbegin(), m_captions.cend()) << m_command1 << m_label2;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void PanelWindow::watchDevices(const QString &serialFolder)
{
    auto *const watcher = new platform::DeviceWatcher(serialFolder, this);
    connect(watcher, &platform::DeviceWatcher::changed, this, &PanelWindow::rebuildPortList);
}

void PanelWindow::onChoice(int)
{
    m_choosing = true;
    const bool confirmed = m_prompt->askConnect(this);
    m_choosing = false;
    if (m_shutDown)
        return;
    if (confirmed)
        connectPort();
    else
        disconnectPort();
}

void PanelWindow::connectPort()
{
    if (m_port->isOpen())
        m_port->closePort();
    m_port->setReceiveThreshold(FrameSize, FrameSize);
    if (m_port->openPort(portFromEntry(m_combo1->currentText())) != SerialPort::OpenError::None) {
        m_prompt->portError(this);
        disconnectPort();
        return;
    }
    m_shape1->setFillColor(LampBlue);
    m_shape1->setAccessibleName(Connected);
    m_command1->setEnabled(true);
    // The switches first: the focus leaving the disabled list goes to switch 1,
    // not to "Bağlantıyı Kes", where a Space meant for a switch would disconnect.
    m_frame2->setEnabled(true);
    m_combo1->setEnabled(false);
    m_port->setRts(true);
    m_connected = true;
    m_lossPending = false;
    m_transmitter->startContinuous();
}

void PanelWindow::disconnectPort()
{
    m_connected = false;
    m_lossPending = false;
    if (m_port->isOpen())
        m_port->closePort();
    rebuildPortList();
    m_combo1->setEnabled(true);
    m_shape1->setFillColor(windowColour(this));
    m_shape1->setAccessibleName(NotConnected);
    m_command1->setEnabled(false);
    m_frame2->setEnabled(false);
    m_port->setRts(false);
    m_transmitter->stop();
    m_shape2->setFillColor(windowColour(this));
}

void PanelWindow::scan()
{
    fillPortList(m_combo1, openedPorts(scanPorts(*m_port)));
    // Nothing is chosen until the user picks an entry.
    m_combo1->setCurrentIndex(-1);
}

// Scanning opens every port in turn: while connected that would cut the
// connection. While the user picks an entry, or has the list open, the entries
// stay where they are, so the one picked is the one connected. An entry is
// chosen only while "Port Aç" asks, so the rebuilt list, like the first, has
// none chosen; filling it is no choice and asks nothing.
void PanelWindow::rebuildPortList()
{
    if (m_connected || m_choosing || m_shutDown || m_combo1->view()->isVisible())
        return;
    m_port->refreshDevices();
    scan();
}

void PanelWindow::onReceived()
{
    // What the far end sends back has no use here; reading keeps the buffer empty.
    m_port->drainInput();
}

void PanelWindow::toggle(int index)
{
    QLabel *const label = m_captions.at(index);
    const int channel = index + 1;
    // The caption is where the switch keeps its position: its sixth character.
    const bool wasOn = label->text().mid(5, 1) == QLatin1String("1");
    label->setText(caption(channel, !wasOn));
    m_tiles.at(index)->setPixmap(wasOn ? m_image2->pixmap() : m_image3->pixmap());
    m_states[static_cast<size_t>(index)] = !wasOn;
    m_captions.at(index)->setOn(!wasOn);

    m_mask = maskFromStates(m_states);
    if (!m_port->send(QByteArray(1, static_cast<char>(m_mask))))
        onPortLost();
}

// The small lamp blinks with RTS: blue while it is high.
void PanelWindow::onRtsChanged(bool high)
{
    m_shape2->setFillColor(high ? LampBlue : windowColour(this));
}

// The port broke while connected (adapter pulled, I/O error, failed write). The
// port is closed already and the transmitter stops here, so nothing writes to it
// any more; the message and the disconnect follow from the event loop rather than
// from inside the failing write.
void PanelWindow::onPortLost()
{
    if (!m_connected || m_lossPending)
        return;
    m_lossPending = true;
    m_transmitter->stop();
    QMetaObject::invokeMethod(this, &PanelWindow::reportPortLost, Qt::QueuedConnection);
}

void PanelWindow::reportPortLost()
{
    if (!m_lossPending)
        return;
    m_prompt->portError(this);
    disconnectPort();
}

void PanelWindow::shutDown()
{
    m_shutDown = true;
    release();
    close();
}

void PanelWindow::closeEvent(QCloseEvent *event)
{
    release();
    QWidget::closeEvent(event);
}

void PanelWindow::keyPressEvent(QKeyEvent *event)
{
    // The digits reach here when the focused control has no use for them. A key
    // held down repeats; it is still one click.
    const int channel = event->key() - Qt::Key_0;
    if (m_connected && channel >= 1 && channel <= ChannelCount &&
        !(event->modifiers() & ~Qt::KeypadModifier)) {
        if (!event->isAutoRepeat())
            toggle(channel - 1);
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::release()
{
    m_transmitter->stop();
    m_connected = false;
    m_lossPending = false;
    if (m_port->isOpen()) {
        m_port->setRts(false);
        m_port->closePort();
    }
}

} // namespace relo
