#include "panel/panelwidgets.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace relo {

namespace {

class SwitchAccessible : public QAccessibleWidget
{
public:
    explicit SwitchAccessible(SwitchCaption *caption)
        : QAccessibleWidget(caption, QAccessible::Button)
    {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = static_cast<const SwitchCaption *>(widget())->isOn();
        return state;
    }
    QStringList actionNames() const override
    {
        return QAccessibleWidget::actionNames() << pressAction() << toggleAction();
    }
    void doAction(const QString &action) override
    {
        if (action != pressAction() && action != toggleAction())
            QAccessibleWidget::doAction(action);
        else if (widget()->isEnabled())
            static_cast<SwitchCaption *>(widget())->click();
    }
};

QAccessibleInterface *accessiblePanelWidget(const QString &key, QObject *object)
{
    if (key == QLatin1String("relo::SwitchCaption"))
        return new SwitchAccessible(static_cast<SwitchCaption *>(object));
    // A lamp reads as a short text: its name.
    if (key == QLatin1String("relo::Lamp"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::StaticText);
    return nullptr;
}

} // namespace

Lamp::Lamp(QWidget *parent)
    : QWidget(parent), m_fill(palette().color(QPalette::Base)),
      m_border(palette().color(QPalette::WindowText))
{
    QAccessible::installFactory(accessiblePanelWidget);
}

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

SwitchCaption::SwitchCaption(int channel, QWidget *parent) : ClickableLabel(parent)
{
    QAccessible::installFactory(accessiblePanelWidget);
    setAccessibleName(QStringLiteral("Çıkış %1").arg(channel));
}

void SwitchCaption::setOn(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

} // namespace relo
