// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/widgetmessagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace runtime {

int WidgetMessageBox::show(const QString &text, int style, const QString &title)
{
    const bool question = style & vbYesNo;
    QMessageBox box(style & vbCritical   ? QMessageBox::Critical
                    : style & vbQuestion ? QMessageBox::Question
                                         : QMessageBox::NoIcon,
                    title, text, question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    if (question)
        box.setDefaultButton(QMessageBox::No);
    const int pressed = box.exec();
    return !question ? vbOK : pressed == QMessageBox::Yes ? vbYes : vbNo;
}

} // namespace runtime
