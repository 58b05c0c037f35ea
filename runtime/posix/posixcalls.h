// SPDX-License-Identifier: GPL-3.0-or-later
// What the POSIX host's files share: posixfilesystem.cpp and linux.cpp.
#pragma once

#include <cerrno>

namespace runtime::posix {

// 0 for a call that returned 0, else its errno.
inline int result(int returned)
{
    return returned == 0 ? 0 : errno;
}

} // namespace runtime::posix
