// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/error.h"
#include "runtime/filedialog.h"
#include "testsupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QWidget>

// Chooses an item of a combo box as a user does: opens its list and clicks the item.
inline void chooseItem(QComboBox *combo, int row)
{
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QVERIFY(view->isVisible());
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    QVERIFY(!rect.isEmpty());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QVERIFY(!view->isVisible());
}

// Types text into a widget key by key, any letters included.
inline void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

// A double click as the window system delivers it: a click, then the double click and its
// release.
inline void doubleClick(QWidget *widget, QPoint pos)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

// The row of a list item by its text, -1 when there is none.
inline int rowOf(const QListWidget *list, const QString &text)
{
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->text() == text)
            return row;
    }
    return -1;
}

// The texts of a list's items, top down.
inline QStringList itemTexts(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

// The object names of the widgets that take focus by Tab, in the order Tab visits them,
// starting at `first`.
inline QStringList tabOrder(QWidget *first)
{
    QStringList names;
    QWidget *w = first;
    do {
        if (w->window() == first->window() && (w->focusPolicy() & Qt::TabFocus))
            names.append(w->objectName());
        w = w->nextInFocusChain();
    } while (w != first);
    return names;
}

// Answers file dialogs as preset, and records the filters they were asked with.
class PresetFileDialog : public runtime::FileDialogService
{
public:
    PresetFileDialog() { m_previous = runtime::setFileDialogService(this); }
    ~PresetFileDialog() override { runtime::setFileDialogService(m_previous); }

    std::optional<QString> openFile(const QString &filter) override
    {
        filters.append(filter);
        if (fail)
            runtime::raise(runtime::ErrorKind::NoDialog, runtime::Operation::ShowDialog);
        return answer;
    }

    std::optional<QString> answer; // nullopt: the user cancels
    bool fail = false;
    QStringList filters;

private:
    runtime::FileDialogService *m_previous;
};
