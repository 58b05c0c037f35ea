// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/record.h"
#include "runtime/filesystem.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace runtime {
struct HostPaths;
}

namespace records {

// A game folder, open.
struct GameFolder
{
    QByteArray host; // the host path it was found by
    runtime::FileStatus status;
    runtime::Fd fd;

    FolderId id() const { return FolderId::of(status); }
};

// The game folder as the player names it in the main window: found case-blind, links followed
// as the install followed them. nullopt when there is none; throws runtime::RuntimeError
// when the path itself is wrong.
std::optional<GameFolder> findTyped(runtime::FileSystem &files, const runtime::HostPaths &host,
                                    const QString &typed);

// The folder an install was made in, by what it was, not by its path: at its recorded path
// when that is still the same folder, else beside that path under another name (renamed).
// nullopt when it is found in neither place: removed, renamed farther, or on a drive that is
// not there. A record that does not know what its folder was (version 1) goes by the path.
std::optional<GameFolder> findRecorded(runtime::FileSystem &files, const QByteArray &gameHost,
                                       const FolderId &game);

// Whether a record names that folder: by what the folder was where it knows that, else by
// its path.
bool isOf(runtime::FileSystem &files, const QByteArray &gameHost, const FolderId &recorded,
          const GameFolder &game);

} // namespace records
