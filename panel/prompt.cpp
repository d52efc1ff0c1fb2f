#include "panel/prompt.h"

#include "ui/aboutwindow.h"
#include "ui/messagebox.h"

#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace relo {

QString connectQuestionTitle()
{
    return QStringLiteral("Port Aç");
}

QString connectQuestionText()
{
    return QStringLiteral("Seçilen Port Üzerinden\n\rBağlanmak İstiyormusunuz");
}

QString portErrorTitle()
{
    return QStringLiteral("Port Hata...");
}

QString portErrorText()
{
    return QStringLiteral("Seçilen Port Meşgul veya \n\r Bağlantı Kurulmuyor...");
}

QString displayText(QString text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\n\r|\r\n|\r"));
    return text.replace(lineBreak, QStringLiteral("\n"));
}

bool MessageBoxPrompt::askConnect(QWidget *parent)
{
    QMessageBox box(QMessageBox::Question, connectQuestionTitle(),
                    displayText(connectQuestionText()), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton *const yes = box.addButton(QStringLiteral("Evet"), QMessageBox::YesRole);
    QPushButton *const no = box.addButton(QStringLiteral("Hayır"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    // Escape and the close button answer "Hayır".
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void MessageBoxPrompt::portError(QWidget *parent)
{
    showMessage(parent, QMessageBox::Question, portErrorTitle(), displayText(portErrorText()));
}

void MessageBoxPrompt::showAbout()
{
    AboutWindow::showModal(false);
}

} // namespace relo
