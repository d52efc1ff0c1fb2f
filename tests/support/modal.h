#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>

// Hands the next modal window to `inside` from the event loop as soon as it shows,
// then closes it if `inside` left it open.
inline void whenModal(const std::function<void(QWidget *)> &inside)
{
    QTimer::singleShot(10, [inside] {
        const QPointer<QWidget> modal = QApplication::activeModalWidget();
        if (!modal)
            return whenModal(inside);
        inside(modal);
        if (modal && modal->isVisible())
            modal->close();
    });
}

// A message box as the user sees it: its title, "?" before it when the box asks;
// its text; its buttons, "*" before the default one.
inline QStringList boxContents(QWidget *window)
{
    const auto *box = qobject_cast<QMessageBox *>(window);
    if (!box)
        return {};
    QStringList seen{(box->icon() == QMessageBox::Question ? "?" : "") + box->windowTitle(),
                     box->text()};
    for (QAbstractButton *button : box->buttons())
        seen << (button == box->defaultButton() ? "*" : "") + button->text();
    return seen;
}
