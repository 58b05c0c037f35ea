// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/windows/windowsfilesystem.h"

#include "runtime/error.h"
#include "runtime/hostpath.h"

#include <QString>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>
#include <windows.h>

namespace runtime {

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Entries are opened as they are, folders too; links are not followed where this is added.
constexpr DWORD AnyEntry = FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD NoFollow = FILE_FLAG_OPEN_REPARSE_POINT;

// The renames by handle of Windows 10, which replace a file that others hold open as POSIX
// does; older systems, FAT and Wine refuse them, and MoveFileExW does the work there.
constexpr auto FileRenameInfoByFlags = FILE_INFO_BY_HANDLE_CLASS(22);
constexpr DWORD RenameReplacing = 0x1, RenamePosix = 0x2;

// Locks are taken on one byte far past any data, so that they never block a read or a
// write of the file itself.
constexpr DWORD LockOffsetLow = 0xFFFFFFF0, LockOffsetHigh = 0x7FFFFFFF;

// Not in every SDK's headers.
constexpr DWORD ErrorDiskQuotaExceeded = 1295;

constexpr qint64 UnixEpoch = 116444736000000000; // 1970 in 100 ns steps since 1601

HANDLE handleOf(const Fd &file)
{
    return reinterpret_cast<HANDLE>(file.get());
}

// The status behind ERROR_ACCESS_DENIED: a file being removed is gone to the program, as
// it is on POSIX systems, where its name goes at once.
bool deletePending()
{
    using Call = LONG(WINAPI *)();
    static const auto lastStatus = reinterpret_cast<Call>(reinterpret_cast<void *>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));
    constexpr LONG StatusDeletePending = LONG(0xC0000056);
    return lastStatus && lastStatus() == StatusDeletePending;
}

// The errno of a Windows error.
int errnoOf(DWORD error)
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

int lastError()
{
    return errnoOf(::GetLastError());
}

// The last error of a call on `path`: a path that runs through a file is ENOTDIR, as on
// POSIX systems, where Windows says only that the path is not there.
int lastError(const std::wstring &path)
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

int result(BOOL done)
{
    return done ? 0 : lastError();
}

std::wstring wide(const QString &text)
{
    return text.toStdWString();
}

std::wstring fullPath(const std::wstring &given);

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
        const DWORD attributes = ::GetFileAttributesW(fullPath(before).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
    }
    return true;
}

// A path as the wide calls take it: absolute, separated by backslashes, in the \\?\ form
// that lifts the limit of 260 characters and passes every name as it is spelt. "" for a
// path that leads nowhere: every call fails on it with ERROR_PATH_NOT_FOUND.
std::wstring widePath(const QByteArray &path)
{
    const std::wstring given = wide(decodeName(path).replace(u'/', u'\\'));
    if (given.starts_with(L"\\\\?\\") || given.starts_with(L"\\\\.\\"))
        return given;
    if (given.find(L'.') != std::wstring::npos && !dotsAfterFolders(given))
        return {};
    return fullPath(given);
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

// What the program keeps of its open folders: the path each was opened by, and its lock.
// Windows locks byte ranges of files only: a folder is locked through a file of its own in
// the user's temporary folder, named by the folder's volume and index, and held open while
// the folder's handle is, so that the lock goes when that handle is closed or its process
// ends.
class OpenFolders
{
public:
    static OpenFolders &instance()
    {
        static OpenFolders folders;
        return folders;
    }

    void opened(HANDLE folder, const std::wstring &path)
    {
        const std::lock_guard guard(m_mutex);
        m_folders[folder].path = path;
        m_count.store(int(m_folders.size()), std::memory_order_release);
    }

    std::wstring path(HANDLE folder)
    {
        const std::lock_guard guard(m_mutex);
        const auto found = m_folders.find(folder);
        return found == m_folders.end() ? std::wstring() : found->second.path;
    }

    // False when the folder holds a lock already.
    bool locked(HANDLE folder, HANDLE file, const std::wstring &path)
    {
        const std::lock_guard guard(m_mutex);
        Folder &entry = m_folders[folder];
        m_count.store(int(m_folders.size()), std::memory_order_release);
        if (entry.lock != INVALID_HANDLE_VALUE)
            return false;
        entry.lock = file;
        entry.lockPath = path;
        return true;
    }

    void closed(HANDLE folder)
    {
        if (m_count.load(std::memory_order_acquire) == 0)
            return;
        Folder closing;
        {
            const std::lock_guard guard(m_mutex);
            const auto found = m_folders.find(folder);
            if (found == m_folders.end())
                return;
            closing = std::move(found->second);
            m_folders.erase(found);
            m_count.store(int(m_folders.size()), std::memory_order_release);
        }
        if (closing.lock == INVALID_HANDLE_VALUE)
            return;
        ::CloseHandle(closing.lock);
        // The lock's file goes with the last handle to it: another program that has it open,
        // to lock it or holding the lock, shares no deletion, and the removal fails.
        ::DeleteFileW(closing.lockPath.c_str());
    }

private:
    struct Folder
    {
        std::wstring path;
        HANDLE lock = INVALID_HANDLE_VALUE;
        std::wstring lockPath; // of the file that holds the lock
    };
    std::mutex m_mutex;
    std::unordered_map<HANDLE, Folder> m_folders;
    std::atomic<int> m_count = 0;
};

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
            path = OpenFolders::instance().path(handleOf(folder));
            return path.empty() ? error : 0;
        }
        if (size < path.size()) {
            path.resize(size);
            return 0;
        }
        path.resize(size); // the size asked for counts the closing zero
    }
}

// The path of the entry `name` of an open folder, or `name` as a path when none is open.
int pathAt(const Fd &folder, const QByteArray &name, std::wstring &path)
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

HANDLE openWide(const std::wstring &path, DWORD access, DWORD disposition, DWORD flags)
{
    return ::CreateFileW(path.c_str(), access, ShareAll, nullptr, disposition, flags, nullptr);
}

int opened(HANDLE handle, const std::wstring &path, Fd &file)
{
    if (handle == INVALID_HANDLE_VALUE)
        return lastError(path);
    file.reset(reinterpret_cast<Fd::Handle>(handle));
    return 0;
}

int openAt(const std::wstring &path, DWORD access, DWORD disposition, DWORD flags, Fd &file)
{
    return opened(openWide(path, access, disposition, flags), path, file);
}

// A reparse point that was not followed is a link: a symbolic link or a junction.
bool isLink(DWORD attributes)
{
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT;
}

// Files have no owner or permission bits here: each is the user's, a folder 0700 and a file
// 0600, less the write bits where the file is read-only. A folder's read-only attribute
// only asks the shell to look for its settings inside.
void fill(const BY_HANDLE_FILE_INFORMATION &info, FileStatus &status)
{
    const DWORD attributes = info.dwFileAttributes;
    const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    quint32 mode = isLink(attributes) ? FileStatus::LinkType | 0700
                   : folder           ? FileStatus::FolderType | 0700
                                      : FileStatus::RegularType | 0600;
    if (!folder && attributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~quint32(0222);
    const qint64 written = qint64((quint64(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                  info.ftLastWriteTime.dwLowDateTime);
    status = {info.dwVolumeSerialNumber,
              (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
              mode,
              0,
              0,
              qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow),
              info.nNumberOfLinks,
              (written - UnixEpoch) * 100};
}

int statusOf(HANDLE handle, FileStatus &status)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info))
        return lastError();
    fill(info, status);
    return 0;
}

int statusAt(const std::wstring &path, DWORD flags, FileStatus &status)
{
    Fd file;
    if (const int error = openAt(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, AnyEntry | flags, file))
        return error;
    return statusOf(handleOf(file), status);
}

// Whether the user may write to the entry: EACCES for a read-only file, or one the system
// does not let him write; EBUSY for one that another program holds without sharing it.
int writable(const std::wstring &path, DWORD flags)
{
    Fd file;
    if (const int error = openAt(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, AnyEntry | flags, file))
        return error;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handleOf(file), &info))
        return lastError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return EACCES;
    Fd forWriting;
    return openAt(path, FILE_WRITE_DATA, OPEN_EXISTING, AnyEntry | flags, forWriting);
}

// Sets or clears file attributes, the file's times left as they are.
int changeAttributes(HANDLE file, DWORD set, DWORD cleared)
{
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return lastError();
    const DWORD attributes = (basic.FileAttributes | set) & ~cleared;
    if (attributes == basic.FileAttributes)
        return 0;
    basic = {};
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return result(::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic));
}

// Removes a file, read-only or not, as POSIX removes a name whatever the file's mode.
int removeFile(const std::wstring &path)
{
    if (::DeleteFileW(path.c_str()))
        return 0;
    const int error = lastError(path);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (error != EACCES || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY) || attributes & FILE_ATTRIBUTE_DIRECTORY)
        return error;
    if (!::SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)))
        return error;
    if (::DeleteFileW(path.c_str()))
        return 0;
    const int again = lastError(path);
    ::SetFileAttributesW(path.c_str(), attributes);
    return again;
}

// A move that cannot replace its destination because another program holds it open says
// ERROR_ACCESS_DENIED, as a file the user may not write does: EBUSY for the first.
int moveError(const std::wstring &from, const std::wstring &to)
{
    const int error = lastError(from);
    if (error != EACCES)
        return error;
    const HANDLE held = openWide(to, DELETE, OPEN_EXISTING, AnyEntry | NoFollow);
    if (held != INVALID_HANDLE_VALUE) {
        ::CloseHandle(held);
        return error;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION ? EBUSY : error;
}

// MOVEFILE_WRITE_THROUGH: the move is on the disk when the call returns.
int move(const std::wstring &from, const std::wstring &to)
{
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return moveError(from, to);
}

int writeAll(HANDLE file, const char *data, qint64 size)
{
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<qint64>(size, 1 << 30));
        if (!::WriteFile(file, data, chunk, &written, nullptr))
            return lastError();
        if (written == 0)
            return ENOSPC;
        data += written;
        size -= written;
    }
    return 0;
}

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
    const QString name =
        QString::number(info.dwVolumeSerialNumber, 16) + u'-' +
        QString::number((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow, 16) +
        QStringLiteral(".lock");
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
    if (!OpenFolders::instance().locked(folder, file, path))
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

// The entries of a folder by its path, names as UTF-8 bytes in one buffer.
int listPath(const std::wstring &folder, FolderListing &listing)
{
    listing.entries.clear();
    if (folder.empty())
        return ENOENT;
    WIN32_FIND_DATAW found;
    const std::wstring pattern = folder + (folder.ends_with(L'\\') ? L"*" : L"\\*");
    const HANDLE find =
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                           FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const int error = lastError(pattern);
        const DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return error;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return ENOTDIR;
        if (error != ENOENT)
            return error;
        listing.names.reset(new char[1]); // a drive's root without a single entry
        return 0;
    }
    std::string names;
    std::vector<std::pair<std::size_t, FolderEntry::Kind>> at;
    for (;;) {
        const std::wstring_view name(found.cFileName);
        if (name != L"." && name != L"..") {
            const QByteArray bytes = encodeName(QString::fromWCharArray(name.data(), name.size()));
            const DWORD attributes = found.dwFileAttributes;
            at.emplace_back(names.size(), isLink(attributes) ? FolderEntry::Unknown
                                          : attributes & FILE_ATTRIBUTE_DIRECTORY
                                              ? FolderEntry::Folder
                                              : FolderEntry::File);
            names.append(bytes.constData(), std::size_t(bytes.size()));
            names.push_back('\0');
        }
        if (!::FindNextFileW(find, &found))
            break;
    }
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    if (error != ERROR_NO_MORE_FILES)
        return errnoOf(error);
    listing.names.reset(new char[names.size() + 1]);
    std::memcpy(listing.names.get(), names.data(), names.size());
    listing.entries.reserve(at.size());
    for (const auto &[offset, kind] : at)
        listing.entries.push_back({listing.names.get() + offset, kind});
    return 0;
}

} // namespace

void Fd::reset(Handle fd)
{
    if (m_fd != -1) {
        OpenFolders::instance().closed(reinterpret_cast<HANDLE>(m_fd));
        ::CloseHandle(reinterpret_cast<HANDLE>(m_fd));
    }
    m_fd = fd;
}

int WindowsFileSystem::open(const QByteArray &path, Fd &file)
{
    return openAt(widePath(path), GENERIC_READ, OPEN_EXISTING, AnyEntry | FILE_FLAG_SEQUENTIAL_SCAN,
                  file);
}

int WindowsFileSystem::openEntry(const QByteArray &path, Fd &file)
{
    return openAt(widePath(path), GENERIC_READ, OPEN_EXISTING, AnyEntry | NoFollow, file);
}

int WindowsFileSystem::status(const QByteArray &path, FileStatus &status)
{
    return statusAt(widePath(path), 0, status);
}

int WindowsFileSystem::entryStatus(const QByteArray &path, FileStatus &status)
{
    return statusAt(widePath(path), NoFollow, status);
}

int WindowsFileSystem::status(const Fd &file, FileStatus &status)
{
    return statusOf(handleOf(file), status);
}

int WindowsFileSystem::access(const QByteArray &path)
{
    return writable(widePath(path), 0);
}

// Windows has no files without a name: the copy is written under a hidden temporary name
// beside its destination, open for the rename that puts it there.
int WindowsFileSystem::createTemporary(const QByteArray &destination, QByteArray &path, bool &named,
                                       Fd &file)
{
    named = true;
    const qsizetype slash = std::max(destination.lastIndexOf('/'), destination.lastIndexOf('\\'));
    const QByteArray folder = destination.left(slash + 1);
    for (int attempt = 0;; ++attempt) {
        path = folder + newTemporaryName();
        const int error = openAt(widePath(path), GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW,
                                 FILE_ATTRIBUTE_HIDDEN, file);
        if (error == 0)
            return 0;
        if (error != EEXIST || attempt >= 100) {
            path.clear();
            return error;
        }
    }
}

int WindowsFileSystem::lock(const Fd &file)
{
    return lockEither(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY);
}

int WindowsFileSystem::waitForLock(const Fd &file)
{
    return lockEither(file, LOCKFILE_EXCLUSIVE_LOCK);
}

// Read and written through a buffer of 1 MiB: Windows' own copy calls take paths, not the
// open files the copy is made between.
int WindowsFileSystem::copy(const Fd &from, const Fd &to, qint64, bool &cloned)
{
    cloned = false;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(handleOf(from), buffer.data(), DWORD(buffer.size()), &read, nullptr))
            return lastError();
        if (read == 0)
            return 0;
        if (const int error = writeAll(handleOf(to), buffer.data(), read))
            return error;
    }
}

// The owner's write bit is the read-only attribute.
int WindowsFileSystem::setMode(const Fd &file, quint32 permissions)
{
    return permissions & 0200 ? changeAttributes(handleOf(file), 0, FILE_ATTRIBUTE_READONLY)
                              : changeAttributes(handleOf(file), FILE_ATTRIBUTE_READONLY, 0);
}

// Files have no numeric owner here to give.
int WindowsFileSystem::setOwner(const Fd &, quint32, quint32)
{
    return 0;
}

int WindowsFileSystem::setModified(const Fd &file, qint64 modified)
{
    const quint64 ticks = quint64(modified / 100 + UnixEpoch);
    const FILETIME time = {DWORD(ticks), DWORD(ticks >> 32)};
    return result(::SetFileTime(handleOf(file), nullptr, nullptr, &time));
}

// A file opened to read is flushed through a second handle that may write.
int WindowsFileSystem::flushFile(const Fd &file)
{
    if (::FlushFileBuffers(handleOf(file)))
        return 0;
    if (::GetLastError() != ERROR_ACCESS_DENIED)
        return lastError();
    const HANDLE reopened =
        ::ReOpenFile(handleOf(file), GENERIC_WRITE, ShareAll, FILE_FLAG_BACKUP_SEMANTICS);
    if (reopened == INVALID_HANDLE_VALUE)
        return lastError();
    const Fd writing(reinterpret_cast<Fd::Handle>(reopened));
    return result(::FlushFileBuffers(handleOf(writing)));
}

int WindowsFileSystem::readAt(const Fd &file, qint64 offset, char *buffer, qint64 size, qint64 &got)
{
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD read = 0;
    got = 0;
    if (!::ReadFile(handleOf(file), buffer, DWORD(std::min<qint64>(size, 1 << 30)), &read,
                    offset == AtPosition ? nullptr : &at)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : errnoOf(error);
    }
    got = read;
    return 0;
}

int WindowsFileSystem::listFolder(const QByteArray &path, FolderListing &listing)
{
    return listPath(widePath(path), listing);
}

// Windows cannot flush a folder: the moves that give its names are made with
// MOVEFILE_WRITE_THROUGH, on the disk when they return.
int WindowsFileSystem::flushFolder(const QByteArray &)
{
    return 0;
}

// Windows flushes a volume only for an administrator: each file is flushed by itself.
int WindowsFileSystem::flushFileSystem(const QByteArray &)
{
    return ENOTSUP;
}

int WindowsFileSystem::rename(const QByteArray &from, const Fd &file, const QByteArray &to)
{
    const std::wstring source = widePath(from), target = widePath(to);
    if (file.isOpen()) {
        // The copy shows once it has its destination's name.
        changeAttributes(handleOf(file), 0, FILE_ATTRIBUTE_HIDDEN);
        std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
        auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
        const DWORD flags = RenameReplacing | RenamePosix;
        std::memcpy(buffer.data(), &flags, sizeof flags);
        info->FileNameLength = DWORD(target.size() * sizeof(wchar_t));
        std::memcpy(info->FileName, target.data(), info->FileNameLength);
        if (::SetFileInformationByHandle(handleOf(file), FileRenameInfoByFlags, info,
                                         DWORD(buffer.size())))
            return 0;
        const DWORD error = ::GetLastError();
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
            error != ERROR_INVALID_FUNCTION)
            return moveError(source, target);
    }
    return move(source, target);
}

int WindowsFileSystem::remove(const QByteArray &path)
{
    return removeFile(widePath(path));
}

// Folders take their permissions from the folder they are made in.
int WindowsFileSystem::makeFolder(const QByteArray &path, quint32)
{
    const std::wstring folder = widePath(path);
    return ::CreateDirectoryW(folder.c_str(), nullptr) ? 0 : lastError(folder);
}

int WindowsFileSystem::removeFolder(const QByteArray &path)
{
    const std::wstring folder = widePath(path);
    return ::RemoveDirectoryW(folder.c_str()) ? 0 : lastError(folder);
}

// A volume without second names (FAT, exFAT) is to the caller another file system: it
// copies the file instead.
int WindowsFileSystem::link(const QByteArray &from, const QByteArray &to)
{
    const std::wstring existing = widePath(from), name = widePath(to);
    if (::CreateHardLinkW(name.c_str(), existing.c_str(), nullptr))
        return 0;
    const DWORD error = ::GetLastError();
    if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED)
        return EXDEV;
    ::SetLastError(error);
    return lastError(name);
}

int WindowsFileSystem::create(const QByteArray &path, Fd &file)
{
    return openAt(widePath(path), GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW, 0, file);
}

int WindowsFileSystem::write(const Fd &file, const QByteArray &data)
{
    return writeAll(handleOf(file), data.constData(), data.size());
}

// Handles are limited only by memory: a few thousand copies may wait for their flush.
std::size_t WindowsFileSystem::openFileBudget()
{
    return 4096;
}

namespace {

// Opens an entry of a folder for reading, with its path and attributes; ELOOP for a link
// that was not followed.
int openUnlinked(const Fd &folder, const QByteArray &name, DWORD flags, Fd &opened,
                 std::wstring &path, DWORD &attributes)
{
    if (const int error = pathAt(folder, name, path))
        return error;
    Fd made;
    if (const int error = openAt(path, GENERIC_READ, OPEN_EXISTING, AnyEntry | flags, made))
        return error;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handleOf(made), &info))
        return lastError();
    attributes = info.dwFileAttributes;
    if (isLink(attributes))
        return ELOOP;
    opened = std::move(made);
    return 0;
}

// Opens a folder; ELOOP for a link that is not to be followed, ENOTDIR for anything else.
int openFolder(const Fd &folder, const QByteArray &name, DWORD flags, Fd &opened)
{
    std::wstring path;
    DWORD attributes = 0;
    Fd made;
    if (const int error = openUnlinked(folder, name, flags, made, path, attributes))
        return error;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ENOTDIR;
    OpenFolders::instance().opened(handleOf(made), path);
    opened = std::move(made);
    return 0;
}

} // namespace

int WindowsFileSystem::openFolderAt(const Fd &folder, const QByteArray &name, Fd &opened)
{
    return openFolder(folder, name, folder.isOpen() ? NoFollow : 0, opened);
}

int WindowsFileSystem::openLinkedFolderAt(const Fd &folder, const QByteArray &name, Fd &opened)
{
    return openFolder(folder, name, 0, opened);
}

int WindowsFileSystem::entryStatusAt(const Fd &folder, const QByteArray &name, FileStatus &status)
{
    std::wstring path;
    if (const int error = pathAt(folder, name, path))
        return error;
    return statusAt(path, NoFollow, status);
}

int WindowsFileSystem::openEntryAt(const Fd &folder, const QByteArray &name, Fd &file)
{
    std::wstring path;
    DWORD attributes = 0;
    return openUnlinked(folder, name, NoFollow, file, path, attributes);
}

int WindowsFileSystem::accessAt(const Fd &folder, const QByteArray &name)
{
    std::wstring path;
    if (const int error = pathAt(folder, name, path))
        return error;
    return writable(path, NoFollow);
}

int WindowsFileSystem::removeAt(const Fd &folder, const QByteArray &name)
{
    std::wstring path;
    if (const int error = pathAt(folder, name, path))
        return error;
    return removeFile(path);
}

int WindowsFileSystem::removeFolderAt(const Fd &folder, const QByteArray &name)
{
    std::wstring path;
    if (const int error = pathAt(folder, name, path))
        return error;
    return ::RemoveDirectoryW(path.c_str()) ? 0 : lastError(path);
}

int WindowsFileSystem::renameAt(const Fd &fromFolder, const QByteArray &from, const Fd &toFolder,
                                const QByteArray &to)
{
    std::wstring source, target;
    if (const int error = pathAt(fromFolder, from, source))
        return error;
    if (const int error = pathAt(toFolder, to, target))
        return error;
    return move(source, target);
}

// Without the owner's write bit, the file is made read-only; it stays writable through the
// handle that made it.
int WindowsFileSystem::createAt(const Fd &folder, const QByteArray &name, quint32 permissions,
                                Fd &file)
{
    std::wstring path;
    if (const int error = pathAt(folder, name, path))
        return error;
    const DWORD attributes = permissions & 0200 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
    return openAt(path, GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW, attributes | NoFollow,
                  file);
}

// The folder's names through its handle, so that a folder renamed since it was opened is
// still the one read.
int WindowsFileSystem::readFolder(const Fd &folder, QByteArrayList &names)
{
    names.clear();
    std::vector<char> buffer(64 * 1024);
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;;
         kind = FileIdBothDirectoryInfo) {
        if (!::GetFileInformationByHandleEx(handleOf(folder), kind, buffer.data(),
                                            DWORD(buffer.size()))) {
            const DWORD error = ::GetLastError();
            return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND ? 0
                                                                                 : errnoOf(error);
        }
        for (std::size_t at = 0;;) {
            const auto *entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(buffer.data() + at);
            const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                names.append(encodeName(QString::fromWCharArray(name.data(), name.size())));
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
}

// Windows cannot flush a folder: see flushFolder.
int WindowsFileSystem::flushOpenFolder(const Fd &)
{
    return 0;
}

} // namespace runtime
