// SPDX-License-Identifier: GPL-3.0-or-later
// What the POSIX host's files share: posixfilesystem.cpp and linux.cpp.
#pragma once

#include "runtime/filesystem.h"

#include <cerrno>
#include <fcntl.h>

namespace runtime::posix {

// 0 for a call that returned 0, else its errno.
inline int result(int returned)
{
    return returned == 0 ? 0 : errno;
}

// The folder a call inside an open folder starts from: the current one where it is not open.
inline int at(const Fd &folder)
{
    return folder.isOpen() ? int(folder.get()) : AT_FDCWD;
}

} // namespace runtime::posix
