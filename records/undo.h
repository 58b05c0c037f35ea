// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/error.h"
#include "records/record.h"
#include "records/store.h"
#include "runtime/programfiles.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace runtime {
struct HostPaths;
} // namespace runtime

namespace records {

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
        FolderLeft,  // a folder the install made holds other files now
        Failed,      // `error` says why
        ReadOnly,    // still what the install wrote, but the player made it read-only: left
        KeptChanged, // the kept file no longer holds what was replaced: both left as they are
    };
    Kind kind;
    QString file; // from the game folder on
    std::optional<Error> error;

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
    std::optional<InstallRecord> install; // the install undone
    QList<UndoStep> steps;
    std::optional<Error> error;
    // Installs into the folder cut short before they changed anything, whose records this
    // undo took away.
    QList<Interrupted> interrupted;
    // Where something was not undone and the game folder is in a folder of programs, that
    // folder: what only an administrator may write to.
    std::optional<runtime::GuardedFolder> guarded;
};

// Which install to undo: the newest of a game folder, named as in the main window, or the
// one of a number, as the list of installs shows it.
struct UndoTarget
{
    QString gameFolder;
    qint64 number = 0; // the install's, when above 0

    // A word of the command line: a game folder, or, where it is all digits and no such
    // folder exists, a number. Throws RecordsError (Ambiguous) when it is both.
    static UndoTarget read(const Store &store, const runtime::HostPaths &host, const QString &word);
};

// Undoes the newest recorded install into the game folder, or the install of the number
// when it is the newest of its folder: each file it replaced gets its earlier content back
// and each file it created goes, where the file still holds what the install wrote; a
// replaced file the player removed comes back. The files are put in place and flushed as an
// install does. The game folder is the one the install was made in, known by what it is:
// followed when renamed, never taken for another that now has its path. Every step is taken
// inside it from the folder before, found case-blind, never through a link but one the
// install went through. A record fully undone is removed with its kept files. One undo or
// install at a time works on a game folder: `waiting` is called when this one has to wait.
// Can be run again after being cut short at any point, and finishes the work.
UndoOutcome UndoInstall(const Store &store, const runtime::HostPaths &host,
                        const UndoTarget &target, const std::function<void()> &waiting = {});

// Undoes the recorded installs into the game folder one after another, newest first, each as
// UndoInstall does, until none is left or one is not fully undone. The outcomes come in that
// order: the first even when nothing was recorded, a NothingToUndo after the last undone
// install never.
QList<UndoOutcome> UndoAllInstalls(const Store &store, const runtime::HostPaths &host,
                                   const UndoTarget &target,
                                   const std::function<void()> &waiting = {});

// What the list of installs shows of a record.
struct ListedInstall
{
    InstallRecord record;
    qint64 space = 0; // the bytes its folder holds that nothing else shares
    // Where its game folder is now: at its path, elsewhere (`now`), or not found.
    enum Where
    {
        Here,
        Moved,
        Gone,
    };
    Where where = Here;
    QByteArray now;
};
struct ListedUnreadable
{
    Unreadable record;
    qint64 space = 0;
};
struct Listing
{
    QList<ListedInstall> installs; // newest first
    QList<ListedUnreadable> unreadable;
};

// The recorded installs, newest first, with the records that cannot be read: all of them,
// or those of one game folder. Throws RecordsError when the game folder is not there or the
// records cannot be read at all.
Listing RecordedInstalls(const Store &store, const runtime::HostPaths &host,
                         const std::optional<QString> &gameFolder = {});

// Gives up the record of install №`number` on purpose, undone or not, read or not, as
// Store::forget does. Throws RecordsError (NoSuchInstall when there is none).
Store::Forgotten ForgetInstall(const Store &store, qint64 number);

} // namespace records
