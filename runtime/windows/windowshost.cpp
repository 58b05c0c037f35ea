// SPDX-License-Identifier: GPL-3.0-or-later
// The host's state on Windows: the system owns the drive letters and the case-blind names.
#include "runtime/drives.h"
#include "runtime/hostpath.h"
#include "runtime/processinfo.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <windows.h>
// After windows.h:
#include <psapi.h>
#include <shellapi.h>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

QString fromWide(const wchar_t *text)
{
    return QString::fromWCharArray(text);
}

} // namespace

quint32 processUser()
{
    // Files have no numeric owner here: the one the file system reports for each.
    return 0;
}

HostPaths HostPaths::ofProcess()
{
    HostPaths host;
    host.currentFolder = encodeName(QDir::currentPath());
    // %LOCALAPPDATA%\quillmere
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty())
        host.dataFolder = encodeName(data) + "/quillmere";
    return host;
}

// An install resolves two paths a file, and asking whether a drive is ready costs a trip to
// the mount manager (Wine's, far slower) each time: a drive found ready is taken as ready for
// the next second. One that goes in that second fails the file call that follows instead.
QByteArray driveRoot(char letter, const HostPaths &)
{
    using Clock = std::chrono::steady_clock;
    static std::mutex lock;
    static std::array<Clock::time_point, 26> readyUntil{};
    const int drive = (letter | 0x20) - 'a';
    const QByteArray root = QByteArray(1, char(letter & ~0x20)) + ":/";
    if (drive < 0 || drive >= 26)
        return {};
    {
        const std::lock_guard guard(lock);
        if (Clock::now() < readyUntil[size_t(drive)])
            return root;
    }
    const wchar_t wide[] = {wchar_t(root[0]), L':', L'\\', 0};
    const UINT type = ::GetDriveTypeW(wide);
    if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR)
        return {};
    // A drive without a disc, or a share that is gone, has no attributes to read.
    if (::GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES)
        return {};
    const std::lock_guard guard(lock);
    readyUntil[size_t(drive)] = Clock::now() + std::chrono::seconds(1);
    return root;
}

bool isAbsoluteHost(QByteArrayView path)
{
    const auto separator = [&](qsizetype i) {
        return path.size() > i && (path[i] == '/' || path[i] == '\\');
    };
    const char letter = path.size() > 1 ? char(path[0] | 0x20) : 0;
    const bool drive = letter >= 'a' && letter <= 'z' && path[1] == ':';
    return (drive && separator(2)) || (separator(0) && separator(1));
}

bool isNameTooLong(const QString &name)
{
    return name.size() > 255; // UTF-16 code units, as NTFS, FAT and exFAT count them
}

QList<Drive> drives()
{
    QList<Drive> result;
    wchar_t roots[4 * 26 + 1] = {};
    const DWORD size = ::GetLogicalDriveStringsW(DWORD(std::size(roots)), roots);
    for (const wchar_t *root = roots; size && *root; root += wcslen(root) + 1) {
        wchar_t label[MAX_PATH + 1] = {};
        // A drive that is not ready (a card reader without a card) is left out.
        if (!::GetVolumeInformationW(root, label, DWORD(std::size(label)), nullptr, nullptr,
                                     nullptr, nullptr, 0))
            continue;
        result.append({fromWide(root).replace(u'\\', u'/'), fromWide(label)});
    }
    std::sort(result.begin(), result.end(),
              [](const Drive &a, const Drive &b) { return a.root < b.root; });
    return result;
}

qint64 peakResidentKiB()
{
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return qint64(counters.PeakWorkingSetSize / 1024);
}

QStringList commandArguments(int, char *[])
{
    // The wide command line: the narrow one holds only what the ANSI code page can spell.
    int count = 0;
    std::unique_ptr<wchar_t *, decltype(&::LocalFree)> arguments(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
    QStringList result;
    for (int i = 1; arguments && i < count; ++i)
        result.append(fromWide(arguments.get()[i]));
    return result;
}

void attachConsole()
{
    // A windowed program started from a console has no standard handles of its own; one
    // whose output is redirected, or that runs under Wine, has them already.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
    ::SetConsoleOutputCP(CP_UTF8);
}

} // namespace runtime
