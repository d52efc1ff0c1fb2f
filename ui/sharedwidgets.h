#pragma once

#include <QGroupBox>
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

// A captioned frame drawn the classic way: the etched border on the frame's own
// rectangle, the caption sitting on its top line over the window colour, the
// inside left in the window colour. The toolkit style would instead put the
// caption above a border that starts well below the frame's top, while the
// controls inside are placed from the frame's top-left corner. Without a caption
// the border is the whole rectangle.
class GroupFrame : public QGroupBox
{
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace relo
