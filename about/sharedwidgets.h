#pragma once

#include <QLabel>

namespace relo {

// A label that reports a click: press and release of the left button inside it.
// The second press of a double-click arrives as a double-click, not as a press:
// it is no click of its own, so a double-click reports one click, not two. Like
// every widget it gets no mouse events while it or a parent is disabled.
class ClickableLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false; // a left press started here and was not released yet
};

} // namespace relo
