// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/error.h"
#include "runtime/filesession.h"
#include "runtime/filesystem.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The records of the installs, kept in the program's data folder so that each install can be
// undone: one folder per install under "installs", holding "record.json" and the files the
// install replaced ("kept-<n>"). A kept file is a second name of the replaced file where the
// two folders share a file system, so it costs no space; elsewhere a clone or a copy.
namespace records {

// What is wrong with a damaged record: the `code` of its error, whose `detail` names the
// field or the value.
enum class Damage
{
    NotJson = 1, // `detail`: the parser's offset
    NotAnObject, // the whole, or the change numbered `detail`
    NoFormat,
    MissingField,
    NotText,
    NotAPath,
    NotANumber,
    NotAFlag,
    NotAList,
    UnknownValue, // of the field `detail`
    BadDate,
    NotFromRoot, // the game folder
    OutsideGame, // the file `detail` lies outside the game folder
    BadKeptName, // `detail`
    NotAFile,    // the record, or a kept file: a link, a folder, a pipe
    Foreign,     // another user owns it or may write to it
};

// The version of the records this program writes; it reads those up to it. Version 2 added
// the digests of the files written, the game folder's identity, the folders reached through
// a link, and whether the record was written whole.
inline constexpr int Format = 2;

// Enough of a file to tell later whether it is still the one that was there.
struct Identity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since 1970
    quint32 mode = 0;    // the permission bits
    quint32 owner = 0;
    quint32 group = 0;
    QByteArray digest; // of the data (runtime::hashName); "" in records of version 1
    bool link = false; // a symbolic link, itself

    static Identity of(const runtime::FileStatus &status, const QByteArray &digest = {});
    // Whether a file of that status may be this one: the same size, and where no digest was
    // recorded, the same modification time to the nanosecond. The digest, where there is
    // one, tells the rest (sameData): a volume may change the time of a file nobody changed
    // (FAT and exFAT do), and a player may put back the time of one he changed. Not the
    // inode, which such a volume numbers anew at each mount, and which a file put back as a
    // copy changes.
    bool mayBe(const runtime::FileStatus &status) const;
    bool operator==(const Identity &) const = default;
};

// A folder known by its device and inode.
struct FolderId
{
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FolderId &) const = default;
};

// One change an install made in the game folder.
struct Change
{
    enum Action
    {
        Replaced,
        Created,
        MadeFolder,
    };
    Action action = Created;
    QString shown;     // named from the game folder on, as the player knows it
    QByteArray target; // its host path
    Identity written;  // the file the install wrote
    Identity previous; // Replaced: the file it replaced
    QString kept;      // Replaced: the kept file's name in the record's folder; "" when not kept
    std::optional<runtime::Error> notKept; // why the replaced file could not be kept
    // The folder it was written in, when the install reached it through a link inside the
    // game folder: an undo follows links only to it.
    std::optional<FolderId> linkedFolder;

    bool operator==(const Change &) const = default;
};

struct InstallRecord
{
    QByteArray folder;   // the record's own folder; not stored in it
    QDateTime when;      // UTC
    QString gameFolder;  // as the player typed it
    QByteArray gameHost; // the host path it named
    FolderId game;       // what it was; {} in records of version 1
    QString car;         // the name in the list
    QString carModel;    // the base name of its model files
    QList<int> colours;  // 1 to 4
    // An undo ran and left the files that had changed since: they are all `changes` holds.
    bool undone = false;
    // Written whole before the install changed the game folder. A record that is not was cut
    // short (a full disk, a killed install): what the install did is not known.
    bool complete = true;
    std::optional<runtime::Error> notWritten; // why, where it could be said
    QList<Change> changes;

    // The files the install wrote, as it recorded them.
    int files() const;
    bool operator==(const InstallRecord &) const = default;
};

QByteArray toJson(const InstallRecord &record);
// Throws RuntimeError: DamagedRecord, or NewerRecord when a later version wrote it.
InstallRecord fromJson(const QByteArray &json, const QByteArray &folder);

QByteArray installsFolder(const QByteArray &dataFolder);
// The number of a record's folder, in the order the installs ran; 0 for none.
qint64 sequence(const QByteArray &folder);

// A record that cannot be read, and why.
struct Unreadable
{
    QByteArray folder;
    runtime::Error error;
    QByteArray gameHost; // the game folder it names, where that much could be read
};

struct Records
{
    QList<InstallRecord> good; // newest first
    QList<Unreadable> damaged;
};

// The records under the data folder, each read without following a link, and only from
// folders and files of the user `user` that no one else may write to: a record planted by
// another is damaged. A folder without a record is an install that never got as far as
// writing one. Throws RuntimeError when the installs' folder cannot be read or is not the
// user's own.
Records readAll(runtime::FileSystem &files, const QByteArray &dataFolder, quint32 user);
// Writes the record into its folder, whole or not at all, and flushes it before it takes
// the place of the one before.
int write(runtime::FileSystem &files, const InstallRecord &record);
// Removes a record's folder with everything in it.
int remove(runtime::FileSystem &files, const QByteArray &folder);
// Removes the folders of records that were never written or were being removed when their
// process died, and that no running process holds.
void removeAbandoned(runtime::FileSystem &files, const QByteArray &dataFolder);

// Holds a record's folder while a process works in it, so that no other takes it for
// abandoned. Returns 0 or the errno.
int holdFolder(runtime::FileSystem &files, const QByteArray &folder, runtime::Fd &held);

// Holds the lock of one game folder in the data folder while installs or undos write to it;
// released when it goes. The lock's file is removed by remove() while held, when nothing is
// recorded for the folder any more.
class FolderLock
{
public:
    FolderLock() = default;
    // Takes the lock of the game folder of that status, calling `waiting` first when another
    // holds it. Returns 0 or the errno.
    int take(runtime::FileSystem &files, const QByteArray &dataFolder,
             const runtime::FileStatus &game, const std::function<void()> &waiting = {});
    void remove(runtime::FileSystem &files);

private:
    QByteArray m_path;
    runtime::Fd m_fd;
};

// Makes a folder and those above it that are missing; those of the records (under the data
// folder) are the user's alone.
int makeFolders(runtime::FileSystem &files, const QByteArray &path);

// Records an install as it goes: what its copies replace is kept, and the record written
// before they are put in place. A file that cannot be kept is recorded as such, with the
// reason, and the install goes on; so it does when no record can be written at all.
class InstallJournal : public runtime::ChangeJournal
{
public:
    InstallJournal(runtime::FileSystem &files, const QByteArray &dataFolder, InstallRecord header);
    ~InstallJournal() override;

    void replacing(const QString &destination, const QByteArray &target,
                   const std::optional<runtime::FileStatus> &replaced,
                   const runtime::FileStatus &made) override;
    void madeFolder(const QString &destination, const QByteArray &path) override;
    QByteArray write() override;
    void flushEach() override;
    void digests(const QHash<QByteArray, QByteArray> &ofTargets) override;

    // The install is over: a record of an install that wrote nothing goes.
    void finish(bool wroteAny);

private:
    QString shown(const QString &destination) const;

    std::optional<FolderId> linkedFolder(const QByteArray &target);

    runtime::FileSystem &m_files;
    InstallRecord m_record;
    runtime::Fd m_held; // the record's folder, while the install runs
    QHash<QByteArray, std::optional<FolderId>> m_linkedFolders; // by folder
    bool m_writable = false;
    std::optional<runtime::Error> m_unwritable; // why no record can be written
    QList<QByteArray> m_copies;                 // kept files that are copies, to flush
};

} // namespace records
