// SPDX-License-Identifier: GPL-3.0-or-later
// What the Windows host's files (runtime/windows/) share: the calls on paths and handles
// (windowspaths.cpp), and everything the host keeps for the whole process, in one place.
#pragma once

#include "runtime/platform.h"

#include <QString>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>
#include <windows.h>

namespace runtime::windows {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Entries are opened as they are, folders too; links are not followed where this is added.
constexpr DWORD AnyEntry = FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD NoFollow = FILE_FLAG_OPEN_REPARSE_POINT;

inline HANDLE handleOf(const Fd &file)
{
    return reinterpret_cast<HANDLE>(file.get());
}

// A reparse point that was not followed is a link when its tag names another entry: a
// symbolic link, a junction or a mount point. Others (a cloud file's placeholder, a
// deduplicated file, an app execution alias) are the files and folders they are.
// IsReparseTagNameSurrogate, "Reparse Point Tags":
// https://learn.microsoft.com/windows/win32/fileio/reparse-point-tags
inline bool isLink(DWORD attributes, DWORD tag)
{
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT && IsReparseTagNameSurrogate(tag);
}

inline std::wstring wide(const QString &text)
{
    return text.toStdWString();
}

// The errno of a Windows error.
int errnoOf(DWORD error);
int lastError();
// The last error of a call on `path`: a path that runs through a file is ENOTDIR, as on
// POSIX systems, where Windows says only that the path is not there.
int lastError(const std::wstring &path);
int result(BOOL done);

// A path as the wide calls take it: absolute, separated by backslashes, in the \\?\ form
// that lifts the limit of 260 characters and passes every name as it is spelt. "" for a
// path that leads nowhere: every call fails on it with ERROR_PATH_NOT_FOUND.
std::wstring widePath(const QByteArray &path);
// The path of the entry `name` of an open folder, or `name` as a path when none is open.
int pathAt(const Fd &folder, const QByteArray &name, std::wstring &path);

HANDLE openWide(const std::wstring &path, DWORD access, DWORD disposition, DWORD flags);
int openAt(const std::wstring &path, DWORD access, DWORD disposition, DWORD flags, Fd &file);

// Makes a call again while it fails for a moment (windowsretries.cpp): `attempt` returns 0 or
// an errno and sets `passing` when the failure may pass, as a sharing violation does; it is
// made again after 10, 20, 40... ms, for about two seconds in all.
template <typename Attempt> int retrying(Attempt attempt);
int retryBudgetLeft(int waited, int &wait);
template <typename Attempt> int retrying(Attempt attempt)
{
    for (int waited = 0, wait = 10;;) {
        bool passing = false;
        const int error = attempt(passing);
        if (error == 0 || !passing)
            return error;
        const int step = retryBudgetLeft(waited, wait);
        if (step == 0)
            return error;
        ::Sleep(DWORD(step));
        waited += step;
    }
}
// Whether an error of a call that asked for `access` to the entry with `attributes` may pass:
// a sharing or lock violation; access denied to the removal or rename of a file that is
// neither read-only nor a folder (one mapped for a moment by a scanner). Access denied to a
// write is the user's rights, the same a moment later: it fails at once, as a read-only file
// does. A file being removed is ENOENT, never retried.
bool mayPass(int error, DWORD access, DWORD attributes);

// An entry of an open folder by its one name, or a path where no folder is open or the name
// is no single name (windowsrelative.cpp). Where `folder` is set, `name` is the entry's name
// in it ("" for the folder itself) and nothing but the folder's handle leads to it.
struct Place
{
    HANDLE folder = nullptr;
    std::wstring name;  // or the path
    bool exact = false; // in a folder, the name as spelt, not looked for case-blind
};
int placeOf(const Fd &folder, const QByteArray &name, Place &place);
// Opens an entry as CreateFileW does, with the same access, disposition, flags and
// attributes, its sharing `share`; transient failures are retried.
int openPlace(const Place &place, DWORD access, DWORD disposition, DWORD flags, Fd &file,
              DWORD share = ShareAll);
// The attributes of an entry, links not followed; INVALID_FILE_ATTRIBUTES when it cannot be
// asked.
DWORD attributesOf(const Place &place);
// The attributes and reparse tag of an open entry.
int tagOf(HANDLE file, DWORD &attributes, DWORD &tag);

// A file's number on its volume, from the 128-bit id of FILE_ID_INFO: NTFS numbers its files
// with 64 bits, which that id holds zero-extended, and the number is theirs as it was; ReFS
// (a Dev Drive) gives 128 bits, whose low half alone is not unique, and the high half is
// mixed into it.
inline quint64 fileNumber(quint64 low, quint64 high)
{
    if (high == 0)
        return low;
    quint64 mixed = high * 0x9E3779B97F4A7C15ull;
    mixed = (mixed ^ (mixed >> 31)) * 0xBF58476D1CE4E5B9ull;
    return low ^ mixed ^ (mixed >> 29);
}
// The number of an open file: fileNumber of its FileIdInfo, or, where the file system
// does not give that, the 64-bit index `info` holds.
quint64 fileNumberOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION &info);
// Removes the entry open as `file` (with DELETE access), a read-only file too: its name goes
// at once where the file system can.
int removeOpen(HANDLE file);
// Renames the entry open as `file` (with DELETE access) to `name` in the open `folder`,
// replacing a file there where `replace` says, else failing with EEXIST.
int renameOpen(HANDLE file, HANDLE folder, const std::wstring &name, bool posix,
               bool replace = true);

// What the program keeps of its open folders: the path each was opened by, and its lock.
// Windows locks byte ranges of files only: a folder is locked through a file of its own in
// the user's temporary folder, named by the folder's volume and index, and held open while
// the folder's handle is, so that the lock goes when that handle is closed or its process
// ends.
class OpenFolders
{
public:
    void opened(HANDLE folder, const std::wstring &path);
    std::wstring path(HANDLE folder);
    // False when the folder holds a lock already.
    bool locked(HANDLE folder, HANDLE file, const std::wstring &path);
    void closed(HANDLE folder);

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

// Everything the Windows host keeps for the whole process; each part may be used from any
// thread.
struct WindowsProcessState
{
    WindowsProcessState();

    // RtlGetLastNtStatus of ntdll.dll, the status behind the last error; null without one.
    LONG(WINAPI *lastNtStatus)() = nullptr;
    // NtCreateFile, NtQueryAttributesFile, NtSetInformationFile, NtQueryInformationFile and
    // RtlNtStatusToDosError of ntdll.dll, which open, ask and rename entries relative to an
    // open folder, and read a file's index alone.
    LONG(WINAPI *ntCreateFile)
    (HANDLE *, ACCESS_MASK, void *, void *, LARGE_INTEGER *, ULONG, ULONG, ULONG, ULONG, void *,
     ULONG) = nullptr;
    LONG(WINAPI *ntQueryAttributesFile)(void *, void *) = nullptr;
    LONG(WINAPI *ntSetInformationFile)(HANDLE, void *, void *, ULONG, ULONG) = nullptr;
    LONG(WINAPI *ntQueryInformationFile)(HANDLE, void *, void *, ULONG, ULONG) = nullptr;
    ULONG(WINAPI *ntStatusToError)(LONG) = nullptr;
    // The open folders and their locks' files.
    OpenFolders folders;
    // Until when each drive, A: to Z:, is taken as ready (driveRoot).
    std::mutex drivesMutex;
    std::array<std::chrono::steady_clock::time_point, 26> driveReadyUntil{};
};

// The process's one state, made when it is first asked for.
WindowsProcessState &processState();

} // namespace runtime::windows
