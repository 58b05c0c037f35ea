// SPDX-License-Identifier: GPL-3.0-or-later
// Folders on Windows: the table of open folders, listings, folders opened and flushed.
#include "runtime/windows/windowscalls.h"

#include <cstring>
#include <vector>

namespace runtime {

using namespace windows;

void windows::OpenFolders::opened(HANDLE folder, const std::wstring &path)
{
    const std::lock_guard guard(m_mutex);
    m_folders[folder].path = path;
    m_count.store(int(m_folders.size()), std::memory_order_release);
}

std::wstring windows::OpenFolders::path(HANDLE folder)
{
    const std::lock_guard guard(m_mutex);
    const auto found = m_folders.find(folder);
    return found == m_folders.end() ? std::wstring() : found->second.path;
}

bool windows::OpenFolders::locked(HANDLE folder, HANDLE file, const std::wstring &path)
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

void windows::OpenFolders::closed(HANDLE folder)
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

namespace {

// Hidden and system files, Thumbs.db and desktop.ini, are not listed, as the game lists only
// ordinary files; but the program's own temporary files, hidden from the player, are, so
// that an abandoned one is found and removed. Folders are listed hidden or not: the player
// may keep a game in one, and Wine takes every name that starts with a dot for hidden.
constexpr DWORD Unlisted = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Folders opened to work in are shared for reading and writing but not for deletion: no
// other program renames or removes one, or puts a link in its place, while the program works
// in it. The program closes its own handle to a folder before it removes or renames it.
constexpr DWORD FolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

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
        const DWORD attributes = found.dwFileAttributes;
        const QByteArray bytes =
            name == L"." || name == L".."
                ? QByteArray()
                : encodeName(QString::fromWCharArray(name.data(), name.size()));
        const bool listed = !(attributes & Unlisted) || attributes & FILE_ATTRIBUTE_DIRECTORY ||
                            isTemporaryName(bytes);
        if (!bytes.isEmpty() && listed) {
            // dwReserved0 holds the tag of a reparse point ("WIN32_FIND_DATAW",
            // https://learn.microsoft.com/windows/win32/api/minwinbase/ns-minwinbase-win32_find_dataw).
            at.emplace_back(names.size(),
                            isLink(attributes, found.dwReserved0)   ? FolderEntry::Unknown
                            : attributes & FILE_ATTRIBUTE_DIRECTORY ? FolderEntry::Folder
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

// Opens an entry of a folder for reading, with its attributes; ELOOP for a link that was not
// followed. A reparse point of another kind (a cloud file's placeholder) is opened again,
// followed, for its data: the same file, or ELOOP.
int openUnlinked(const Place &place, DWORD flags, DWORD share, Fd &opened, DWORD &attributes)
{
    Fd made;
    if (const int error =
            openPlace(place, GENERIC_READ, OPEN_EXISTING, AnyEntry | flags, made, share))
        return error;
    DWORD tag = 0;
    if (const int error = tagOf(handleOf(made), attributes, tag))
        return error;
    if (!(flags & NoFollow) || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        opened = std::move(made);
        return 0;
    }
    if (isLink(attributes, tag))
        return ELOOP;
    Fd followed;
    BY_HANDLE_FILE_INFORMATION was, is;
    if (const int error = openPlace(place, GENERIC_READ, OPEN_EXISTING,
                                    AnyEntry | (flags & ~NoFollow), followed, share))
        return error;
    if (!::GetFileInformationByHandle(handleOf(made), &was) ||
        !::GetFileInformationByHandle(handleOf(followed), &is))
        return lastError();
    if (was.dwVolumeSerialNumber != is.dwVolumeSerialNumber ||
        fileNumberOf(handleOf(made), was) != fileNumberOf(handleOf(followed), is))
        return ELOOP;
    opened = std::move(followed);
    return 0;
}

// Opens a folder; ELOOP for a link that is not to be followed, ENOTDIR for anything else. Its
// path is kept as the text it was opened by, for the rare call that needs one.
int openFolder(const Fd &folder, const QByteArray &name, DWORD flags, Fd &opened)
{
    Place place;
    if (const int error = placeOf(folder, name, place))
        return error;
    DWORD attributes = 0;
    Fd made;
    if (const int error = openUnlinked(place, flags, FolderSharing, made, attributes))
        return error;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ENOTDIR;
    std::wstring path = place.name;
    if (place.folder) {
        path = processState().folders.path(place.folder);
        if (!path.empty() && !place.name.empty())
            (path += path.ends_with(L'\\') ? L"" : L"\\") += place.name;
    }
    processState().folders.opened(handleOf(made), path);
    opened = std::move(made);
    return 0;
}

// Removes an empty folder (or a link) through a handle to it.
int removeFolderOf(const Place &place)
{
    Fd file;
    if (const int error = openPlace(place, DELETE | FILE_WRITE_ATTRIBUTES, OPEN_EXISTING,
                                    AnyEntry | NoFollow, file))
        return error;
    DWORD attributes = 0, tag = 0;
    if (const int error = tagOf(handleOf(file), attributes, tag))
        return error;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ENOTDIR;
    return removeOpen(handleOf(file));
}

// FlushFileBuffers on a folder's handle opened to write writes its names out where the file
// system can ("FlushFileBuffers function",
// https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-flushfilebuffers; NTFS
// flushes a directory so opened, "NtFlushBuffersFile",
// https://learn.microsoft.com/windows-hardware/drivers/ddi/ntifs/nf-ntifs-ntflushbuffersfile).
// A file system that cannot (FAT, a network share) or a folder that cannot be opened to write
// (in which nothing was renamed either) is no failure: 0, as the renames by path are made
// with MOVEFILE_WRITE_THROUGH.
int flushWritable(HANDLE folder)
{
    if (::FlushFileBuffers(folder))
        return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
                   error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_PARAMETER
               ? 0
               : errnoOf(error);
}

int refusedFlush(int error)
{
    return error == EACCES || error == ENOTSUP || error == EROFS ? 0 : error;
}

} // namespace

int WindowsFileSystem::listFolder(const QByteArray &path, FolderListing &listing)
{
    return listPath(widePath(path), listing);
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

int WindowsFileSystem::openFolderAt(const Fd &folder, const QByteArray &name, Fd &opened)
{
    return openFolder(folder, name, folder.isOpen() ? NoFollow : 0, opened);
}

int WindowsFileSystem::openLinkedFolderAt(const Fd &folder, const QByteArray &name, Fd &opened)
{
    return openFolder(folder, name, 0, opened);
}

int WindowsFileSystem::openEntryAt(const Fd &folder, const QByteArray &name, Fd &file)
{
    Place place;
    if (const int error = placeOf(folder, name, place))
        return error;
    DWORD attributes = 0;
    return openUnlinked(place, NoFollow, ShareAll, file, attributes);
}

// Folders take their permissions from the folder they are made in.
int WindowsFileSystem::makeFolder(const QByteArray &path, quint32)
{
    const std::wstring folder = widePath(path);
    return ::CreateDirectoryW(folder.c_str(), nullptr) ? 0 : lastError(folder);
}

int WindowsFileSystem::removeFolder(const QByteArray &path)
{
    return removeFolderOf({nullptr, widePath(path)});
}

int WindowsFileSystem::removeFolderAt(const Fd &folder, const QByteArray &name)
{
    Place place;
    if (const int error = placeOf(folder, name, place))
        return error;
    return removeFolderOf(place);
}

int WindowsFileSystem::flushFolder(const QByteArray &path)
{
    Fd folder;
    if (const int error = openAt(widePath(path), GENERIC_WRITE, OPEN_EXISTING, AnyEntry, folder))
        return refusedFlush(error);
    return flushWritable(handleOf(folder));
}

// Through a second handle that may write ("ReOpenFile function",
// https://learn.microsoft.com/windows/win32/api/winbase/nf-winbase-reopenfile).
int WindowsFileSystem::flushOpenFolder(const Fd &folder)
{
    const HANDLE reopened = ::ReOpenFile(handleOf(folder), GENERIC_WRITE, ShareAll, AnyEntry);
    if (reopened == INVALID_HANDLE_VALUE)
        return refusedFlush(lastError());
    const Fd writing(reinterpret_cast<Fd::Handle>(reopened));
    return flushWritable(handleOf(writing));
}

// Windows flushes a volume only for an administrator: each file is flushed by itself.
int WindowsFileSystem::flushFileSystem(const QByteArray &)
{
    return ENOTSUP;
}

} // namespace runtime
