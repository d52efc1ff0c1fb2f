#pragma once

#include <QDialog>

class QLabel;
class QFrame;

namespace relo {

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
};

} // namespace relo
