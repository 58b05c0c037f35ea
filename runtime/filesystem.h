// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QtGlobal>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace runtime {

// An open file of the host, closed when it goes: a file descriptor, or a Windows handle.
class Fd
{
public:
    using Handle = qintptr;
    explicit Fd(Handle fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&other) noexcept : m_fd(other.release()) {}
    Fd &operator=(Fd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    Handle get() const { return m_fd; }
    bool isOpen() const { return m_fd != -1; }
    Handle release() { return std::exchange(m_fd, -1); }
    void reset(Handle fd = -1);

private:
    Handle m_fd;
};

// Whether a file name is that of a copy's temporary file: ".quillmere-<base 36>.tmp".
bool isTemporaryName(QByteArrayView name);
// A fresh such name.
QByteArray newTemporaryName();

// What the file system tells of a file.
struct FileStatus
{
    quint64 device = 0;
    quint64 inode = 0;
    quint32 mode = 0; // the type and the permission bits, as POSIX numbers them
    quint32 owner = 0;
    quint32 group = 0;
    qint64 size = 0;
    quint64 links = 0;
    qint64 modified = 0; // nanoseconds since 1970

    bool isFolder() const;
    bool isRegular() const;
    bool isLink() const;
    quint32 permissions() const { return mode & 07777; }

    static constexpr quint32 TypeBits = 0170000, FolderType = 0040000, RegularType = 0100000,
                             LinkType = 0120000;
};

// One entry of a folder as listed in bulk.
struct FolderEntry
{
    enum Kind : quint8
    {
        File,    // a regular file
        Folder,  // a folder
        Other,   // a device, pipe or socket
        Unknown, // a link, or a file system that does not say: ask the entry itself
    };
    const char *name; // as the host spells it; lives as long as its listing
    Kind kind;
};

// A folder's names but "." and "..", read at once into one buffer.
struct FolderListing
{
    std::unique_ptr<char[]> names;
    std::vector<FolderEntry> entries;
};

// The file operations an install writes with, on host paths. Each returns 0, or the errno
// of the host it failed with. The program's one is the host's own (HostFileSystem, from
// hostfilesystem.h); tests pass one that fails chosen operations on chosen names.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // Opens a file to read it.
    virtual int open(const QByteArray &path, Fd &file) = 0;
    // Opens a file to lock it, without following a link or waiting on a device.
    virtual int openEntry(const QByteArray &path, Fd &file) = 0;
    virtual int status(const QByteArray &path, FileStatus &status) = 0;
    // Of the entry itself, not of what a link leads to.
    virtual int entryStatus(const QByteArray &path, FileStatus &status) = 0;
    virtual int status(const Fd &file, FileStatus &status) = 0;
    // The same, of a file known to be on the volume `device`: made in a folder there, or
    // asked before. A host to which the volume is the costly part to ask takes it from here.
    virtual int statusOnVolume(const Fd &file, quint64 device, FileStatus &status) = 0;
    // Whether the user may write to the file.
    virtual int access(const QByteArray &path) = 0;

    // Creates a new, empty file to write, to take the place of the entry `destination` of
    // the open `folder` later (or, `folder` not open, of the path `destination`), and returns
    // in `path` how renameTemporaryAt names it. Where the file system can, the file has no
    // name until then (`named` false), and `path` opens it; otherwise it has a hidden
    // temporary name of its own beside `destination` (see isTemporaryName).
    virtual int createTemporaryAt(const Fd &folder, const QByteArray &destination, QByteArray &path,
                                  bool &named, Fd &file) = 0;
    // Takes the file's lock without waiting: EWOULDBLOCK when another holds it.
    virtual int lock(const Fd &file) = 0;
    // Fills `to` with the `size` bytes of `from`. `cloned` tells whether the copy shares the
    // source's data on the disk, and so has none of its own to write out.
    virtual int copy(const Fd &from, const Fd &to, qint64 size, bool &cloned) = 0;
    virtual int setMode(const Fd &file, quint32 permissions) = 0;
    virtual int setOwner(const Fd &file, quint32 owner, quint32 group) = 0;
    // The modification time, in nanoseconds since 1970.
    virtual int setModified(const Fd &file, qint64 modified) = 0;

    virtual int flushFile(const Fd &file) = 0;
    // Reads a file from where it stands, to its end or until `data` holds `limit` bytes: a
    // regular file in one buffer of its size.
    int read(const Fd &file, qint64 limit, QByteArray &data);
    // Reads at most `size` bytes at `offset`, or from where the file stands (AtPosition),
    // and says how many it got: 0 at the end. A read at an offset does not depend on where
    // the file stands: hash reads so on its own thread while the file is in use elsewhere.
    virtual int readAt(const Fd &file, qint64 offset, char *buffer, qint64 size, qint64 &got) = 0;
    static constexpr qint64 AtPosition = -1;
    // Lists a folder by its path.
    virtual int listFolder(const QByteArray &path, FolderListing &listing) = 0;

    // The names of a folder.
    virtual int flushFolder(const QByteArray &path) = 0;
    // Everything written to the file system that holds `path`. ENOTSUP where such a flush
    // does not reach the disk, as on a file system in user space: its files are then
    // flushed one by one.
    virtual int flushFileSystem(const QByteArray &path) = 0;

    // Puts the temporary file `from` of createTemporaryAt, open as `file`, in the place of
    // `to`, in the same folder; one without a name is given it. What is there is replaced
    // only where `replace` says: else the answer is EEXIST.
    virtual int renameTemporaryAt(const Fd &folder, const QByteArray &from, const Fd &file,
                                  const QByteArray &to, bool replace) = 0;
    virtual int remove(const QByteArray &path) = 0;
    // With those permission bits, less the process's mask.
    virtual int makeFolder(const QByteArray &path, quint32 permissions) = 0;
    // A folder that only the user may reach, with the system and its administrators: the
    // program's records. POSIX: permission bits 0700; Windows: a DACL of those three alone,
    // which takes nothing from the folder it is made in.
    virtual int makePrivateFolder(const QByteArray &path) = 0;
    // Whether an open entry of such a folder is the user's `user` alone: his own, and no one
    // else's to change. `status` is the entry's. POSIX: its owner and permission bits; Windows:
    // its owner and DACL, the numbers of `status` standing for the process's user.
    virtual bool isOwnOnly(const Fd &entry, const FileStatus &status, quint32 user) = 0;
    // An empty folder.
    virtual int removeFolder(const QByteArray &path) = 0;

    // Gives the file (or link) `from` a second name `to` on the same file system.
    virtual int link(const QByteArray &from, const QByteArray &to) = 0;
    // Creates a new file to write; EEXIST when there is one of that name.
    virtual int create(const QByteArray &path, Fd &file) = 0;
    virtual int write(const Fd &file, const QByteArray &data) = 0;
    // Takes the file's lock, waiting while another holds it.
    virtual int waitForLock(const Fd &file) = 0;

    // How many files may stay open at once, leaving room for everything else.
    virtual std::size_t openFileBudget() = 0;
    // Whether an error may be gone in a moment, so that the call is worth making again: an
    // interrupted call, a resource busy for now.
    virtual bool transient(int error) const;

    // The digest of a file's data, read from its start, of the same kind as hashName says.
    // Called on a thread of its own (DigestWorker): it touches nothing but the file.
    int hash(const Fd &file, QByteArray &digest);

    // Work inside an open folder, by one name of it; a link is never followed, so that
    // nothing outside the folder is reached through one. `folder` not open: `name` is a
    // path from the current folder, whose links are followed.
    virtual int openFolderAt(const Fd &folder, const QByteArray &name, Fd &opened) = 0;
    // The folder an entry names, a link followed: only where the caller knows where to.
    virtual int openLinkedFolderAt(const Fd &folder, const QByteArray &name, Fd &opened) = 0;
    virtual int entryStatusAt(const Fd &folder, const QByteArray &name, FileStatus &status) = 0;
    // Opens a file to read it without waiting on a device: ELOOP for a link.
    virtual int openEntryAt(const Fd &folder, const QByteArray &name, Fd &file) = 0;
    // Whether the user may write to the entry.
    virtual int accessAt(const Fd &folder, const QByteArray &name) = 0;
    virtual int removeAt(const Fd &folder, const QByteArray &name) = 0;
    virtual int removeFolderAt(const Fd &folder, const QByteArray &name) = 0;
    virtual int renameAt(const Fd &fromFolder, const QByteArray &from, const Fd &toFolder,
                         const QByteArray &to) = 0;
    // Creates a new file with those permission bits; EEXIST when there is an entry so named.
    virtual int createAt(const Fd &folder, const QByteArray &name, quint32 permissions,
                         Fd &file) = 0;
    // The names of the folder but "." and "..", in no particular order.
    virtual int readFolder(const Fd &folder, QByteArrayList &names) = 0;
    // The names and the data of the files in it.
    virtual int flushOpenFolder(const Fd &folder) = 0;

protected:
    // Copies the rest of `from`, from where it stands, to `to` through a buffer of 1 MiB.
    int copyByLoop(const Fd &from, const Fd &to);
};

// The kind of digest FileSystem::hash makes, as records name it.
inline constexpr const char *hashName = "blake2b-256";

} // namespace runtime
