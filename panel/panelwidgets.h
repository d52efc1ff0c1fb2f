#pragma once

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QWidget>

namespace relo {

// A circular indicator lamp: the largest circle that fits the widget, centred,
// filled with the fill colour and outlined with the border colour.
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

} // namespace relo
