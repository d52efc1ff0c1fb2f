#include "ui/sharedwidgets.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <qdrawutil.h>

namespace relo {

namespace {

// A clickable label as assistive technology sees it: a link named by its text.
class ClickableLabelAccessible : public QAccessibleWidget
{
public:
    explicit ClickableLabelAccessible(ClickableLabel *label)
        : QAccessibleWidget(label, QAccessible::Link)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const QLabel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override
    {
        return QAccessibleWidget::actionNames() << pressAction();
    }
    void doAction(const QString &action) override
    {
        if (action != pressAction())
            QAccessibleWidget::doAction(action);
        else if (widget()->isEnabled())
            static_cast<ClickableLabel *>(widget())->click();
    }
};

QAccessibleInterface *accessibleClickableLabel(const QString &key, QObject *object)
{
    if (key == QLatin1String("relo::ClickableLabel"))
        return new ClickableLabelAccessible(static_cast<ClickableLabel *>(object));
    return nullptr;
}

} // namespace

ClickableLabel::ClickableLabel(QWidget *parent) : QLabel(parent)
{
    // Installed before the label has a text: a screen reader that is running asks
    // for the label's interface when the text is set, and keeps the first answer.
    QAccessible::installFactory(accessibleClickableLabel);
    setFocusPolicy(Qt::TabFocus);
}

ClickableLabel::ClickableLabel(const QString &text, QWidget *parent) : ClickableLabel(parent)
{
    setText(text);
}

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

void ClickableLabel::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        !(event->modifiers() & ~Qt::KeypadModifier)) {
        // A key held down repeats; it is still one click.
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void ClickableLabel::changeEvent(QEvent *event)
{
    // A label that takes the focus draws its text as a text field does, in the
    // Text colour, and while disabled it does not put its own colour there: the
    // disabled Text colour follows the label's, so a disabled label looks as it
    // always did.
    if (event->type() == QEvent::PaletteChange) {
        QPalette pal = palette();
        const QColor own = pal.color(QPalette::Disabled, foregroundRole());
        if (pal.color(QPalette::Disabled, QPalette::Text) != own) {
            pal.setColor(QPalette::Disabled, QPalette::Text, own);
            setPalette(pal);
        }
    }
    QLabel::changeEvent(event);
}

void ClickableLabel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    // Only a focus that came from the keyboard shows: a mouse user sees the label
    // as it always was.
    if (!hasFocus() || !window()->testAttribute(Qt::WA_KeyboardFocusChange))
        return;
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
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
