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

bool makeConsole(unsigned codePage)
{
    // A test may have a console already, which Wine makes without code pages where it has
    // no terminal: it is let go first. AllocConsole points the standard handles at the new
    // console: QtTest's log keeps its own. Wine makes a console only where it has a display.
    // The console stays until the test ends: under Wine, freeing it then cuts the log off.
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE handles[3];
    for (int i = 0; i < 3; ++i)
        handles[i] = ::GetStdHandle(kinds[i]);
    ::FreeConsole();
    const bool made = ::AllocConsole();
    for (int i = 0; i < 3; ++i)
        ::SetStdHandle(kinds[i], handles[i]);
    return made && ::SetConsoleOutputCP(codePage);
}

unsigned consoleOutputCodePage()
{
    return ::GetConsoleOutputCP();
}

} // namespace testhost
