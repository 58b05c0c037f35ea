// SPDX-License-Identifier: GPL-3.0-or-later
// Files on Windows: opened, created, copied, renamed and removed, their attributes and times.
#include "runtime/windows/windowscalls.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <winternl.h>

namespace runtime {

using namespace windows;

namespace {

constexpr qint64 UnixEpoch = 116444736000000000; // 1970 in 100 ns steps since 1601

// Files have no owner or permission bits here: each is the user's, a folder 0700 and a file
// 0600, less the write bits where the file is read-only. A folder's read-only attribute
// only asks the shell to look for its settings inside.
void fill(const BY_HANDLE_FILE_INFORMATION &info, quint64 number, DWORD tag, FileStatus &status)
{
    const DWORD attributes = info.dwFileAttributes;
    const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    quint32 mode = isLink(attributes, tag) ? FileStatus::LinkType | 0700
                   : folder                ? FileStatus::FolderType | 0700
                                           : FileStatus::RegularType | 0600;
    if (!folder && attributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~quint32(0222);
    const qint64 written = qint64((quint64(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                  info.ftLastWriteTime.dwLowDateTime);
    status = {info.dwVolumeSerialNumber,
              number,
              mode,
              0,
              0,
              qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow),
              info.nNumberOfLinks,
              (written - UnixEpoch) * 100};
}

// A reparse point's tag is asked only of an entry that is one: a handle that followed links
// is never one of a link, since a link is a reparse point whose tag names another entry.
int statusOf(HANDLE handle, FileStatus &status)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info))
        return lastError();
    DWORD attributes = info.dwFileAttributes, tag = 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (const int error = tagOf(handle, attributes, tag))
            return error;
    }
    fill(info, fileNumberOf(handle, info), tag, status);
    return 0;
}

// FILE_INTERNAL_INFORMATION, the index GetFileInformationByHandle reports as nFileIndexHigh
// and nFileIndexLow ("FILE_INTERNAL_INFORMATION structure",
// https://learn.microsoft.com/windows-hardware/drivers/ddi/ntifs/ns-ntifs-_file_internal_information).
constexpr ULONG InternalInformation = 6;

// As statusOf, but for the volume's serial, given: Wine asks its mount manager for it, a
// dozen calls to its server, where the attributes, times, size, links and index come from
// the open file itself ("FILE_BASIC_INFO", "FILE_STANDARD_INFO", GetFileInformationByHandleEx:
// https://learn.microsoft.com/windows/win32/api/winbase/nf-winbase-getfileinformationbyhandleex).
int statusOnVolume(HANDLE handle, DWORD volume, FileStatus &status)
{
    const auto query = processState().ntQueryInformationFile;
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    LARGE_INTEGER index{};
    IO_STATUS_BLOCK io{};
    if (!query)
        return statusOf(handle, status);
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return lastError();
    if (query(handle, &io, &index, sizeof index, InternalInformation) < 0)
        return statusOf(handle, status);
    BY_HANDLE_FILE_INFORMATION info{};
    info.dwFileAttributes = basic.FileAttributes;
    info.ftLastWriteTime = {DWORD(basic.LastWriteTime.QuadPart),
                            DWORD(quint64(basic.LastWriteTime.QuadPart) >> 32)};
    info.dwVolumeSerialNumber = volume;
    info.nFileSizeHigh = DWORD(quint64(standard.EndOfFile.QuadPart) >> 32);
    info.nFileSizeLow = DWORD(standard.EndOfFile.QuadPart);
    info.nNumberOfLinks = standard.NumberOfLinks;
    info.nFileIndexHigh = DWORD(quint64(index.QuadPart) >> 32);
    info.nFileIndexLow = DWORD(index.QuadPart);
    DWORD attributes = info.dwFileAttributes, tag = 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (const int error = tagOf(handle, attributes, tag))
            return error;
    }
    fill(info, fileNumberOf(handle, info), tag, status);
    return 0;
}

int statusAt(const Place &place, DWORD flags, FileStatus &status)
{
    Fd file;
    if (const int error =
            openPlace(place, FILE_READ_ATTRIBUTES, OPEN_EXISTING, AnyEntry | flags, file))
        return error;
    return statusOf(handleOf(file), status);
}

// Whether the user may write to the entry: EACCES for a read-only file, which cannot be
// opened to write, or one the system does not let him write; EBUSY for one that another
// program holds without sharing it.
int writable(const Place &place, DWORD flags)
{
    Fd forWriting;
    return openPlace(place, FILE_WRITE_DATA, OPEN_EXISTING, AnyEntry | flags, forWriting);
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

// Removes a file, read-only or not, as POSIX removes a name whatever the file's mode: a link
// itself, not what it leads to.
int removeFile(const Place &place)
{
    Fd file;
    if (const int error =
            openPlace(place, DELETE | FILE_WRITE_ATTRIBUTES, OPEN_EXISTING, NoFollow, file))
        return error;
    return removeOpen(handleOf(file));
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

// MOVEFILE_WRITE_THROUGH: the move is on the disk when the call returns ("MoveFileExW
// function", https://learn.microsoft.com/windows/win32/api/winbase/nf-winbase-movefileexw).
int move(const std::wstring &from, const std::wstring &to, bool replace = true)
{
    const DWORD flags = (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH;
    return retrying([&](bool &passing) {
        if (::MoveFileExW(from.c_str(), to.c_str(), flags))
            return 0;
        const int error = moveError(from, to);
        passing = error == EBUSY;
        return error;
    });
}

// Renames an entry of an open folder into an open folder through a handle to it, so that no
// path leads there: a link put in the place of either folder is not followed.
int renameRelative(const Place &from, const Place &to, bool replace)
{
    Fd file;
    if (const int error =
            openPlace(from, DELETE | SYNCHRONIZE, OPEN_EXISTING, AnyEntry | NoFollow, file))
        return error;
    return retrying([&](bool &passing) {
        const int error = renameOpen(handleOf(file), to.folder, to.name, true, replace);
        passing = error == EBUSY;
        return error;
    });
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

} // namespace

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
    return statusAt({nullptr, widePath(path)}, 0, status);
}

int WindowsFileSystem::entryStatus(const QByteArray &path, FileStatus &status)
{
    return statusAt({nullptr, widePath(path)}, NoFollow, status);
}

int WindowsFileSystem::status(const Fd &file, FileStatus &status)
{
    return statusOf(handleOf(file), status);
}

int WindowsFileSystem::statusOnVolume(const Fd &file, quint64 device, FileStatus &status)
{
    return runtime::statusOnVolume(handleOf(file), DWORD(device), status);
}

int WindowsFileSystem::access(const QByteArray &path)
{
    return writable({nullptr, widePath(path)}, 0);
}

// An antivirus scanner or the search indexer opens a file for a moment right after it is
// written or closed; a rename or a removal over it meanwhile fails with a sharing or lock
// violation (EBUSY here), or with access denied, also on a file the program itself has just
// made. Such a call is made again a moment later, for about two seconds, inside the calls
// themselves (retrying in windowscalls.h), where they can tell a file held for a moment from
// one the user may not write: what they still fail with is not worth a second round.
bool WindowsFileSystem::transient(int error) const
{
    return FileSystem::transient(error);
}

// Windows has no files without a name: the copy is written under a hidden temporary name
// beside its destination, open for the rename that puts it there. The name is a fresh one of
// the program's own, in lower case: in an open folder it is created as spelt, not looked
// for case-blind (RelativeName).
int WindowsFileSystem::createTemporaryAt(const Fd &folder, const QByteArray &destination,
                                         QByteArray &path, bool &named, Fd &file)
{
    named = true;
    const qsizetype slash = std::max(destination.lastIndexOf('/'), destination.lastIndexOf('\\'));
    const QByteArray beside = destination.left(slash + 1);
    for (int attempt = 0;; ++attempt) {
        path = beside + newTemporaryName();
        Place place;
        int error = placeOf(folder, path, place);
        place.exact = true;
        if (!error)
            error = openPlace(place, GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, file);
        if (error == 0)
            return 0;
        if (error != EEXIST || attempt >= 100) {
            path.clear();
            return error;
        }
    }
}

// Read and written through a buffer of 1 MiB: Windows' own copy calls take paths, not the
// open files the copy is made between.
int WindowsFileSystem::copy(const Fd &from, const Fd &to, qint64, bool &cloned)
{
    cloned = false;
    return copyByLoop(from, to);
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

namespace {

// Renames between two places: by the folders' handles where both are in open folders, else
// by their paths.
int renamePlaces(const Fd &fromFolder, const QByteArray &from, Place &source, const Fd &toFolder,
                 const QByteArray &to, Place &target, bool replace = true)
{
    if (source.folder && target.folder)
        return renameRelative(source, target, replace);
    if (const int error = source.folder ? pathAt(fromFolder, from, source.name) : 0)
        return error;
    if (const int error = target.folder ? pathAt(toFolder, to, target.name) : 0)
        return error;
    return move(source.name, target.name, replace);
}

} // namespace

// The copy shows once it has its destination's name. Renamed by its handle: with POSIX
// semantics where the system has them, which replace a file that others hold open; into the
// open folder by the folder's handle.
int WindowsFileSystem::renameTemporaryAt(const Fd &folder, const QByteArray &from, const Fd &file,
                                         const QByteArray &to, bool replace)
{
    Place source, target;
    if (const int error = placeOf(folder, from, source))
        return error;
    if (const int error = placeOf(folder, to, target))
        return error;
    if (file.isOpen())
        changeAttributes(handleOf(file), 0, FILE_ATTRIBUTE_HIDDEN);
    if (file.isOpen() && target.folder) {
        return retrying([&](bool &passing) {
            const int error = renameOpen(handleOf(file), target.folder, target.name, true, replace);
            passing = error == EBUSY;
            return error;
        });
    }
    return renamePlaces(folder, from, source, folder, to, target, replace);
}

int WindowsFileSystem::remove(const QByteArray &path)
{
    return removeFile({nullptr, widePath(path)});
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

int WindowsFileSystem::entryStatusAt(const Fd &folder, const QByteArray &name, FileStatus &status)
{
    Place place;
    if (const int error = placeOf(folder, name, place))
        return error;
    return statusAt(place, NoFollow, status);
}

int WindowsFileSystem::accessAt(const Fd &folder, const QByteArray &name)
{
    Place place;
    if (const int error = placeOf(folder, name, place))
        return error;
    return writable(place, NoFollow);
}

int WindowsFileSystem::removeAt(const Fd &folder, const QByteArray &name)
{
    Place place;
    if (const int error = placeOf(folder, name, place))
        return error;
    return removeFile(place);
}

int WindowsFileSystem::renameAt(const Fd &fromFolder, const QByteArray &from, const Fd &toFolder,
                                const QByteArray &to)
{
    Place source, target;
    if (const int error = placeOf(fromFolder, from, source))
        return error;
    if (const int error = placeOf(toFolder, to, target))
        return error;
    return renamePlaces(fromFolder, from, source, toFolder, to, target);
}

// Without the owner's write bit, the file is made read-only; it stays writable through the
// handle that made it.
int WindowsFileSystem::createAt(const Fd &folder, const QByteArray &name, quint32 permissions,
                                Fd &file)
{
    Place place;
    if (const int error = placeOf(folder, name, place))
        return error;
    const DWORD attributes = permissions & 0200 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
    return openPlace(place, GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW,
                     attributes | NoFollow, file);
}

} // namespace runtime
