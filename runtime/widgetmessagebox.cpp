// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/widgetmessagebox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QInputDialog>
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

std::optional<int> WidgetMessageBox::choose(const QString &text, const QStringList &items,
                                            const QString &title)
{
    QInputDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(title);
    dialog.setLabelText(text);
    dialog.setComboBoxItems(items);
    dialog.setOption(QInputDialog::UseListViewForComboBoxItems);
    if (!items.isEmpty())
        dialog.setTextValue(items.first());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    // Items may repeat a text; the list's current row tells which was chosen.
    const auto *list = dialog.findChild<QAbstractItemView *>();
    const int row = list ? list->currentIndex().row() : int(items.indexOf(dialog.textValue()));
    if (row < 0 || row >= items.size())
        return std::nullopt;
    return row;
}

} // namespace runtime
