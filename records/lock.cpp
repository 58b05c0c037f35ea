// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/lock.h"

#include "records/store.h"

#include <cerrno>

using runtime::FileStatus;

namespace records {

int FolderLock::take(const Store &store, const FileStatus &game,
                     const std::function<void()> &waiting)
{
    runtime::FileSystem &files = store.files();
    m_files = &files;
    const QByteArray installs = store.installsFolder();
    if (const int error = makeFolders(files, installs))
        return error;
    m_path = installs + '/' + QByteArray::number(game.device, 16) + '-' +
             QByteArray::number(game.inode, 16) + ".lock";
    for (;;) {
        m_fd.reset();
        int error = files.create(m_path, m_fd);
        if (error == EEXIST)
            error = files.open(m_path, m_fd);
        if (error == ENOENT)
            continue; // removed between the two
        if (error)
            return error;
        error = files.lock(m_fd);
        if (error == EWOULDBLOCK) {
            if (waiting)
                waiting();
            error = files.waitForLock(m_fd);
        }
        if (error)
            return error;
        // The holder before may have removed the file: then this lock locks nothing.
        FileStatus held, now;
        if (files.status(m_fd, held) == 0 && files.status(m_path, now) == 0 &&
            held.device == now.device && held.inode == now.inode)
            return 0;
    }
}

void FolderLock::remove()
{
    if (m_fd.isOpen())
        m_files->remove(m_path);
}

} // namespace records
