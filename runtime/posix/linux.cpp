// SPDX-License-Identifier: GPL-3.0-or-later
// What a POSIX host does through Linux's own calls: files without a name (O_TMPFILE, linked
// in through /proc), copies by the file system (FICLONE, copy_file_range, sync_file_range),
// the flush of a whole file system (syncfs), folders read in bulk (getdents64), and the
// process's memory from /proc.
#include "runtime/platform.h"
#include "runtime/posix/posixcalls.h"

#include <QFile>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace runtime {

using namespace posix;

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

// Renames `from` to `to` in the folder `in` unless `to` is there: EEXIST then. A file system
// that does not take the request (some in user space) is asked whether `to` is there first.
int renameNotReplacing(int in, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(in, from.constData(), in, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    struct stat st;
    if (::fstatat(in, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return result(::renameat(in, from.constData(), in, to.constData()));
}

} // namespace

// A file without a name costs the folder no entry until it takes its place: one name
// made where a named temporary file makes, renames and removes one, which counts in a
// large folder. It needs the file system's O_TMPFILE and /proc to link it in.
int PosixFileSystem::createTemporaryAt(const Fd &folder, const QByteArray &destination,
                                       QByteArray &path, bool &named, Fd &file)
{
    static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
    const QByteArray inside =
        folder.isOpen() ? QByteArray(".")
                        : destination.left(std::max<qsizetype>(destination.lastIndexOf('/'), 1));
    const int fd =
        canLink ? ::openat(at(folder), inside.constData(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666)
                : -1;
    if (fd >= 0) {
        file.reset(fd);
        path = unnamedPath(fd);
        named = false;
        return 0;
    }
    named = true;
    return withTemporaryName(destination, path, [&](const QByteArray &name) {
        const int created = ::openat(at(folder), name.constData(),
                                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (created < 0)
            return -1;
        file.reset(created);
        return 0;
    });
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
        if (const int error = copyByLoop(from, to))
            return error;
    }
    // Start writing the data out now, so that the flush before the renames finds less to do.
    ::sync_file_range(to.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    return 0;
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

int PosixFileSystem::renameTemporaryAt(const Fd &folder, const QByteArray &from, const Fd &file,
                                       const QByteArray &to, bool replace)
{
    const int in = at(folder);
    if (from != unnamedPath(file.get()) && replace)
        return result(::renameat(in, from.constData(), in, to.constData()));
    if (from != unnamedPath(file.get()))
        return renameNotReplacing(in, from, to);
    if (::linkat(AT_FDCWD, from.constData(), in, to.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != EEXIST || !replace)
        return errno;
    // A file of that name came since: the new one is put over it from a name of its own.
    QByteArray named;
    if (const int error = withTemporaryName(to, named, [&](const QByteArray &name) {
            return ::linkat(AT_FDCWD, from.constData(), in, name.constData(), AT_SYMLINK_FOLLOW);
        }))
        return error;
    if (::renameat(in, named.constData(), in, to.constData()) == 0)
        return 0;
    const int error = errno;
    ::unlinkat(in, named.constData(), 0);
    return error;
}

int PosixFileSystem::remove(const QByteArray &path)
{
    if (path.startsWith(UnnamedPrefix))
        return 0; // a file without a name goes when it is closed
    return result(::unlink(path.constData()));
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

qint64 peakResidentKiB()
{
    // The memory's high-water mark of this process image. getrusage() would not do: on
    // Linux its figure survives exec, so a program started by a large one reports that
    // one's peak.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

Utf8Text::Utf8Text()
{
    const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    if (utf8 == locale_t(nullptr))
        return;
    m_locale = utf8;
    m_previous = ::uselocale(utf8);
}

Utf8Text::~Utf8Text()
{
    if (!m_locale)
        return;
    ::uselocale(locale_t(m_previous));
    ::freelocale(locale_t(m_locale));
}

} // namespace runtime
