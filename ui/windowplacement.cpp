#include "ui/windowplacement.h"

#include <QApplication>
#include <QEvent>
#include <QMargins>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace relo {

namespace {

QMargins frameMargins(const QWidget *window)
{
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

// The decoration the window manager is likely to give `window`: that of another
// decorated window of this program on screen.
QMargins estimatedFrame(const QWidget *window)
{
    if (window->windowFlags() & Qt::FramelessWindowHint)
        return {};
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        if (other != window && other->isVisible() && other->frameGeometry() != other->geometry())
            return frameMargins(other);
    }
    return {};
}

// Where the frame's top-left corner goes: the frame centred in the available
// area, its title bar kept on screen should the window be the larger.
QPoint centredFramePosition(const QWidget *window, const QMargins &frame)
{
    const QScreen *screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return window->pos();
    const QRect area = screen->availableGeometry();
    QRect placed(QPoint(), window->size().grownBy(frame));
    placed.moveCenter(area.center());
    return {qMax(placed.left(), area.left()), qMax(placed.top(), area.top())};
}

// How long after the first show the window manager's frame is waited for.
constexpr int FrameWaitMs = 2000;

// Moves the window once more when the window manager's real frame differs from
// the one it was centred with. It waits for the window to be framed where it was
// put: reports of other positions pass on the way (the window inside its new
// frame, briefly at 0,0), and a window manager may place windows its own way.
class FrameWatcher : public QObject
{
public:
    FrameWatcher(QWidget *window, const QMargins &assumed, const QPoint &placedAt)
        : QObject(window), m_window(window), m_assumed(assumed), m_placedAt(placedAt)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window || m_done)
            return false;
        if (event->type() == QEvent::Show && !m_waiting) {
            m_waiting = true;
            QTimer::singleShot(FrameWaitMs, this, &FrameWatcher::stop);
        }
        if (event->type() != QEvent::Move && event->type() != QEvent::Show)
            return false;
        const QMargins frame = frameMargins(m_window);
        if (!m_window->isVisible() || frame.isNull() ||
            m_window->geometry().topLeft() != m_placedAt + QPoint(frame.left(), frame.top()))
            return false;
        stop();
        if (frame != m_assumed)
            m_window->move(centredFramePosition(m_window, frame));
        return false;
    }

private:
    void stop()
    {
        m_done = true;
        m_window->removeEventFilter(this);
        deleteLater();
    }

    QWidget *const m_window;
    const QMargins m_assumed;
    const QPoint m_placedAt;
    bool m_waiting = false;
    bool m_done = false;
};

} // namespace

void centreOnScreen(QWidget *window)
{
    const QMargins frame = estimatedFrame(window);
    // For a window, move() places the top-left corner of its frame.
    const QPoint position = centredFramePosition(window, frame);
    window->move(position);
    new FrameWatcher(window, frame, position);
}

} // namespace relo
