#pragma once

#include <QString>

class QWidget;

namespace relo {

// The panel's message boxes and the About window, behind one small interface so
// that tests can answer them without a modal loop.
class Prompt
{
public:
    virtual ~Prompt() = default;

    // "Port Aç": asks whether to connect over the chosen port; true for "Evet".
    virtual bool askConnect(QWidget *parent) = 0;
    // "Port Hata...": the chosen port is busy, missing or has failed.
    virtual void portError(QWidget *parent) = 0;
    // Shows the About window modally, with no owner window.
    virtual void showAbout() = 0;
};

// Texts of the two message boxes. The line breaks are a line feed followed by a
// carriage return, as the panel has always written them.
QString connectQuestionTitle();
QString connectQuestionText();
QString portErrorTitle();
QString portErrorText();

// `text` with every line break (LF CR, CR LF, LF or CR) turned into one line
// feed. A carriage return has no meaning inside a Qt label and would otherwise
// show up as a stray glyph or an empty line.
QString displayText(QString text);

// The real thing: QMessageBox with Turkish buttons and AboutWindow.
class MessageBoxPrompt : public Prompt
{
public:
    bool askConnect(QWidget *parent) override;
    void portError(QWidget *parent) override;
    void showAbout() override;
};

} // namespace relo
