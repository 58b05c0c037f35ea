// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/undo.h"

// Undoes the recorded installs into the game folder one after another, newest first, each as
// UndoInstall does, until none is left or one is not fully undone. The outcomes come in that
// order: the first even when nothing was recorded, a NothingToUndo after the last undone
// install never. Whatever UndoInstall throws comes through, and what was undone before stays
// undone.
QList<UndoOutcome> UndoAllInstalls(const QString &gameFolder, runtime::FileSystem &files,
                                   const runtime::HostPaths &host,
                                   const std::function<void()> &waiting = {});
