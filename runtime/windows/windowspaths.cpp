// SPDX-License-Identifier: GPL-3.0-or-later
// Paths and handles on Windows: wide paths in the \\?\ form, the errno of each error, files
// opened by path, and the process's state.
#include "runtime/error.h"
#include "runtime/windows/windowscalls.h"

#include <cwctype>
#include <vector>

namespace runtime {

using namespace windows;

namespace {

template <typename Call> void resolve(Call &call, const char *name)
{
    call = reinterpret_cast<Call>(
        reinterpret_cast<void *>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

} // namespace

windows::WindowsProcessState::WindowsProcessState()
{
    resolve(lastNtStatus, "RtlGetLastNtStatus");
    resolve(ntCreateFile, "NtCreateFile");
    resolve(ntQueryAttributesFile, "NtQueryAttributesFile");
    resolve(ntSetInformationFile, "NtSetInformationFile");
    resolve(ntQueryInformationFile, "NtQueryInformationFile");
    resolve(ntStatusToError, "RtlNtStatusToDosError");
}

WindowsProcessState &windows::processState()
{
    static WindowsProcessState state;
    return state;
}

namespace {

// Not in every SDK's headers.
constexpr DWORD ErrorDiskQuotaExceeded = 1295;

// The status behind ERROR_ACCESS_DENIED: a file being removed is gone to the program, as
// it is on POSIX systems, where its name goes at once.
bool deletePending()
{
    const auto lastStatus = processState().lastNtStatus;
    constexpr LONG StatusDeletePending = LONG(0xC0000056);
    return lastStatus && lastStatus() == StatusDeletePending;
}

std::wstring fullPath(const std::wstring &given)
{
    DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    std::wstring full;
    while (size > full.size()) {
        full.resize(size);
        size = ::GetFullPathNameW(given.c_str(), DWORD(full.size()), full.data(), nullptr);
    }
    if (size == 0)
        return given; // the call that takes it says what is wrong
    full.resize(size);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\"))
        return full; // a device
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// An absolute path, "C:\..." or "\\server\share\...", in the \\?\ form by its text alone:
// GetFullPathNameW would drop trailing dots and spaces from names and make "nul" or "com1"
// devices ("Naming Files, Paths, and Namespaces",
// https://learn.microsoft.com/windows/win32/fileio/naming-a-file). "." and ".." are taken
// out as Windows takes them out; "" for any other path.
std::wstring absoluteByText(const std::wstring &given)
{
    constexpr auto npos = std::wstring::npos;
    std::wstring root;
    std::size_t start = 0;
    if (given.size() >= 3 && given[1] == L':' && given[2] == L'\\' && std::iswalpha(given[0])) {
        root = L"\\\\?\\" + given.substr(0, 3);
        start = 3;
    } else if (given.starts_with(L"\\\\") && given.size() > 2 && given[2] != L'\\') {
        const std::size_t server = given.find(L'\\', 2);
        if (server == npos || server + 1 == given.size() || given[server + 1] == L'\\')
            return {};
        const std::size_t share = given.find(L'\\', server + 1);
        root = L"\\\\?\\UNC\\" + given.substr(2, share == npos ? npos : share - 2) + L'\\';
        start = share == npos ? given.size() : share + 1;
    } else {
        return {};
    }
    std::vector<std::wstring_view> names;
    for (std::size_t end = start; start < given.size(); start = end + 1) {
        end = std::min(given.find(L'\\', start), given.size());
        const std::wstring_view name = std::wstring_view(given).substr(start, end - start);
        if (name == L".." && !names.empty())
            names.pop_back();
        else if (!name.empty() && name != L"." && name != L"..")
            names.push_back(name);
    }
    std::wstring path = root;
    for (const std::wstring_view name : names)
        (path += name) += L'\\';
    if (!names.empty())
        path.pop_back();
    return path;
}

// Whether each "." and ".." of a path comes after a folder: Windows takes them out of a
// path by its text alone, where a POSIX host finds "a0.dta/.." no folder.
bool dotsAfterFolders(const std::wstring &given)
{
    bool checked = false; // the entry before a run of "." and ".." is known to be a folder
    for (std::size_t start = 0, end = 0; end != std::wstring::npos; start = end + 1) {
        end = given.find(L'\\', start);
        const std::wstring_view name =
            std::wstring_view(given).substr(start, end == std::wstring::npos ? end : end - start);
        if (name.empty())
            continue;
        if (name != L"." && name != L"..") {
            checked = false;
            continue;
        }
        if (start == 0 || std::exchange(checked, true))
            continue;
        const std::wstring before = given.substr(0, start);
        if (before.find_first_not_of(L'\\') == std::wstring::npos ||
            (before.size() == 3 && before[1] == L':'))
            continue; // a root is a folder
        std::wstring folder = absoluteByText(before);
        const DWORD attributes =
            ::GetFileAttributesW((folder.empty() ? fullPath(before) : folder).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
    }
    return true;
}

// The path of an open folder, links resolved, in the \\?\ form.
int folderPath(const Fd &folder, std::wstring &path)
{
    path.resize(MAX_PATH);
    for (;;) {
        const DWORD size = ::GetFinalPathNameByHandleW(handleOf(folder), path.data(),
                                                       DWORD(path.size()), VOLUME_NAME_DOS);
        if (size == 0) {
            // Wine answers only for paths of up to 260 characters: the path the folder was
            // opened by then.
            const int error = lastError();
            path = processState().folders.path(handleOf(folder));
            return path.empty() ? error : 0;
        }
        if (size < path.size()) {
            path.resize(size);
            return 0;
        }
        path.resize(size); // the size asked for counts the closing zero
    }
}

} // namespace

int windows::errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return deletePending() ? ENOENT : EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ErrorDiskQuotaExceeded:
        return EDQUOT;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_TOO_MANY_LINKS:
        return EMLINK;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return ENOTSUP;
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
        return ESTALE;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

int windows::lastError()
{
    return errnoOf(::GetLastError());
}

int windows::lastError(const std::wstring &path)
{
    const DWORD error = ::GetLastError();
    if (error != ERROR_PATH_NOT_FOUND)
        return errnoOf(error);
    for (std::size_t end = path.rfind(L'\\'); end != std::wstring::npos && end > 0;
         end = path.rfind(L'\\', end - 1)) {
        const DWORD attributes = ::GetFileAttributesW(path.substr(0, end).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            return attributes & FILE_ATTRIBUTE_DIRECTORY ? ENOENT : ENOTDIR;
    }
    return ENOENT;
}

int windows::result(BOOL done)
{
    return done ? 0 : lastError();
}

std::wstring windows::widePath(const QByteArray &path)
{
    const std::wstring given = wide(decodeName(path).replace(u'/', u'\\'));
    if (given.starts_with(L"\\\\?\\") || given.starts_with(L"\\\\.\\"))
        return given;
    if (given.find(L'.') != std::wstring::npos && !dotsAfterFolders(given))
        return {};
    std::wstring absolute = absoluteByText(given);
    return absolute.empty() ? fullPath(given) : absolute;
}

int windows::pathAt(const Fd &folder, const QByteArray &name, std::wstring &path)
{
    if (!folder.isOpen()) {
        path = widePath(name);
        return 0;
    }
    if (const int error = folderPath(folder, path))
        return error;
    if (name == ".")
        return 0;
    if (name == "..") {
        const std::size_t slash = path.rfind(L'\\', path.size() - 2);
        if (slash != std::wstring::npos && path.find(L'\\', 4) < slash)
            path.resize(slash); // the root is its own parent
        return 0;
    }
    if (!path.ends_with(L'\\'))
        path += L'\\';
    path += wide(decodeName(name).replace(u'/', u'\\'));
    return 0;
}

HANDLE windows::openWide(const std::wstring &path, DWORD access, DWORD disposition, DWORD flags)
{
    return ::CreateFileW(path.c_str(), access, ShareAll, nullptr, disposition, flags, nullptr);
}

int windows::openAt(const std::wstring &path, DWORD access, DWORD disposition, DWORD flags,
                    Fd &file)
{
    return openPlace({nullptr, path}, access, disposition, flags, file);
}

void Fd::reset(Handle fd)
{
    if (m_fd != -1) {
        processState().folders.closed(reinterpret_cast<HANDLE>(m_fd));
        ::CloseHandle(reinterpret_cast<HANDLE>(m_fd));
    }
    m_fd = fd;
}

} // namespace runtime
