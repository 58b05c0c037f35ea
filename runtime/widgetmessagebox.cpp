// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/widgetmessagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace runtime {

int WidgetMessageBox::show(const QString &text, int style, const QString &title)
{
    QMessageBox box(style == vbCritical ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
    return vbOK;
}

} // namespace runtime
