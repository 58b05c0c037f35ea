// SPDX-License-Identifier: GPL-3.0-or-later
// Locks on Windows: a byte range of a file, and of a folder's file in the temporary folder.
#include "runtime/windows/windowscalls.h"

namespace runtime {

using namespace windows;

namespace {

// Locks are taken on one byte far past any data, so that they never block a read or a
// write of the file itself.
constexpr DWORD LockOffsetLow = 0xFFFFFFF0, LockOffsetHigh = 0x7FFFFFFF;

int lockRange(HANDLE file, DWORD flags)
{
    OVERLAPPED at = {};
    at.Offset = LockOffsetLow;
    at.OffsetHigh = LockOffsetHigh;
    if (::LockFileEx(file, flags, 0, 1, 0, &at))
        return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK
                                                                      : errnoOf(error);
}

int lockFolder(HANDLE folder, DWORD flags)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(folder, &info))
        return lastError();
    std::wstring temporary(MAX_PATH + 1, L'\0');
    temporary.resize(::GetTempPathW(DWORD(temporary.size()), temporary.data()));
    if (temporary.empty())
        return lastError();
    std::wstring locks = widePath(encodeName(QString::fromStdWString(temporary)));
    if (!locks.ends_with(L'\\'))
        locks += L'\\';
    locks += L"quillmere-locks";
    if (!::CreateDirectoryW(locks.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return lastError(locks);
    const QString name = QString::number(info.dwVolumeSerialNumber, 16) + u'-' +
                         QString::number(fileNumberOf(folder, info), 16) + QStringLiteral(".lock");
    const std::wstring path = locks + L'\\' + wide(name);
    // Opened without sharing deletion: the file is removed only when no one has it open. It
    // cannot be opened for the moment another program takes to remove it.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
        file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
        const DWORD error = ::GetLastError();
        if (file != INVALID_HANDLE_VALUE)
            break;
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || attempt == 100)
            return lastError(path);
        ::Sleep(10);
    }
    if (const int error = lockRange(file, flags)) {
        ::CloseHandle(file);
        return error;
    }
    if (!processState().folders.locked(folder, file, path))
        ::CloseHandle(file); // locked through this handle before
    return 0;
}

int lockEither(const Fd &file, DWORD flags)
{
    const int error = lockRange(handleOf(file), flags);
    if (error == 0 || error == EWOULDBLOCK)
        return error;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(handleOf(file), &info) &&
        info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return lockFolder(handleOf(file), flags);
    return error;
}

} // namespace

int WindowsFileSystem::lock(const Fd &file)
{
    return lockEither(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY);
}

int WindowsFileSystem::waitForLock(const Fd &file)
{
    return lockEither(file, LOCKFILE_EXCLUSIVE_LOCK);
}

} // namespace runtime
