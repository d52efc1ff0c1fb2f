#include "ui/aboutwindow.h"

#include "ui/sharedwidgets.h"
#include "ui/twips.h"
#include "ui/windowplacement.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QUrl>

namespace relo {

namespace {

QFont tahoma(double pointSize, bool bold = false)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

const QColor Blue(0x00, 0x00, 0xFF);
const QColor Red(0xFF, 0x00, 0x00);
const QColor Black(0x00, 0x00, 0x00);

void setForeground(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

void setUnderline(QLabel *label, bool on)
{
    QFont font = label->font();
    font.setUnderline(on);
    label->setFont(font);
}

template <typename Label = QLabel>
Label *makeLabel(QWidget *parent, const char *name, const QString &text, const QRect &geometry,
                 const QFont &font)
{
    auto *label = new Label(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setFont(font);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return label;
}

Qt::WindowFlags aboutWindowFlags(bool keepOnTop)
{
    Qt::WindowFlags flags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
    if (keepOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    return flags;
}

} // namespace

QString AboutWindow::author()
{
    return QStringLiteral("RELO Geliştiricileri");
}

QString AboutWindow::mailAddress()
{
    return QStringLiteral("relo@example.org");
}

QString AboutWindow::webHost()
{
    return QStringLiteral("www.example.org");
}

QString AboutWindow::dateLine()
{
    return QStringLiteral("Aralık 2026");
}

AboutWindow::AboutWindow(bool keepOnTop, QWidget *parent)
    : QDialog(parent, aboutWindowFlags(keepOnTop)), m_keepOnTop(keepOnTop),
      m_frame(new QFrame(this)),
      m_mailLink(makeLabel<ClickableLabel>(m_frame, "Label9", mailAddress(),
                                           twipsRect(0, 480, 2775, 195), tahoma(8.25))),
      m_webLink(makeLabel<ClickableLabel>(m_frame, "Label10", webHost(),
                                          twipsRect(0, 720, 2745, 195), tahoma(8.25)))
{
    setObjectName(QStringLiteral("hakkinda"));
    setWindowTitle(QStringLiteral("Hakkında"));
    setFixedSize(twipsRect(0, 0, 3780, 1995).size());
    centreOnScreen(this);
    // The window takes the scheme's caption-text colour, the colour drawn on a
    // title bar's accent: white in the usual light schemes. Qt has no role for
    // it; Base (the background of text fields) is white in those same schemes
    // and, unlike a fixed white, follows a dark scheme together with ButtonText,
    // the links' colour at opening.
    QPalette palette = this->palette();
    const QColor background = palette.color(QPalette::Base);
    const QColor linkColour = palette.color(QPalette::ButtonText);
    palette.setColor(QPalette::Window, background);
    setPalette(palette);
    setAutoFillBackground(true);

    QLabel *heading = makeLabel(this, "Label3", QStringLiteral("8 Kanal RELO  Kontrol"),
                                twipsRect(0, 0, 3810, 360), tahoma(14.25, true));
    setForeground(heading, Blue);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("Image1"));
    icon->setGeometry(twipsRect(120, 480, 480, 480));
    icon->setPixmap(QPixmap(QStringLiteral(":/relo/chip.png")));

    // Only the frame's border shows: it has the window's background.
    m_frame->setObjectName(QStringLiteral("Frame1"));
    m_frame->setGeometry(twipsRect(840, 480, 2775, 1455));
    m_frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    m_frame->setMouseTracking(true);
    m_frame->installEventFilter(this);

    QLabel *byline = makeLabel(m_frame, "Label8", QStringLiteral("Yazan; ") + author(),
                               twipsRect(0, 240, 2775, 195), tahoma(8.25));
    setForeground(byline, Blue);
    QLabel *date =
        makeLabel(m_frame, "Label11", dateLine(), twipsRect(120, 1200, 2685, 165), tahoma(6.75));

    // What the desktop does with a link is its own affair; a failure leaves the
    // window as it is.
    connect(m_mailLink, &ClickableLabel::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + mailAddress())); });
    connect(m_webLink, &ClickableLabel::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QStringLiteral("http://") + webHost())); });
    for (ClickableLabel *link : {m_mailLink, m_webLink}) {
        setForeground(link, linkColour);
        link->setCursor(Qt::PointingHandCursor);
        link->setMouseTracking(true);
        link->installEventFilter(this);
    }
    // A move over any label is that label's own; only a move over the bare frame
    // area resets the links.
    for (QLabel *label : std::initializer_list<QLabel *>{byline, m_mailLink, m_webLink, date})
        label->setAttribute(Qt::WA_NoMousePropagation);
}

void AboutWindow::showModal(bool keepOnTop)
{
    AboutWindow window(keepOnTop);
    window.exec();
}

bool AboutWindow::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && m_keepOnTop)
        raise();
    return QDialog::event(event);
}

bool AboutWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        if (watched == m_mailLink || watched == m_webLink)
            hoverLink(static_cast<QLabel *>(watched));
        else if (watched == m_frame)
            leaveLinks();
        return false;
    }
    return QDialog::eventFilter(watched, event);
}

void AboutWindow::hoverLink(QLabel *link)
{
    setForeground(link, Red);
    setUnderline(link, true);
}

void AboutWindow::leaveLinks()
{
    setForeground(m_mailLink, Black);
    setForeground(m_webLink, Black);
    setUnderline(m_webLink, false);
    setUnderline(m_mailLink, false);
}

} // namespace relo
