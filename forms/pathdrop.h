// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/hostpath.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QLineEdit;

// Files and folders dragged from a file manager onto a path field.

// The path a drop of `urls` writes into a path field: the first URL's path, in the
// program's name encoding (runtime::decodeName), so that a name that is no UTF-8 still
// finds its file, written as the player writes paths in `style`. In POSIX' style only a
// file of this machine has a path; in Windows', file:///C:/x is C:\x and a file of another
// machine, file://server/share/x, is on its share, \\server\share\x. nullopt when there is
// no URL or the first one has no path.
std::optional<QString> droppedPath(const QList<QUrl> &urls, runtime::PathStyle style);

// Makes each field take a dropped file or folder: its path replaces the field's text, unless
// `taken` takes the path. A drop of URLs none of which has a path leaves the field as it
// was; a drop of text without URLs is inserted as the field always does.
void acceptPathDrops(const QList<QLineEdit *> &fields, runtime::PathStyle style,
                     std::function<bool(const QString &path)> taken = {});
