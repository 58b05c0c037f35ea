// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/posix/posixfilesystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace runtime {

namespace {

int result(int returned)
{
    return returned == 0 ? 0 : errno;
}

int opened(int fd, Fd &file)
{
    if (fd < 0)
        return errno;
    file.reset(fd);
    return 0;
}

void fill(const struct stat &st, FileStatus &status)
{
    status = {quint64(st.st_dev),   quint64(st.st_ino),
              quint32(st.st_mode),  quint32(st.st_uid),
              quint32(st.st_gid),   qint64(st.st_size),
              quint64(st.st_nlink), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

template <typename Stat> int statInto(FileStatus &status, Stat call)
{
    struct stat st;
    if (call(&st) != 0)
        return errno;
    fill(st, status);
    return 0;
}

// Writes all of `data`, taking short writes in its stride; a write that makes no progress
// is an error.
int writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 ? ENOSPC : errno;
        data += n;
        size -= n;
    }
    return 0;
}

int copyByLoop(int in, int out)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : 0;
        if (const int error = writeAll(out, buffer.data(), n))
            return error;
    }
}

} // namespace

void Fd::reset(Handle fd)
{
    if (m_fd >= 0)
        ::close(int(m_fd));
    m_fd = fd;
}

int PosixFileSystem::open(const QByteArray &path, Fd &file)
{
    return opened(::open(path.constData(), O_RDONLY | O_CLOEXEC), file);
}

int PosixFileSystem::openEntry(const QByteArray &path, Fd &file)
{
    return opened(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC), file);
}

int PosixFileSystem::status(const QByteArray &path, FileStatus &status)
{
    return statInto(status, [&](struct stat *st) { return ::stat(path.constData(), st); });
}

int PosixFileSystem::entryStatus(const QByteArray &path, FileStatus &status)
{
    return statInto(status, [&](struct stat *st) { return ::lstat(path.constData(), st); });
}

int PosixFileSystem::status(const Fd &file, FileStatus &status)
{
    return statInto(status, [&](struct stat *st) { return ::fstat(file.get(), st); });
}

int PosixFileSystem::access(const QByteArray &path)
{
    return result(::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS));
}

namespace {

// Makes a new entry under a hidden temporary name beside `destination`, returned in `path`:
// `make` makes it at a path, failing with EEXIST where there is one already.
template <typename Make>
int withTemporaryName(const QByteArray &destination, QByteArray &path, Make make)
{
    const QByteArray folder = destination.left(destination.lastIndexOf('/') + 1);
    for (int attempt = 0;; ++attempt) {
        path = folder + newTemporaryName();
        if (make(path) == 0)
            return 0;
        if (errno != EEXIST || attempt >= 100) {
            path.clear();
            return errno;
        }
    }
}

const QByteArray UnnamedPrefix = "/proc/self/fd/";

// The path by which a file without a name is opened and linked in.
QByteArray unnamedPath(int fd)
{
    return UnnamedPrefix + QByteArray::number(fd);
}

} // namespace

// A file without a name costs the folder no entry until it takes its place: one name
// made where a named temporary file makes, renames and removes one, which counts in a
// large folder. It needs the file system's O_TMPFILE and /proc to link it in.
int PosixFileSystem::createTemporary(const QByteArray &destination, QByteArray &path, bool &named,
                                     Fd &file)
{
    static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
    const QByteArray folder =
        destination.left(std::max<qsizetype>(destination.lastIndexOf('/'), 1));
    const int fd = canLink ? ::open(folder.constData(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666) : -1;
    if (fd >= 0) {
        file.reset(fd);
        path = unnamedPath(fd);
        named = false;
        return 0;
    }
    named = true;
    return withTemporaryName(destination, path, [&](const QByteArray &at) {
        const int created = ::open(at.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (created < 0)
            return -1;
        file.reset(created);
        return 0;
    });
}

int PosixFileSystem::lock(const Fd &file)
{
    return result(::flock(file.get(), LOCK_EX | LOCK_NB));
}

// A reflink clone where the file system has one, else the kernel's copy offload, else the
// read/write loop.
int PosixFileSystem::copy(const Fd &from, const Fd &to, qint64 size, bool &cloned)
{
    cloned = ::ioctl(to.get(), FICLONE, from.get()) == 0;
    if (cloned)
        return 0;
    qint64 done = 0;
    while (done < size) {
        const ssize_t n =
            ::copy_file_range(from.get(), nullptr, to.get(), nullptr, size_t(size - done), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && done == 0 &&
            (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP))
            break;
        if (n < 0)
            return errno;
        if (n == 0)
            break; // the source got shorter; the loop below finds its end
        done += n;
    }
    if (done < size || size == 0) {
        if (const int error = copyByLoop(from.get(), to.get()))
            return error;
    }
    // Start writing the data out now, so that the flush before the renames finds less to do.
    ::sync_file_range(to.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    return 0;
}

int PosixFileSystem::setMode(const Fd &file, quint32 permissions)
{
    return result(::fchmod(file.get(), mode_t(permissions)));
}

int PosixFileSystem::setOwner(const Fd &file, quint32 owner, quint32 group)
{
    return result(::fchown(file.get(), uid_t(owner), gid_t(group)));
}

int PosixFileSystem::setModified(const Fd &file, qint64 modified)
{
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      {time_t(modified / 1000000000), long(modified % 1000000000)}};
    return result(::futimens(file.get(), times));
}

int PosixFileSystem::flushFile(const Fd &file)
{
    return result(::fdatasync(file.get()));
}

int PosixFileSystem::flushFolder(const QByteArray &path)
{
    const Fd folder(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return errno;
    return result(::fsync(folder.get()));
}

int PosixFileSystem::flushFileSystem(const QByteArray &path)
{
    const Fd folder(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return errno;
    // A file system in user space that has no block device of its own (its daemon writes
    // to an image, say) is not flushed by syncfs: only a flush of each file reaches it.
    struct statfs fs;
    struct stat st;
    if (::fstatfs(folder.get(), &fs) == 0 && fs.f_type == FUSE_SUPER_MAGIC &&
        ::fstat(folder.get(), &st) == 0 && major(st.st_dev) == 0)
        return ENOTSUP;
    return result(::syncfs(folder.get()));
}

int PosixFileSystem::rename(const QByteArray &from, const Fd &file, const QByteArray &to)
{
    if (from != unnamedPath(file.get()))
        return result(::rename(from.constData(), to.constData()));
    if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != EEXIST)
        return errno;
    // A file of that name came since: the new one is put over it from a name of its own.
    QByteArray named;
    if (const int error = withTemporaryName(to, named, [&](const QByteArray &at) {
            return ::linkat(AT_FDCWD, from.constData(), AT_FDCWD, at.constData(),
                            AT_SYMLINK_FOLLOW);
        }))
        return error;
    if (::rename(named.constData(), to.constData()) == 0)
        return 0;
    const int error = errno;
    ::unlink(named.constData());
    return error;
}

int PosixFileSystem::remove(const QByteArray &path)
{
    if (path.startsWith(UnnamedPrefix))
        return 0; // a file without a name goes when it is closed
    return result(::unlink(path.constData()));
}

int PosixFileSystem::makeFolder(const QByteArray &path, quint32 permissions)
{
    return result(::mkdir(path.constData(), mode_t(permissions)));
}

int PosixFileSystem::removeFolder(const QByteArray &path)
{
    return result(::rmdir(path.constData()));
}

int PosixFileSystem::link(const QByteArray &from, const QByteArray &to)
{
    return result(::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0));
}

int PosixFileSystem::create(const QByteArray &path, Fd &file)
{
    return opened(::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666), file);
}

int PosixFileSystem::write(const Fd &file, const QByteArray &data)
{
    return writeAll(file.get(), data.constData(), data.size());
}

int PosixFileSystem::waitForLock(const Fd &file)
{
    while (::flock(file.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

// Half the open-file limit, raised to its hard maximum first.
std::size_t PosixFileSystem::openFileBudget()
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 256;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    const rlim_t budget = limit.rlim_cur == RLIM_INFINITY ? 65536 : limit.rlim_cur / 2;
    return std::clamp<std::size_t>(std::size_t(std::min<rlim_t>(budget, 65536)), 16, 65536);
}

namespace {

int at(const Fd &folder)
{
    return folder.isOpen() ? folder.get() : AT_FDCWD;
}

} // namespace

int PosixFileSystem::openFolderAt(const Fd &folder, const QByteArray &name, Fd &opened)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (folder.isOpen() ? O_NOFOLLOW : 0);
    return runtime::opened(::openat(at(folder), name.constData(), flags), opened);
}

int PosixFileSystem::openLinkedFolderAt(const Fd &folder, const QByteArray &name, Fd &opened)
{
    return runtime::opened(
        ::openat(at(folder), name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), opened);
}

int PosixFileSystem::entryStatusAt(const Fd &folder, const QByteArray &name, FileStatus &status)
{
    return statInto(status, [&](struct stat *st) {
        return ::fstatat(at(folder), name.constData(), st, AT_SYMLINK_NOFOLLOW);
    });
}

int PosixFileSystem::openEntryAt(const Fd &folder, const QByteArray &name, Fd &file)
{
    return opened(
        ::openat(at(folder), name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC),
        file);
}

int PosixFileSystem::accessAt(const Fd &folder, const QByteArray &name)
{
    return result(
        ::faccessat(at(folder), name.constData(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW));
}

int PosixFileSystem::removeAt(const Fd &folder, const QByteArray &name)
{
    return result(::unlinkat(at(folder), name.constData(), 0));
}

int PosixFileSystem::removeFolderAt(const Fd &folder, const QByteArray &name)
{
    return result(::unlinkat(at(folder), name.constData(), AT_REMOVEDIR));
}

int PosixFileSystem::renameAt(const Fd &fromFolder, const QByteArray &from, const Fd &toFolder,
                              const QByteArray &to)
{
    return result(::renameat(at(fromFolder), from.constData(), at(toFolder), to.constData()));
}

int PosixFileSystem::createAt(const Fd &folder, const QByteArray &name, quint32 permissions,
                              Fd &file)
{
    return opened(::openat(at(folder), name.constData(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(permissions)),
                  file);
}

int PosixFileSystem::readFolder(const Fd &folder, QByteArrayList &names)
{
    // A folder stream of its own, over a second open of the same folder.
    const int fd = ::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    names.clear();
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name.toByteArray());
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    return error;
}

int PosixFileSystem::readAt(const Fd &file, qint64 offset, char *buffer, qint64 size, qint64 &got)
{
    for (;;) {
        const ssize_t n = offset == AtPosition
                              ? ::read(int(file.get()), buffer, size_t(size))
                              : ::pread(int(file.get()), buffer, size_t(size), off_t(offset));
        if (n >= 0) {
            got = n;
            return 0;
        }
        if (errno != EINTR)
            return errno;
    }
}

int PosixFileSystem::listFolder(const QByteArray &path, FolderListing &listing)
{
    const Fd folder(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return errno;
    // Records are read in bulk into one buffer, as large as the folder says it is; it grows
    // while the folder fills it.
    struct stat st;
    std::size_t size = 64 * 1024;
    if (::fstat(int(folder.get()), &st) == 0)
        size = std::clamp<std::size_t>(std::size_t(st.st_size) + 32 * 1024, size, 64 << 20);
    listing.names.reset(new char[size]);
    listing.entries.clear();
    std::size_t filled = 0;
    for (;;) {
        if (size - filled < 32 * 1024) {
            std::unique_ptr<char[]> larger(new char[size * 2]);
            std::memcpy(larger.get(), listing.names.get(), filled);
            listing.names = std::move(larger);
            size *= 2;
        }
        const ssize_t n =
            ::getdents64(int(folder.get()), listing.names.get() + filled, size - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        filled += std::size_t(n);
    }
    listing.entries.reserve(filled / 32);
    for (std::size_t at = 0; at < filled;) {
        const auto *record = reinterpret_cast<const dirent64 *>(listing.names.get() + at);
        at += record->d_reclen;
        const char *name = record->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        const FolderEntry::Kind kind = record->d_type == DT_REG   ? FolderEntry::File
                                       : record->d_type == DT_DIR ? FolderEntry::Folder
                                       : record->d_type == DT_LNK || record->d_type == DT_UNKNOWN
                                           ? FolderEntry::Unknown
                                           : FolderEntry::Other;
        listing.entries.push_back({name, kind});
    }
    return 0;
}

int PosixFileSystem::flushOpenFolder(const Fd &folder)
{
    return result(::fsync(folder.get()));
}

} // namespace runtime
