// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/windowsfilesystem.h"

#include <cerrno>
#include <windows.h>

namespace runtime {

void Fd::reset(Handle fd)
{
    if (m_fd != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_fd));
    m_fd = fd;
}

int WindowsFileSystem::open(const QByteArray &path, Fd &file)
{
    return ENOSYS;
}

int WindowsFileSystem::openEntry(const QByteArray &path, Fd &file)
{
    return ENOSYS;
}

int WindowsFileSystem::status(const QByteArray &path, FileStatus &status)
{
    return ENOSYS;
}

int WindowsFileSystem::entryStatus(const QByteArray &path, FileStatus &status)
{
    return ENOSYS;
}

int WindowsFileSystem::status(const Fd &file, FileStatus &status)
{
    return ENOSYS;
}

int WindowsFileSystem::access(const QByteArray &path)
{
    return ENOSYS;
}

int WindowsFileSystem::createTemporary(const QByteArray &destination, QByteArray &path, bool &named,
                                       Fd &file)
{
    return ENOSYS;
}

int WindowsFileSystem::lock(const Fd &file)
{
    return ENOSYS;
}

int WindowsFileSystem::copy(const Fd &from, const Fd &to, qint64 size, bool &cloned)
{
    return ENOSYS;
}

int WindowsFileSystem::setMode(const Fd &file, quint32 permissions)
{
    return ENOSYS;
}

int WindowsFileSystem::setOwner(const Fd &file, quint32 owner, quint32 group)
{
    return ENOSYS;
}

int WindowsFileSystem::setModified(const Fd &file, qint64 modified)
{
    return ENOSYS;
}

int WindowsFileSystem::flushFile(const Fd &file)
{
    return ENOSYS;
}

int WindowsFileSystem::read(const Fd &file, qint64 limit, QByteArray &data)
{
    return ENOSYS;
}

int WindowsFileSystem::listFolder(const QByteArray &path, FolderListing &listing)
{
    return ENOSYS;
}

int WindowsFileSystem::flushFolder(const QByteArray &path)
{
    return ENOSYS;
}

int WindowsFileSystem::flushFileSystem(const QByteArray &path)
{
    return ENOSYS;
}

int WindowsFileSystem::rename(const QByteArray &from, const Fd &file, const QByteArray &to)
{
    return ENOSYS;
}

int WindowsFileSystem::remove(const QByteArray &path)
{
    return ENOSYS;
}

int WindowsFileSystem::makeFolder(const QByteArray &path, quint32 permissions)
{
    return ENOSYS;
}

int WindowsFileSystem::removeFolder(const QByteArray &path)
{
    return ENOSYS;
}

int WindowsFileSystem::link(const QByteArray &from, const QByteArray &to)
{
    return ENOSYS;
}

int WindowsFileSystem::create(const QByteArray &path, Fd &file)
{
    return ENOSYS;
}

int WindowsFileSystem::write(const Fd &file, const QByteArray &data)
{
    return ENOSYS;
}

int WindowsFileSystem::waitForLock(const Fd &file)
{
    return ENOSYS;
}

std::size_t WindowsFileSystem::openFileBudget()
{
    return 64;
}

int WindowsFileSystem::hash(const Fd &file, QByteArray &digest)
{
    return ENOSYS;
}

int WindowsFileSystem::openFolderAt(const Fd &folder, const QByteArray &name, Fd &opened)
{
    return ENOSYS;
}

int WindowsFileSystem::openLinkedFolderAt(const Fd &folder, const QByteArray &name, Fd &opened)
{
    return ENOSYS;
}

int WindowsFileSystem::entryStatusAt(const Fd &folder, const QByteArray &name, FileStatus &status)
{
    return ENOSYS;
}

int WindowsFileSystem::openEntryAt(const Fd &folder, const QByteArray &name, Fd &file)
{
    return ENOSYS;
}

int WindowsFileSystem::accessAt(const Fd &folder, const QByteArray &name)
{
    return ENOSYS;
}

int WindowsFileSystem::removeAt(const Fd &folder, const QByteArray &name)
{
    return ENOSYS;
}

int WindowsFileSystem::removeFolderAt(const Fd &folder, const QByteArray &name)
{
    return ENOSYS;
}

int WindowsFileSystem::renameAt(const Fd &fromFolder, const QByteArray &from, const Fd &toFolder,
                                const QByteArray &to)
{
    return ENOSYS;
}

int WindowsFileSystem::createAt(const Fd &folder, const QByteArray &name, quint32 permissions,
                                Fd &file)
{
    return ENOSYS;
}

int WindowsFileSystem::readFolder(const Fd &folder, QByteArrayList &names)
{
    return ENOSYS;
}

int WindowsFileSystem::flushOpenFolder(const Fd &folder)
{
    return ENOSYS;
}

} // namespace runtime
