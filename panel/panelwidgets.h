#pragma once

#include "ui/sharedwidgets.h"

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QWidget>

namespace relo {

// A circular indicator lamp: the largest circle that fits the widget, centred,
// filled with the fill colour and outlined with the border colour. Assistive
// technology reads its accessible name, which says what the colour means.
class Lamp : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor)
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)
public:
    explicit Lamp(QWidget *parent = nullptr);

    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor &color);
    QColor borderColor() const { return m_border; }
    void setBorderColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    QColor m_border;
};

// A label showing its picture unchanged, also while disabled: the switch tiles
// keep their colours when the output area is disabled.
class PictureLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A drop-down list that says when it is about to open, so that its entries can
// be brought up to date first.
class PortList : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override;

Q_SIGNALS:
    void opening();
};

// The caption of a channel switch, which takes its clicks and its keys. To
// assistive technology it is a checkable button named "Çıkış <channel>", checked
// while the channel is on; turning it on or off is announced as a state change.
class SwitchCaption : public ClickableLabel
{
    Q_OBJECT
public:
    // Without a text: the panel sets the caption once the switch is built.
    SwitchCaption(int channel, QWidget *parent);

    bool isOn() const { return m_on; }
    void setOn(bool on);

private:
    bool m_on = false;
};

} // namespace relo
