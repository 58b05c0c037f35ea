// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <QTextStream>

namespace runtime {
class FileSystem;
struct HostPaths;
} // namespace runtime

// The program's options that need no display: "--undo GAME_FOLDER" and
// "--installs [GAME_FOLDER]". Returns whether `arguments` (those after the program's name)
// are for them: any long option but "--undo-window", which opens a window.
bool isUndoCommand(const QStringList &arguments);

// Runs it, printing what it does to `out` and why it fails to `err`. The exit status: 0 when
// everything was put back (or listed), 1 when some files were left because they changed
// since, 2 when there is nothing to undo, 3 on any other error.
int runUndoCommand(const QStringList &arguments, runtime::FileSystem &files,
                   const runtime::HostPaths &host, QTextStream &out, QTextStream &err);
