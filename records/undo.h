// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/records.h"
#include "runtime/error.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace runtime {
class FileSystem;
struct HostPaths;
} // namespace runtime

// What an undo did with one file or folder of the install.
struct UndoStep
{
    enum Kind
    {
        Restored,    // the replaced file is back
        Removed,     // the file the install created is gone
        AlreadyBack, // it was as before the install already
        Changed,     // changed since the install: left as it is
        NotKept,     // the replaced file was not kept: `error` says why
        FolderRemoved,
        FolderLeft, // a folder the install made holds other files now
        Failed,     // `error` says why
        ReadOnly,   // still what the install wrote, but the player made it read-only: left
    };
    Kind kind;
    QString file; // from the game folder on
    std::optional<runtime::Error> error;

    bool operator==(const UndoStep &) const = default;
};

struct UndoOutcome
{
    enum Status
    {
        Done = 0,          // everything is as before the install
        FilesLeft = 1,     // some files could not be put back; the steps say which
        NothingToUndo = 2, // no install of that game folder is recorded
        Failed = 3,        // `error` says why; the steps say what was done before it
    };
    Status status = Failed;
    std::optional<records::InstallRecord> install; // the install undone
    QList<UndoStep> steps;
    std::optional<runtime::Error> error;
};

// Undoes the newest recorded install into the game folder, named as in the main window, or
// the install of that number (as installLine shows it) when no such folder exists: each
// file it replaced gets its earlier content back and each file it created goes, where the
// file still holds what the install wrote; a replaced file the player removed comes back.
// The files are put in place and flushed as an install does. Every step is taken inside the
// game folder from the folder before, found case-blind, never through a link but one the
// install went through. A record fully undone is removed with its kept files. One undo or
// install at a time works on a game folder: `waiting` is called when this one has to wait.
// Can be run again after being cut short, and finishes the work.
UndoOutcome UndoInstall(const QString &gameFolder, runtime::FileSystem &files,
                        const runtime::HostPaths &host, const std::function<void()> &waiting = {});

// The recorded installs, newest first, with the records that cannot be read: all of them,
// or those of one game folder. Throws RuntimeError when the game folder is not there or the
// records cannot be read at all.
records::Records RecordedInstalls(runtime::FileSystem &files, const runtime::HostPaths &host,
                                  const std::optional<QString> &gameFolder = {});
