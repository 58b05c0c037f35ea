// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/error.h"
#include "runtime/filesystem.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// The record of one install, as its folder of the records holds it (records/store.h): what
// the install changed in the game folder and what each file it replaced held, so that it can
// be undone.
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
    TooLarge,    // larger than the `detail` bytes a record may have
};

// The version of the records this program writes; it reads those up to it. Version 2 added
// the digests of the files written, the game folder's identity, the folders reached through
// a link, and whether the record was written whole. The archives an install read and the
// member each file came from are fields of version 2 that a record may lack: a program that
// does not know them reads and undoes the install as before, which a new version would
// forbid it.
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
    QByteArray digest; // of the data (runtime::hashName); "" where none was recorded
    bool link = false; // a symbolic link, itself

    static Identity of(const runtime::FileStatus &status, const QByteArray &digest = {});
    // Whether a file of that status may be this one: the same size, and where no digest was
    // recorded, the same modification time to the nanosecond. The digest, where there is
    // one, tells the rest: a volume may change the time of a file nobody changed (FAT and
    // exFAT do), and a player may put back the time of one he changed. Not the inode, which
    // such a volume numbers anew at each mount, and which a file put back as a copy changes.
    bool mayBe(const runtime::FileStatus &status) const;
    bool operator==(const Identity &) const = default;
};

// A folder known by its device and inode (on Windows, its volume and file index).
struct FolderId
{
    quint64 device = 0;
    quint64 inode = 0;

    static FolderId of(const runtime::FileStatus &status) { return {status.device, status.inode}; }
    bool known() const { return inode != 0; }
    bool operator==(const FolderId &) const = default;
};

// An archive an install read the car from.
struct Archive
{
    QString shown;     // its path as the player named it
    QByteArray host;   // the host path it named
    Identity identity; // as the install read it, with the digest of the whole file
    bool operator==(const Archive &) const = default;
};

// The member of an archive a file was copied from.
struct FromArchive
{
    int archive = 0; // in the record's `archives`
    QString name;    // inside the archive, decoded, with its folders
    bool operator==(const FromArchive &) const = default;
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
    QString shown;                  // named from the game folder on, as the player knows it
    QByteArray target;              // its host path
    Identity written;               // the file the install wrote
    Identity previous;              // Replaced: the file it replaced, with the digest of its data
    std::optional<Identity> source; // the file it was copied from, without a digest
    std::optional<FromArchive> member; // or the member of an archive; then no `source`
    QString kept; // Replaced: the kept file's name in the record's folder; "" when not kept
    std::optional<Error> notKept; // why the replaced file could not be kept
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
    FolderId game;       // what it was; unknown in records of version 1
    QString car;         // the name in the list
    QString carModel;    // the base name of its model files
    QList<int> colours;  // 1 to 4
    // An undo ran and left the files that had changed since: they are all `changes` holds.
    bool undone = false;
    // False for an install that replaced files in the game without its record: what it did
    // is not known.
    bool complete = true;
    std::optional<Error> notWritten; // why, where it could be said
    QList<Archive> archives;         // those the car was read from, in the order read
    QList<Change> changes;

    // The files the install wrote, as it recorded them.
    int files() const;
    // The install's number: installs are numbered in the order they ran, from 1.
    qint64 number() const;
    bool operator==(const InstallRecord &) const = default;
};

QByteArray toJson(const InstallRecord &record);
// Throws RecordsError: Damaged, or Newer when a later version wrote it.
InstallRecord fromJson(const QByteArray &json, const QByteArray &folder);

// The number of a record's folder, in the order the installs ran; 0 for none.
qint64 sequence(const QByteArray &folder);

} // namespace records
