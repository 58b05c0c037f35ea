// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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

// The user the process runs as.
quint32 processUser();

// The host's state that path resolution depends on, read once when the program starts.
struct HostPaths
{
    QByteArray winePrefix;        // the folder of Wine's drives: $WINEPREFIX, else ~/.wine
    QByteArray currentFolder;     // the process's current folder; "" when it is gone
    QByteArray dataFolder;        // the program's records, ~/.local/share/quillmere; "" for none
    quint32 user = processUser(); // whose records those are

    static HostPaths ofProcess();
};

// A program path split into the host folder it starts from and its components.
struct SplitPath
{
    QByteArray root;        // "/" , the current folder, or a drive's folder
    QStringList components; // never empty strings
    bool trailingSeparator = false;
};

// Throws on a NUL character, on a drive letter whose drive is not ready, and on a relative
// path when there is no current folder.
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
    FolderIndex();
    ~FolderIndex();
    FolderIndex(const FolderIndex &) = delete;
    FolderIndex &operator=(const FolderIndex &) = delete;

    struct Entry
    {
        enum Kind : quint8
        {
            File,    // a regular file
            Other,   // a folder, device, pipe or socket
            Unknown, // a link, or a file system that does not say: ask the entry itself
        };
        const char *name; // as the host spells it; lives as long as the index
        Kind kind;
    };

    // The folder's entries but "." and "..", or nullptr when it cannot be read.
    const std::vector<Entry> *entries(const QByteArray &folder);

    // The entry of `folder` equal to `name` case-blind; throws when several are.
    std::optional<QByteArray> lookup(const QByteArray &folder, const QString &name);

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
    Folder &folder(const QByteArray &path);
    Folder &keyed(const QByteArray &path);

    std::unordered_map<QByteArray, std::unique_ptr<Folder>> m_folders;
};

// The host name of the entry of `folder` that `name` denotes: "." and ".." when `folder` is
// a folder, the exact name when it exists, else the one entry equal to it case-blind.
// nullopt when there is none. With an index, the folder is read through it.
// Throws when several entries match case-blind and none exactly, and when the name is
// longer than the file system allows.
std::optional<QByteArray> findEntry(const QByteArray &folder, const QString &name,
                                    FolderIndex *folders = nullptr);

// Resolves the first `count` components of `path` (all when -1). nullopt when one of
// them is missing.
std::optional<QByteArray> resolveComponents(const SplitPath &path, qsizetype count = -1,
                                            FolderIndex *folders = nullptr);

// The host path of a program path when it exists, else nullopt.
std::optional<QByteArray> resolveExisting(const QString &path, const HostPaths &host,
                                          FolderIndex *folders = nullptr);

// True when a host path names a folder (or a link to one).
bool isFolder(const QByteArray &hostPath);

// Throws when a name is longer than the file system allows.
void checkComponent(const QString &name);

} // namespace runtime
