#include "sharedwidgets.h"

#include <QMouseEvent>

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

} // namespace relo
