#include "panelwidgets.h"

#include <QPainter>

namespace relo {

Lamp::Lamp(QWidget *parent)
    : QWidget(parent), m_fill(palette().color(QPalette::Base)),
      m_border(palette().color(QPalette::WindowText))
{}

void Lamp::setFillColor(const QColor &color)
{
    if (color == m_fill)
        return;
    m_fill = color;
    update();
}

void Lamp::setBorderColor(const QColor &color)
{
    if (color == m_border)
        return;
    m_border = color;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(m_border, 1));
    painter.setBrush(m_fill);
    // Half a pixel in so that the 1-pixel outline stays inside the widget.
    const qreal side = qMin(width(), height()) - 1.0;
    const QRectF circle((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.drawEllipse(circle);
}

void PictureLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, pixmap());
}

void PortList::showPopup()
{
    Q_EMIT opening();
    QComboBox::showPopup();
}

} // namespace relo
