// SPDX-License-Identifier: GPL-3.0-or-later
// The file system of a POSIX host through POSIX calls; what Linux does its own way is in
// linux.cpp.
#include "runtime/platform.h"
#include "runtime/posix/posixcalls.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace runtime {

using namespace posix;

namespace {

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

// fstat costs no more for a device known already.
int PosixFileSystem::statusOnVolume(const Fd &file, quint64, FileStatus &status)
{
    return this->status(file, status);
}

int PosixFileSystem::access(const QByteArray &path)
{
    return result(::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS));
}

int PosixFileSystem::lock(const Fd &file)
{
    return result(::flock(file.get(), LOCK_EX | LOCK_NB));
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

bool PosixFileSystem::transient(int error) const
{
    return FileSystem::transient(error);
}

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

int PosixFileSystem::flushOpenFolder(const Fd &folder)
{
    return result(::fsync(folder.get()));
}

} // namespace runtime
