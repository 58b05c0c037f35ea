// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/widgetfiledialog.h"

#include <QApplication>
#include <QFileDialog>

namespace runtime {

std::optional<QString> WidgetFileDialog::openFile(const QString &filter)
{
    const QFileDialog::Options options =
        systemFileDialogSuits() ? QFileDialog::Options() : QFileDialog::DontUseNativeDialog;
    const QString file = QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(),
                                                      QString(), filter, nullptr, options);
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

} // namespace runtime
