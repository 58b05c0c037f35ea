// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/widgetfiledialog.h"

#include <QApplication>
#include <QFileDialog>

using namespace Qt::StringLiterals;

namespace runtime {

QString qtFilter(const QString &filter)
{
    // Windows' dialog separates a filter's patterns by ";" (IFileDialog::SetFileTypes,
    // COMDLG_FILTERSPEC), Qt's own by spaces.
    QStringList filters = filter.split(u";;"_s);
    for (QString &one : filters) {
        const qsizetype open = one.lastIndexOf(u'(');
        if (open >= 0 && one.endsWith(u')'))
            one = one.left(open) + one.mid(open).replace(u';', u' ');
    }
    return filters.join(u";;"_s);
}

std::optional<QString> WidgetFileDialog::openFile(const QString &filter)
{
    const bool system = systemFileDialogSuits();
    const QFileDialog::Options options =
        system ? QFileDialog::Options() : QFileDialog::DontUseNativeDialog;
    const QString file =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), QString(),
                                     system ? filter : qtFilter(filter), nullptr, options);
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

} // namespace runtime
