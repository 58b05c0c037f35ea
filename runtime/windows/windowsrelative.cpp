// SPDX-License-Identifier: GPL-3.0-or-later
// Entries of an open folder by the folder's handle and one name: opened with NtCreateFile
// relative to the folder, removed and renamed through handles, so that no path is rebuilt
// and a folder swapped for a junction meanwhile is not followed. And the retries of calls
// that fail for a moment.
#include "runtime/error.h"
#include "runtime/windows/windowscalls.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <winternl.h>

namespace runtime {

using namespace windows;

namespace {

constexpr LONG StatusAccessDenied = LONG(0xC0000022), StatusDeletePending = LONG(0xC0000056),
               StatusNotADirectory = LONG(0xC0000103), StatusIsADirectory = LONG(0xC00000BA),
               StatusCannotDelete = LONG(0xC0000121);
// How long a call that fails for a moment is made again, in all: a scanner or an indexer
// holds a file it opened for a few hundred milliseconds at most.
constexpr int RetryBudget = 2000;

// The renames by handle, FileRenameInformation, and those of Windows 10 with flags in place of
// ReplaceIfExists, FileRenameInformationEx, which replace a file that others hold open as
// POSIX does; older systems, FAT and Wine refuse the second.
constexpr ULONG RenameInformation = 10, RenameInformationEx = 65;
constexpr DWORD RenameReplacing = 0x1, RenamePosix = 0x2;
constexpr LONG StatusNotImplemented = LONG(0xC0000002), StatusInvalidInfoClass = LONG(0xC0000003),
               StatusNotSupported = LONG(0xC00000BB), StatusInvalidParameter = LONG(0xC000000D);
// The same for removals: FileDispositionInfoEx and its flags.
constexpr auto FileDispositionByFlags = FILE_INFO_BY_HANDLE_CLASS(21);
constexpr DWORD DispositionDelete = 0x1, DispositionPosix = 0x2, DispositionIgnoreReadOnly = 0x10;

int errnoOfStatus(LONG status)
{
    switch (status) {
    case 0:
        return 0;
    case StatusDeletePending:
        return ENOENT; // gone to the program, as on POSIX systems
    case StatusNotADirectory:
        return ENOTDIR;
    case StatusIsADirectory:
        return EISDIR;
    case StatusAccessDenied:
    case StatusCannotDelete:
        return EACCES;
    default:
        const auto toError = processState().ntStatusToError;
        return toError ? errnoOf(toError(status)) : EIO;
    }
}

// The name of a place as NtCreateFile takes it, relative to the place's folder. Names are
// compared case-blind, as CreateFileW has them, but where the place is `exact`: "If this flag
// is specified, a case-insensitive comparison is used ... Otherwise, object names are
// compared using the default system settings" (OBJ_CASE_INSENSITIVE, "OBJECT_ATTRIBUTES
// structure", https://learn.microsoft.com/windows/win32/api/ntdef/ns-ntdef-_object_attributes;
// the same for ObjectAttributes in "NtCreateFile function"). Windows' default, the kernel's
// ObCaseInsensitive, is case-blind, so that nothing changes there. Wine before 6 then
// compared exactly, without reading the whole folder for a name spelt another way; Wine 8
// reads it whatever the flag (strace shows it), for names under \??\unix\ only exact.
struct RelativeName
{
    explicit RelativeName(const Place &place)
    {
        const auto bytes = USHORT(place.name.size() * sizeof(wchar_t));
        name = {bytes, bytes, const_cast<wchar_t *>(place.name.c_str())};
        InitializeObjectAttributes(&object, &name, place.exact ? 0 : OBJ_CASE_INSENSITIVE,
                                   place.folder, nullptr);
    }
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES object;
};

// NtCreateFile with the options CreateFileW gives its flags ("NtCreateFile function",
// https://learn.microsoft.com/windows/win32/api/winternl/nf-winternl-ntcreatefile): a
// synchronous handle, FILE_OPEN_REPARSE_POINT for a link not to be followed, folders opened
// only with backup semantics.
int createRelative(const Place &place, DWORD access, DWORD disposition, DWORD flags, DWORD share,
                   HANDLE &handle)
{
    const auto create = processState().ntCreateFile;
    if (!create)
        return ENOSYS;
    RelativeName relative(place);
    ULONG options = FILE_SYNCHRONOUS_IO_NONALERT;
    if (flags & FILE_FLAG_OPEN_REPARSE_POINT)
        options |= FILE_OPEN_REPARSE_POINT;
    options |=
        flags & FILE_FLAG_BACKUP_SEMANTICS ? FILE_OPEN_FOR_BACKUP_INTENT : FILE_NON_DIRECTORY_FILE;
    if (flags & FILE_FLAG_SEQUENTIAL_SCAN)
        options |= FILE_SEQUENTIAL_ONLY;
    IO_STATUS_BLOCK io{};
    const LONG status =
        create(&handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &relative.object, &io, nullptr,
               flags & 0xFFFF, share, disposition == CREATE_NEW ? FILE_CREATE : FILE_OPEN, options,
               nullptr, 0);
    return errnoOfStatus(status);
}

// A rename that cannot replace its destination because another program holds it open says
// access denied, as for a file the user may not write: EBUSY for the first.
int renameError(int error, HANDLE folder, const std::wstring &name)
{
    if (error != EACCES)
        return error;
    HANDLE held = INVALID_HANDLE_VALUE;
    const int opened =
        createRelative({folder, name}, DELETE, OPEN_EXISTING, AnyEntry | NoFollow, ShareAll, held);
    if (opened == 0)
        ::CloseHandle(held);
    return opened == EBUSY ? EBUSY : EACCES;
}

} // namespace

int windows::retryBudgetLeft(int waited, int &wait)
{
    const int step = std::max(0, std::min(wait, RetryBudget - waited));
    wait *= 2;
    return step;
}

bool windows::mayPass(int error, DWORD access, DWORD attributes)
{
    if (error == EBUSY)
        return true;
    if (error != EACCES || attributes == INVALID_FILE_ATTRIBUTES ||
        attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return access & DELETE;
}

int windows::placeOf(const Fd &folder, const QByteArray &name, Place &place)
{
    place.folder = nullptr;
    if (!folder.isOpen() || name == ".." || name.isEmpty() || name.contains('/') ||
        name.contains('\\'))
        return pathAt(folder, name, place.name);
    place.folder = handleOf(folder);
    place.name = name == "." ? std::wstring() : wide(decodeName(name));
    return 0;
}

int windows::openPlace(const Place &place, DWORD access, DWORD disposition, DWORD flags, Fd &file,
                       DWORD share)
{
    return retrying([&](bool &passing) {
        HANDLE handle = INVALID_HANDLE_VALUE;
        int error = 0;
        if (place.folder) {
            error = createRelative(place, access, disposition, flags, share, handle);
        } else {
            handle = ::CreateFileW(place.name.c_str(), access, share, nullptr, disposition, flags,
                                   nullptr);
            if (handle == INVALID_HANDLE_VALUE)
                error = lastError(place.name);
        }
        if (error == 0) {
            file.reset(reinterpret_cast<Fd::Handle>(handle));
            return 0;
        }
        passing =
            mayPass(error, access, error == EACCES && access & DELETE ? attributesOf(place) : 0);
        return error;
    });
}

DWORD windows::attributesOf(const Place &place)
{
    if (!place.folder)
        return ::GetFileAttributesW(place.name.c_str());
    const auto query = processState().ntQueryAttributesFile;
    RelativeName relative(place);
    FILE_BASIC_INFORMATION basic{};
    if (!query || query(&relative.object, &basic) < 0)
        return INVALID_FILE_ATTRIBUTES;
    return basic.FileAttributes;
}

// FILE_ATTRIBUTE_TAG_INFO:
// https://learn.microsoft.com/windows/win32/api/winbase/ns-winbase-file_attribute_tag_info
int windows::tagOf(HANDLE file, DWORD &attributes, DWORD &tag)
{
    FILE_ATTRIBUTE_TAG_INFO info;
    if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info))
        return lastError();
    attributes = info.FileAttributes;
    tag = info.ReparseTag;
    return 0;
}

// FILE_ID_INFO, "the 128-bit file identifier" with the volume's 64-bit serial number:
// https://learn.microsoft.com/windows/win32/api/winbase/ns-winbase-file_id_info
// Its serial is not compared: the volume's is BY_HANDLE_FILE_INFORMATION's, as records keep it.
quint64 windows::fileNumberOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION &info)
{
    FILE_ID_INFO id;
    if (::GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
        quint64 low = 0, high = 0;
        std::memcpy(&low, id.FileId.Identifier, 8);
        std::memcpy(&high, id.FileId.Identifier + 8, 8);
        return fileNumber(low, high);
    }
    return (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// FILE_DISPOSITION_INFO_EX, whose POSIX semantics take the name away at once and whose flag
// lets a read-only file go:
// https://learn.microsoft.com/windows/win32/api/winbase/ns-winbase-file_disposition_info_ex
// Where it is refused (before Windows 10, FAT, Wine), FILE_DISPOSITION_INFO; a read-only file
// refuses that, and has its attribute cleared first, put back if the removal fails.
int windows::removeOpen(HANDLE file)
{
    DWORD flags = DispositionDelete | DispositionPosix | DispositionIgnoreReadOnly;
    if (::SetFileInformationByHandle(file, FileDispositionByFlags, &flags, sizeof flags))
        return 0;
    const DWORD refused = ::GetLastError();
    if (refused != ERROR_INVALID_PARAMETER && refused != ERROR_NOT_SUPPORTED &&
        refused != ERROR_INVALID_FUNCTION)
        return errnoOf(refused);
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
        return 0;
    const int error = lastError();
    FILE_BASIC_INFO basic;
    if (error != EACCES ||
        !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return error;
    const DWORD attributes = basic.FileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_READONLY) || attributes & FILE_ATTRIBUTE_DIRECTORY)
        return error;
    const auto setAttributes = [&](DWORD to) {
        FILE_BASIC_INFO changed{};
        changed.FileAttributes = to ? to : FILE_ATTRIBUTE_NORMAL;
        return ::SetFileInformationByHandle(file, FileBasicInfo, &changed, sizeof changed);
    };
    if (!setAttributes(attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)))
        return error;
    if (::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
        return 0;
    const int again = lastError();
    setAttributes(attributes);
    return again;
}

// NtSetInformationFile with FILE_RENAME_INFORMATION, whose RootDirectory is the folder
// `name` is in ("FILE_RENAME_INFORMATION structure",
// https://learn.microsoft.com/windows-hardware/drivers/ddi/ntifs/ns-ntifs-_file_rename_information):
// called directly, as SetFileInformationByHandle passes the name on as a path in Wine. With
// FILE_RENAME_FLAG_POSIX_SEMANTICS (FileRenameInformationEx) where asked and allowed.
int windows::renameOpen(HANDLE file, HANDLE folder, const std::wstring &name, bool posix,
                        bool replace)
{
    const auto set = processState().ntSetInformationFile;
    if (!set)
        return ENOSYS;
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
    info->RootDirectory = folder;
    info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.data(), info->FileNameLength);
    IO_STATUS_BLOCK io{};
    if (posix) {
        const DWORD flags = (replace ? RenameReplacing : 0) | RenamePosix;
        std::memcpy(buffer.data(), &flags, sizeof flags);
        const LONG status = set(file, &io, info, ULONG(buffer.size()), RenameInformationEx);
        if (status >= 0)
            return 0;
        if (status != StatusNotImplemented && status != StatusInvalidInfoClass &&
            status != StatusNotSupported && status != StatusInvalidParameter)
            return renameError(errnoOfStatus(status), folder, name);
    }
    const DWORD replacing = 0;
    std::memcpy(buffer.data(), &replacing, sizeof replacing);
    info->ReplaceIfExists = replace;
    const LONG status = set(file, &io, info, ULONG(buffer.size()), RenameInformation);
    return status >= 0 ? 0 : renameError(errnoOfStatus(status), folder, name);
}

} // namespace runtime
