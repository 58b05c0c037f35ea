// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/pendingcopy.h"

#include <cerrno>
#include <utility>

namespace runtime {

namespace {

const Fd &noFolder()
{
    static const Fd none;
    return none;
}

// A volume that stores no permission bits (FAT, or NTFS mounted without them) refuses to
// change them, in one of these ways.
bool modesUnsupported(int error)
{
    return error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP || error == EPERM;
}

} // namespace

PendingCopy::PendingCopy(PendingCopy &&other) noexcept
    : m_files(other.m_files), m_folder(other.m_folder), m_name(std::move(other.m_name)),
      m_temp(std::exchange(other.m_temp, {})), m_named(other.m_named),
      m_file(std::move(other.m_file)), m_status(other.m_status), m_volume(other.m_volume)
{}

PendingCopy &PendingCopy::operator=(PendingCopy &&other) noexcept
{
    discard();
    m_files = other.m_files;
    m_folder = other.m_folder;
    m_name = std::move(other.m_name);
    m_temp = std::exchange(other.m_temp, {});
    m_named = other.m_named;
    m_file = std::move(other.m_file);
    m_status = other.m_status;
    m_volume = other.m_volume;
    return *this;
}

// Creates the temporary file and locks it. One that another process removed as abandoned
// before the lock was taken is given up for another.
int PendingCopy::create(Operation &failed)
{
    const Fd &folder = m_folder ? *m_folder : noFolder();
    failed = Operation::CreateTemporary;
    for (int attempt = 0; attempt <= 100; ++attempt) {
        m_file.reset();
        if (const int error = m_files->createTemporaryAt(folder, m_name, m_temp, m_named, m_file))
            return error;
        const int locked = m_files->lock(m_file);
        const auto status = [&] {
            return m_volume ? m_files->statusOnVolume(m_file, *m_volume, m_status)
                            : m_files->status(m_file, m_status);
        };
        // Where the file system has no locks, no other process can lock it either, and so
        // none removes it; nor can it find one without a name.
        if (locked != 0 && locked != EWOULDBLOCK && status() == 0)
            return 0;
        if (locked == 0 && status() == 0 && (m_status.links > 0 || !m_named))
            return 0;
        m_temp.clear(); // the other process removes it
    }
    return EEXIST;
}

int PendingCopy::write(const Fd &folder, const QByteArray &name, const Fd &from, qint64 size,
                       const std::optional<Keep> &keep, Operation &failed)
{
    int error = begin(folder, name, failed);
    bool cloned = false;
    if (!error && (error = m_files->copy(from, m_file, size, cloned)) != 0) {
        failed = Operation::Copy;
        discard();
    }
    return error ? error : finish(keep, failed);
}

int PendingCopy::begin(const Fd &folder, const QByteArray &name, Operation &failed)
{
    m_folder = folder.isOpen() ? &folder : nullptr;
    m_name = name;
    const int error = create(failed);
    if (error)
        discard();
    return error;
}

int PendingCopy::append(const char *data, qint64 size)
{
    const int error = m_files->write(m_file, QByteArray::fromRawData(data, qsizetype(size)));
    if (error)
        discard();
    return error;
}

int PendingCopy::finish(const std::optional<Keep> &keep, Operation &failed)
{
    int error = 0;
    if (keep) {
        // Ownership can only be kept with the rights to give it; the bits can be where the
        // volume stores them. Either is changed only when it differs: a change that changes
        // nothing still costs a logged update of the file.
        if (keep->owner != m_status.owner || keep->group != m_status.group)
            m_files->setOwner(m_file, keep->owner, keep->group);
        if (keep->permissions != m_status.permissions()) {
            error = m_files->setMode(m_file, keep->permissions);
            error = modesUnsupported(error) ? 0 : error;
            failed = Operation::SetMode;
        }
    }
    if (error)
        discard();
    return error;
}

int PendingCopy::putInPlace(bool replace)
{
    const Fd &folder = m_folder ? *m_folder : noFolder();
    const int error = m_files->renameTemporaryAt(folder, m_temp, m_file, m_name, replace);
    if (error)
        return error;
    // In place, the copy needs its lock no more; closed, it can be replaced by a later copy
    // to the same name, also where a file held open cannot be (Windows).
    m_temp.clear();
    m_file.reset();
    return 0;
}

void PendingCopy::discard()
{
    if (!m_temp.isEmpty() && m_named)
        m_files->removeAt(m_folder ? *m_folder : noFolder(), m_temp);
    m_temp.clear();
    m_file.reset();
}

void removeIfAbandoned(FileSystem &files, const Fd &folder, const QByteArray &name)
{
    Fd fd;
    FileStatus held, now;
    if (files.openEntryAt(folder, name, fd) != 0 || files.status(fd, held) != 0 ||
        !held.isRegular() || files.lock(fd) != 0)
        return;
    // Unlocked, and still under its temporary name: no process will rename it.
    if (files.entryStatusAt(folder, name, now) == 0 && now.device == held.device &&
        now.inode == held.inode)
        files.removeAt(folder, name);
}

} // namespace runtime
