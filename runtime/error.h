// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <cerrno>
#include <exception>

// The host's errors are its C library's errno numbers. Windows' has none for these two, so
// its file system reports them under numbers of the program's own, beyond that library's.
#ifndef EDQUOT
#define EDQUOT 200
#endif
#ifndef ESTALE
#define ESTALE 201
#endif

namespace runtime {

Q_NAMESPACE

// What a runtime service was doing when it failed.
enum class Operation : quint8
{
    Resolve,         // finding the host name of a path
    ReadFolder,      // reading a folder's names
    Open,            // opening a file to read it
    Access,          // asking whether a file may be written
    CreateTemporary, // creating a copy's temporary file
    Lock,            // locking a temporary file
    Copy,            // filling a copy with the source's data
    SetMode,         // giving a copy the replaced file's permission bits
    Flush,           // putting data or names on the disk
    Rename,          // putting a copy in its destination's place
    MakeFolder,
    ReadText,    // reading a text file
    ParseText,   // reading a field of a text file
    ShowDialog,  // showing a window to the player
    ReadArchive, // reading an archive's list or a member's data
};
Q_ENUM_NS(Operation)

// Why it failed.
enum class ErrorKind : quint8
{
    System,           // the host said no: `code` holds its errno
    NotFound,         // no file or folder of that name
    ReadOnly,         // the player made the file read-only
    AmbiguousName,    // several entries of the folder are the name but for case
    NameTooLong,      // a name longer than the file system allows
    NulInPath,        // a NUL character
    DriveNotReady,    // a drive letter Wine does not have; `detail` is the letter
    WildcardInFolder, // a wildcard outside the last component
    NoFileName,       // a path with no file name at its end
    NoCurrentFolder,  // a relative path, and no current folder for it to start from
    CutShort,         // a record cut short by the end of the file
    NotAnInteger,     // `detail` is the field
    OutOfRange,       // a number outside the 16-bit range; `detail` is the field
    TooLarge,         // a file larger than the `detail` bytes allowed
    TooManyRecords,   // more records than the `detail` a table holds
    NameTaken,        // a name another file of the same work has but for case: `detail`
    NoDialog,         // no window system to show a dialog in
    NoRoot,           // a root files cannot be found from: a drive without its separator
                      // ("C:Games"), a share without its name, a device's namespace
    ReservedName,     // a name Windows keeps for a device ("CON"), or one with a ':' (a
                      // file's stream): `detail` is the name
    NotAnArchive,     // a file no archive reader knows
    Encrypted,        // an archive, or a member, that needs a password
    UnknownMethod,    // a member packed by a method this build cannot unpack: `detail`
    Damaged,          // an archive cut short or damaged; `detail` is what the reader said
    TooManyMembers,   // more members than the `detail` read at most
    TooMuchData,      // members that unpack to more than the `detail` bytes allowed, or to
                      // more than their header or their packed size can hold
};
Q_ENUM_NS(ErrorKind)

// Whether the kind is one of an archive that cannot be read, from NotAnArchive to TooMuchData.
inline bool isArchiveKind(ErrorKind kind)
{
    return kind >= ErrorKind::NotAnArchive && kind <= ErrorKind::TooMuchData;
}

// An error as data: what failed, where, and why. The texts the player reads are made from
// it by the layer that talks to the player.
struct Error
{
    ErrorKind kind = ErrorKind::System;
    Operation operation = Operation::Resolve;
    int code = 0;   // the errno, for ErrorKind::System
    QString path;   // what the operation worked on, "" when nothing in particular
    QString detail; // the letter, text or number the kind speaks of
    int line = 0;   // in a text file, from 1; 0 when none

    bool operator==(const Error &) const = default;
};

// The one exception the runtime services throw.
class RuntimeError : public std::exception
{
public:
    explicit RuntimeError(Error error) : m_error(std::move(error)) {}
    const Error &error() const noexcept { return m_error; }
    const char *what() const noexcept override { return "runtime::RuntimeError"; }

private:
    Error m_error;
};

[[noreturn]] inline void raise(ErrorKind kind, Operation operation, const QString &path = {},
                               const QString &detail = {})
{
    throw RuntimeError({kind, operation, 0, path, detail, 0});
}

inline Error systemError(int code, Operation operation, const QString &path = {})
{
    return {ErrorKind::System, operation, code, path, {}, 0};
}

[[noreturn]] inline void raiseSystem(int code, Operation operation, const QString &path = {})
{
    throw RuntimeError(systemError(code, operation, path));
}

} // namespace runtime
