// SPDX-License-Identifier: GPL-3.0-or-later
// Windows keeps no pipes or sockets among files, and its symbolic links need a privilege
// that a player's account lacks: the tests make none of them.
#include "testhost.h"

#include <cerrno>

namespace testhost {

int symlink(const QByteArray &, const QByteArray &)
{
    return ENOSYS;
}

int makePipe(const QByteArray &)
{
    return ENOSYS;
}

int makeSocket(const QByteArray &)
{
    return ENOSYS;
}

} // namespace testhost
