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
    processState().folders.opened(handleOf(made), path);
    opened = std::move(made);
    return 0;
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
    std::wstring path;
    DWORD attributes = 0;
    return openUnlinked(folder, name, NoFollow, file, path, attributes);
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

int WindowsFileSystem::removeFolderAt(const Fd &folder, const QByteArray &name)
{
    std::wstring path;
    if (const int error = pathAt(folder, name, path))
        return error;
    return ::RemoveDirectoryW(path.c_str()) ? 0 : lastError(path);
}

// Windows cannot flush a folder: the moves that give its names are made with
// MOVEFILE_WRITE_THROUGH, on the disk when they return.
int WindowsFileSystem::flushFolder(const QByteArray &)
{
    return 0;
}

// Windows cannot flush a folder: see flushFolder.
int WindowsFileSystem::flushOpenFolder(const Fd &)
{
    return 0;
}

// Windows flushes a volume only for an administrator: each file is flushed by itself.
int WindowsFileSystem::flushFileSystem(const QByteArray &)
{
    return ENOTSUP;
}

} // namespace runtime
