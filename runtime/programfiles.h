// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/hostpath.h"

#include <QByteArray>
#include <optional>

namespace runtime {

// A game folder inside a folder of installed programs (ProgramFilesFolders), where a program
// that is not run as administrator may write nothing.
struct GuardedFolder
{
    QByteArray root; // the folder of programs it is in
    // Where Windows put the files that older programs wrote into it without being
    // administrators, and where the game may read them from still; "" when there is none.
    QByteArray virtualStore;

    bool operator==(const GuardedFolder &) const = default;
};

// The folder of programs of `folders` that the host path `folder` is in, whole names
// compared case-blind, and where its files would have gone to in the VirtualStore: the
// folder's path less its drive, below it. nullopt when it is in none.
std::optional<GuardedFolder> underProgramFiles(const QByteArray &folder,
                                               const ProgramFilesFolders &folders);

// The same, with the VirtualStore folder kept only where there is one: asked of `files`.
std::optional<GuardedFolder> guardedFolder(FileSystem &files, const ProgramFilesFolders &folders,
                                           const QByteArray &folder);

} // namespace runtime
