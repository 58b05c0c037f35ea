// SPDX-License-Identifier: GPL-3.0-or-later
// Windows keeps no pipes or sockets among files, and its symbolic links need a privilege
// that a player's account lacks: the tests make none of them.
#include "testhost.h"

#include <QDir>
#include <cerrno>
#include <windows.h>

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

QByteArray makeShare(const QByteArray &server, const QByteArray &share)
{
    // Wine, which says so by a function of its own, finds \\server\share in its prefix; the
    // prefix is reached through Wine's drive Z:, the machine's root.
    const bool wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    const QByteArray prefix = qgetenv("WINEPREFIX");
    if (!wine || !prefix.startsWith('/'))
        return {};
    const QByteArray folder = "Z:" + prefix + "/dosdevices/unc/" + server + '/' + share;
    return QDir().mkpath(QString::fromUtf8(folder)) ? folder : QByteArray();
}

} // namespace testhost
