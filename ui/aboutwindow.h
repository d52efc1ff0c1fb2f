#pragma once

#include <QDialog>

class QLabel;
class QFrame;

namespace relo {

class ClickableLabel;

// The About window ("hakkinda"): heading, chip icon, author line, a mail link,
// a web link and a date line. The links turn red and underlined under the
// pointer and go back to black, without underline, when the pointer moves over
// the frame around them. A click hands the link to the desktop's default handler.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    // `keepOnTop`: stay above every other window (the command program's wish).
    explicit AboutWindow(bool keepOnTop, QWidget *parent = nullptr);

    // Builds a fresh About window, shows it modally with no owner window and
    // destroys it when it is closed.
    static void showModal(bool keepOnTop);

    // Content of the window.
    static QString author();
    static QString mailAddress();
    static QString webHost();
    static QString dateLine();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void hoverLink(QLabel *link);
    void leaveLinks();

    const bool m_keepOnTop;
    QFrame *const m_frame;            // Frame1
    ClickableLabel *const m_mailLink; // Label9
    ClickableLabel *const m_webLink;  // Label10
};

} // namespace relo
