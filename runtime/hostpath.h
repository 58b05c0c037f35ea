// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/filesystem.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

// Maps the program's paths (backslash- or slash-separated, case-blind, optionally with a
// drive letter) onto the host file system, where names are case-sensitive bytes.
namespace runtime {

// Host file names are bytes. Valid UTF-8 decodes as text; every other byte b becomes the
// lone surrogate U+DC00+b, so that any name survives the round trip through QString.
QString decodeName(QByteArrayView bytes);
QByteArray encodeName(QStringView name);

// The key under which two names are equal when case is ignored.
inline QString caseKey(const QString &name)
{
    return name.toCaseFolded();
}

class FileSystem;

// The user the process runs as.
quint32 processUser();

// How the player writes paths. POSIX: "/" is the root, "//" too, and a name may hold any
// character but '/'. Windows: a path may start from a share (\\server\share), or be written
// in the verbatim form (\\?\C:\..., \\?\UNC\server\share); the names of devices and
// names with ':' are no file names; paths are shown with backslashes.
enum class PathStyle : quint8
{
    Posix,
    Windows,
};

// The host's own style.
PathStyle hostPathStyle();

// The folders Windows keeps for installed programs, which only an administrator may write
// to, and the user's folder where Windows put what older programs wrote there without
// being one, as host paths; none on a host without them.
struct ProgramFilesFolders
{
    QByteArrayList roots;    // %ProgramFiles% and %ProgramFiles(x86)%
    QByteArray virtualStore; // %LOCALAPPDATA%\VirtualStore; "" for none
};
ProgramFilesFolders programFilesFolders();

// The host's state that path resolution depends on, read once when the program starts.
struct HostPaths
{
    QByteArray winePrefix;        // the folder of Wine's drives: $WINEPREFIX, else ~/.wine;
                                  // "" where the host has drive letters of its own
    QByteArray currentFolder;     // the process's current folder; "" when it is gone
    QByteArray dataFolder;        // the program's records, ~/.local/share/quillmere; "" for none
    quint32 user = processUser(); // whose records those are
    PathStyle style = hostPathStyle(); // how the player writes paths here
    ProgramFilesFolders programFiles = programFilesFolders();

    static HostPaths ofProcess();
};

// The host folder of a drive letter's root (lower case), or "" when the drive is not
// ready: under Wine, the folder its dosdevices link leads to.
QByteArray driveRoot(char letter, const HostPaths &host);

// Whether a host path starts from a root rather than from the current folder: "/" on a
// POSIX host, a drive ("C:/") or a share ("//server/share") on Windows.
bool isAbsoluteHost(QByteArrayView path);

// Whether a name is longer than the host's file systems allow.
bool isNameTooLong(const QString &name);

// Whether Windows keeps a name for a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9,
// with any extension and in any case) or reads it as a file's stream (a ':').
bool isReservedName(QStringView name);

// A path as the player reads it in a field or a list: with backslashes in Windows' style.
QString shownPath(const QString &path, PathStyle style);

// A program path split into the host folder it starts from and its components.
struct SplitPath
{
    QByteArray root;        // "/" , the current folder, a drive's folder, or in Windows' style
                            // a share's, "//server/share/"
    QStringList components; // never empty strings
    bool trailingSeparator = false;
};

// Throws on a NUL character, on a drive letter whose drive is not ready, on a relative
// path when there is no current folder, on a drive without its separator ("C:Games": the
// drive's current folder, which Wine does not keep and a player rarely means), and in
// Windows' style on a share without its name, on a device's path (\\.\...) and on a
// name that Windows keeps (isReservedName).
SplitPath splitPath(const QString &path, const HostPaths &host);

// Joins a host folder and one host name.
QByteArray joinHost(const QByteArray &folder, const QByteArray &name);

// Sorts names without regard to case; names equal but for case keep a fixed order.
void sortCaseBlind(QStringList &names);

// The folders that one run of operations (an install) reads, each read once and answered
// from memory afterwards: for folders that only this run changes. Whoever creates an entry
// during the run tells the index, so that it stays right. A folder's names are read in
// bulk into one buffer and keyed by their folded bytes, without a string per name.
class FolderIndex
{
public:
    // Folders are read through `files`.
    explicit FolderIndex(FileSystem &files);
    ~FolderIndex();
    FolderIndex(const FolderIndex &) = delete;
    FolderIndex &operator=(const FolderIndex &) = delete;

    FileSystem &files() const { return m_files; }

    using Entry = FolderEntry; // its name lives as long as the index

    // The folder's entries but "." and "..", or nullptr when there is no such folder.
    // Throws when it is there but cannot be read (and so does lookup).
    const std::vector<Entry> *entries(const QByteArray &folder);

    // The entry of `folder` equal to `name` case-blind; throws when several are.
    std::optional<QByteArray> lookup(const QByteArray &folder, const QString &name);

    // True when the folder has been read already and holds no entry equal to `name`
    // case-blind, nor one created or reserved since: looking for it again would find none.
    bool lacks(const QByteArray &folder, const QString &name);

    // Records a name that is about to be created: lookups find it from now on.
    void reserved(const QByteArray &folder, const QByteArray &name);
    // Records an entry just created where none of its name was: lookups and listings
    // see it.
    void created(const QByteArray &folder, const QByteArray &name);

    // The host paths of program paths already resolved, by a key of their root and
    // components: each folder an install names is resolved once, not once a file.
    QHash<QByteArray, QByteArray> resolved;

private:
    struct Folder;
    friend int findEntryAt(FileSystem &files, const Fd &folder, const QByteArray &name,
                           const QString &shown, QByteArray &found, FileStatus &status);
    Folder &folder(const QByteArray &path);
    Folder &keyed(const QByteArray &path);

    FileSystem &m_files;
    std::unordered_map<QByteArray, std::unique_ptr<Folder>> m_folders;
};

// The host name of the entry of `folder` that `name` denotes: "." and ".." when `folder` is
// a folder, the exact name when it exists, else the one entry equal to it case-blind.
// nullopt when there is none. The folder is read through the index.
// Throws when several entries match case-blind and none exactly, and when the name is
// longer than the file system allows.
std::optional<QByteArray> findEntry(const QByteArray &folder, const QString &name,
                                    FolderIndex &folders);

// The entry of an open folder that `name` denotes: itself when it exists, else the one entry
// equal to it but for case, as the game finds it. Returns 0, ENOENT when there is none, or
// the errno; throws AmbiguousName, naming the folder `shown`, when several entries are equal
// to it but for case and none is it exactly.
int findEntryAt(FileSystem &files, const Fd &folder, const QByteArray &name, const QString &shown,
                QByteArray &found, FileStatus &status);

// Resolves the first `count` components of `path` (all when -1). nullopt when one of
// them is missing.
std::optional<QByteArray> resolveComponents(const SplitPath &path, FolderIndex &folders,
                                            qsizetype count = -1);

// The host path of a program path when it exists, else nullopt.
std::optional<QByteArray> resolveExisting(const QString &path, const HostPaths &host,
                                          FolderIndex &folders);

// True when a host path names a folder (or a link to one).
bool isFolder(FileSystem &files, const QByteArray &hostPath);
// True when a host path names a regular file, or a link to one.
bool isOrdinaryFile(FileSystem &files, const QByteArray &hostPath);

// Throws when a name is longer than the file system allows.
void checkComponent(const QString &name);

} // namespace runtime
