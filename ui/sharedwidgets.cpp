#include "sharedwidgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <qdrawutil.h>

namespace relo {

void ClickableLabel::mousePressEvent(QMouseEvent *event)
{
    // Accepting the press makes this label receive the matching release.
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void ClickableLabel::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Qt would pass it on as one more press; the click was the first press.
    if (event->button() == Qt::LeftButton) {
        m_pressed = false;
        event->accept();
        return;
    }
    QLabel::mouseDoubleClickEvent(event);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const bool click = m_pressed && rect().contains(event->position().toPoint());
        m_pressed = false;
        event->accept();
        if (click)
            Q_EMIT clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

namespace {

constexpr int CaptionIndent = 8; // from the frame's left edge to the caption
constexpr int CaptionGap = 2;    // window colour on either side of the caption

} // namespace

void GroupFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPalette &pal = palette();
    const QString caption = title();
    const QFontMetrics metrics = fontMetrics();
    QRect border = rect();
    if (!caption.isEmpty())
        border.setTop(metrics.height() / 2);
    // The border does not fade while the frame is disabled; only the caption greys.
    QPalette active = pal;
    active.setCurrentColorGroup(QPalette::Active);
    qDrawShadeRect(&painter, border, active, true, 1, 0);
    if (caption.isEmpty())
        return;

    const QRect text(CaptionIndent, 0, metrics.horizontalAdvance(caption), metrics.height());
    painter.fillRect(text.adjusted(-CaptionGap, 0, CaptionGap, 0), pal.window());
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    if (isEnabled()) {
        painter.setPen(pal.color(QPalette::WindowText));
    } else {
        // Grey and embossed, the classic disabled caption: the scheme's own pale
        // disabled text would hardly show on a light window colour.
        painter.setPen(pal.color(QPalette::Active, QPalette::Light));
        painter.drawText(text.translated(1, 1), flags, caption);
        painter.setPen(pal.color(QPalette::Active, QPalette::Shadow));
    }
    painter.drawText(text, flags, caption);
}

} // namespace relo
