// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/widgetfiledialog.h"

#include <QApplication>
#include <QFileDialog>

namespace runtime {

std::optional<QString> WidgetFileDialog::openFile(const QString &filter)
{
    const QString file =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), QString(), filter,
                                     nullptr, QFileDialog::DontUseNativeDialog);
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

} // namespace runtime
