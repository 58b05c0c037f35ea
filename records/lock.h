// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/filesystem.h"

#include <QByteArray>
#include <functional>

namespace records {

class Store;

// Holds the turn of one game folder while an install or an undo writes to it; released when
// it goes. Its lock file, in the records' folder, is removed by remove() while held, when
// nothing is recorded for the folder any more.
class FolderLock
{
public:
    FolderLock() = default;
    // Takes the turn of the game folder of that status, calling `waiting` first when another
    // holds it. Returns 0 or the errno.
    int take(const Store &store, const runtime::FileStatus &game,
             const std::function<void()> &waiting = {});
    void remove();

private:
    runtime::FileSystem *m_files = nullptr;
    QByteArray m_path;
    runtime::Fd m_fd;
};

} // namespace records
