// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/record.h"
#include "runtime/filesystem.h"

#include <QByteArray>
#include <QList>
#include <functional>
#include <optional>

// The records of the installs, kept in the program's data folder so that each install can be
// undone: one folder per install under "installs", numbered in the order the installs ran.
// An install's folder holds "header.json" (when it ran, the game folder, the car) from its
// start, the files it replaced ("kept-<n>") as it goes, and "record.json", written whole once
// before the first file of the game is replaced. A folder without "record.json" is of an
// install that changed nothing, unless it is marked (by renaming its header
// "unrecorded-<errno>.json") as one that went on without its record. A kept file is a second
// name of the replaced file where the two folders share a file system, so it costs no space;
// elsewhere a clone or a copy.
namespace records {

inline const QByteArray RecordName = "record.json";

// A record that cannot be read, and why.
struct Unreadable
{
    QByteArray folder;
    Error error;
    QByteArray gameHost; // the game folder it names, where that much could be read
    qint64 number() const { return sequence(folder); }
};

struct Records
{
    QList<InstallRecord> good; // newest first
    QList<Unreadable> damaged;
};

// An install cut short before it replaced anything in the game.
struct Interrupted
{
    QByteArray folder;
    std::optional<InstallRecord> header; // where it could be read
};

// The records of one user under a data folder.
class Store
{
public:
    Store(runtime::FileSystem &files, const QByteArray &dataFolder, quint32 user)
        : m_files(files), m_data(dataFolder), m_user(user)
    {}

    runtime::FileSystem &files() const { return m_files; }
    const QByteArray &dataFolder() const { return m_data; }
    QByteArray installsFolder() const { return m_data + "/installs"; }
    // Where what a record kept goes when the player gives it up: his to see and decide on.
    QByteArray forgottenFolder() const { return m_data + "/forgotten"; }
    quint32 user() const { return m_user; }

    // The records, each read without following a link, and only from folders and files of
    // the user that no one else may write to: a record planted by another is damaged, and so
    // is a folder of his that cannot be opened. Throws RecordsError when the installs' folder
    // cannot be read or is not the user's own.
    Records readAll() const;
    // The folder of the install numbered `number`, read or not; "" for none.
    QByteArray folderOf(qint64 number) const;
    // The newest record of an install into the game folder `game`, but the one in `except`:
    // looked for among the few newest records, by their headers where they have one.
    std::optional<InstallRecord> newestOf(const FolderId &game, const QByteArray &except) const;

    // Begins the record of an install: a folder numbered after every other (taken under the
    // records' own lock, so that two installs never share a number), holding the header,
    // and held by `held` while the install runs. Returns 0 or the errno.
    int begin(InstallRecord &header, runtime::Fd &held) const;
    // Writes the record whole, flushes it, and renames it into place, which marks it
    // complete; a write that fails for a moment's reason is tried again for about 2 s.
    // Returns 0 or the errno.
    int write(const InstallRecord &record) const;
    // Marks the record of an install that goes on without it: a rename of its header, or of
    // its record where one was written for part of it, which needs no free space. Returns 0
    // or the errno.
    int markUnrecorded(const QByteArray &folder, int why) const;
    // Removes a record's folder with everything in it, the record last; through `held`, the
    // folder already open, where given, which is closed before the folder goes.
    int remove(const QByteArray &folder, runtime::Fd *held = nullptr) const;
    // Removes the folders of installs cut short before they changed anything, that no
    // running process holds, and returns them.
    QList<Interrupted> removeInterrupted() const;
    // Gives up a record on purpose: its folder, with every file it kept, goes to the
    // forgotten folder, the kept files named after the game files they were. Nothing is
    // deleted. Waits while a process works in it. Throws RecordsError.
    struct Forgotten
    {
        QByteArray folder;                      // where it went
        std::optional<InstallRecord> record;    // where it could be read
        QList<QPair<QString, QByteArray>> kept; // each game file, and the name it has there
    };
    Forgotten forget(const QByteArray &folder) const;
    // Writes a note for the player into a forgotten folder. Returns 0 or the errno.
    int writeNote(const QByteArray &folder, const QByteArray &name, const QByteArray &text) const;
    // The bytes a record's folder holds on the disk that nothing else shares.
    qint64 space(const QByteArray &folder) const;

private:
    runtime::FileSystem &m_files;
    QByteArray m_data;
    quint32 m_user;
};

// Holds a record's folder while a process works in it, so that no other takes it for
// abandoned. Returns 0 or the errno.
int holdFolder(runtime::FileSystem &files, const QByteArray &folder, runtime::Fd &held);

// Makes a folder and those above it that are missing; those of the records (under the data
// folder) are the user's alone.
int makeFolders(runtime::FileSystem &files, const QByteArray &path);

// Runs a write again while it fails for a moment's reason (an antivirus or an indexer that
// holds a file it has just seen, an interrupted call), for up to about 2 s.
int retried(runtime::FileSystem &files, const std::function<int()> &write);

} // namespace records
