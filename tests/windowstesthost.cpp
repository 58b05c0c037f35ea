// SPDX-License-Identifier: GPL-3.0-or-later
// Windows keeps no pipes or sockets among files, and its symbolic links need a privilege
// that a player's account lacks: the tests make none of them.
#include "testhost.h"

#include <QString>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>
#include <windows.h>

namespace testhost {

namespace {

std::wstring widePath(const QByteArray &path)
{
    return QString::fromUtf8(path).replace(u'/', u'\\').toStdWString();
}

} // namespace

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

int hide(const QByteArray &path, bool system)
{
    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | (system ? FILE_ATTRIBUTE_SYSTEM : 0);
    return ::SetFileAttributesW(widePath(path).c_str(), attributes) ? 0 : EIO;
}

int holdFile(const QByteArray &path, int milliseconds)
{
    const HANDLE file =
        ::CreateFileW(widePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return EIO;
    std::thread([file, milliseconds] {
        ::Sleep(DWORD(milliseconds));
        ::CloseHandle(file);
    }).detach();
    return 0;
}

// The reparse data of a mount point, FSCTL_SET_REPARSE_POINT with REPARSE_DATA_BUFFER
// ("REPARSE_DATA_BUFFER structure", learn.microsoft.com/windows-hardware/drivers/ddi/ntifs/
// ns-ntifs-_reparse_data_buffer): the target as an NT path, then as it is printed.
int makeJunction(const QByteArray &target, const QByteArray &path)
{
    const std::wstring substitute = L"\\??\\" + widePath(target), printed = widePath(target);
    const auto bytes = [](const std::wstring &text) {
        return WORD(text.size() * sizeof(wchar_t));
    };
    std::vector<char> buffer(8 + 8 + bytes(substitute) + bytes(printed) + 4, 0);
    const auto put = [&](std::size_t at, WORD value) {
        std::memcpy(&buffer[at], &value, 2);
    };
    constexpr DWORD MountPoint = 0xA0000003; // IO_REPARSE_TAG_MOUNT_POINT
    std::memcpy(buffer.data(), &MountPoint, 4);
    put(4, WORD(buffer.size() - 8));
    put(8, 0);
    put(10, bytes(substitute));
    put(12, WORD(bytes(substitute) + 2));
    put(14, bytes(printed));
    std::memcpy(&buffer[16], substitute.data(), bytes(substitute));
    std::memcpy(&buffer[16 + bytes(substitute) + 2], printed.data(), bytes(printed));
    const HANDLE folder =
        ::CreateFileW(widePath(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return EIO;
    DWORD returned = 0;
    const BOOL made = ::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                        DWORD(buffer.size()), nullptr, 0, &returned, nullptr);
    const DWORD error = ::GetLastError();
    ::CloseHandle(folder);
    if (made)
        return 0;
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ? ENOSYS : EIO;
}

} // namespace testhost
