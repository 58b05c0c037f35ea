// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/error.h"
#include "runtime/messagebox.h"
#include "texts/messages.h"

#include <QRect>
#include <exception>

class QFont;
class QWidget;

// Window measures are in twips, 1440 to the inch: 15 twips make one pixel at 96 dpi.
QRect twipsToPixels(const QWidget *window, int left, int top, int width, int height);

// Names a control, gives it its place in twips and its accessible name.
template <typename W>
W *placeControl(W *control, const QString &name, const QString &accessibleName, int left, int top,
                int width, int height)
{
    control->setObjectName(name);
    control->setAccessibleName(accessibleName);
    control->setGeometry(twipsToPixels(control->window(), left, top, width, height));
    return control;
}

// True when the control's caption shows whole inside it in its font.
bool captionFits(const QWidget *control);

// The font the windows are drawn in: the desktop's general one, unless the family it comes
// to cannot write Russian (under Wine, "MS Shell Dlg" comes to a mathematical font with Latin
// letters only); then the first of the families named that can.
QFont windowFont(const QFont &general, const QStringList &families);

// Gives the window its font at the largest size of 8 points or less at which every
// caption in it fits, and returns that font.
QFont fitCaptionFont(QWidget *window);

// Runs a handler. An error it raises is shown in a critical box titled "Ошибка" instead of
// ending the program, and the window stays as the handler left it. Returns false then. A
// fault of the program itself is shown as one.
template <typename Handler> bool reportErrors(Handler &&handler)
{
    QString message;
    try {
        handler();
        return true;
    } catch (const runtime::RuntimeError &error) {
        message = messages::describe(error.error());
    } catch (const std::exception &fault) {
        message = messages::ProgramFault.arg(QString::fromLocal8Bit(fault.what()));
    }
    runtime::MsgBox(message, runtime::vbCritical, messages::ErrorTitle);
    return false;
}
