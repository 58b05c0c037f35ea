// SPDX-License-Identifier: GPL-3.0-or-later
// Windows keeps no pipes or sockets among files, and its symbolic links need a privilege
// that a player's account lacks: the tests make none of them.
#include "testhost.h"

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
