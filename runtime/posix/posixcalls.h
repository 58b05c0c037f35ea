// SPDX-License-Identifier: GPL-3.0-or-later
// What the POSIX host's files share: posixfilesystem.cpp and linux.cpp.
#pragma once

#include <QtGlobal>
#include <cerrno>

namespace runtime::posix {

// 0 for a call that returned 0, else its errno.
inline int result(int returned)
{
    return returned == 0 ? 0 : errno;
}

// Writes all of `data`, taking short writes in its stride; a write that makes no progress
// is an error.
int writeAll(int fd, const char *data, qint64 size);

} // namespace runtime::posix
