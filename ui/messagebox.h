#pragma once

#include <QMessageBox>

namespace relo {

// Shows a modal message box whose one button is "Tamam"; Return, Escape and the
// close button all answer it. `text` is shown as plain text.
void showMessage(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                 const QString &text);

} // namespace relo
