// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

class QLineEdit;

// Files and folders dragged from a file manager onto a path field.

// The path a drop of `urls` writes into a path field: the first URL's local path, in the
// program's name encoding (runtime::decodeName), so that a name that is no UTF-8 still
// finds its file. nullopt when there is no URL or the first one is not on this machine.
std::optional<QString> droppedPath(const QList<QUrl> &urls);

// Makes each field take a dropped file or folder: its path replaces the field's text. A
// drop of URLs none of which is local leaves the field as it was; a drop of text without
// URLs is inserted as the field always does.
void acceptPathDrops(const QList<QLineEdit *> &fields);
