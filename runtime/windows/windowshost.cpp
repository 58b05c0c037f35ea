// SPDX-License-Identifier: GPL-3.0-or-later
// The host's state on Windows: the system owns the drive letters and the case-blind names;
// its drives are in windowsdrives.cpp.
#include "runtime/platform.h"

#include <QDir>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <windows.h>
// After windows.h:
#include <psapi.h>
#include <shellapi.h>

namespace runtime {

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

PathStyle hostPathStyle()
{
    return PathStyle::Windows;
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
        result.append(QString::fromWCharArray(arguments.get()[i]));
    return result;
}

namespace {

// The console's output code page before the program set it to UTF-8; 0 while unchanged.
UINT outputCodePageBefore = 0;

// The console is the one of the shell that started the program, which keeps it after the
// program ends: its code page goes back as the program returns from main or calls exit
// ("SetConsoleOutputCP", "GetConsoleOutputCP": the code page belongs to the console, not to
// the process). Without a console, GetConsoleOutputCP returns 0 and nothing changes.
void printUtf8()
{
    const UINT before = ::GetConsoleOutputCP();
    if (before == 0 || before == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8))
        return;
    if (outputCodePageBefore == 0)
        std::atexit(&restoreConsole);
    outputCodePageBefore = before;
}

} // namespace

void attachConsole()
{
    // A windowed program started from a console has no standard handles of its own; one
    // whose output is redirected, or that runs under Wine, has them already.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
    printUtf8();
}

void restoreConsole()
{
    if (outputCodePageBefore == 0)
        return;
    // What is still buffered is UTF-8, and is printed before the code page changes back.
    std::fflush(stdout);
    std::fflush(stderr);
    ::SetConsoleOutputCP(outputCodePageBefore);
    outputCodePageBefore = 0;
}

void announceRunning()
{
    // A named mutex in the session's namespace, which dist/windows/quillmere.nsi opens by the
    // same name to see whether the program runs ("CreateMutexW", "Kernel object namespaces":
    // Local\ is the user's session). The handle is never closed: the system closes it as the
    // process ends, however it ends, and the mutex goes with the last handle. Each copy of the
    // program holds one. Failing to make it changes nothing but what the installer sees.
    ::CreateMutexW(nullptr, FALSE, L"Local\\Quillmere-running");
}

bool systemFileDialogSuits()
{
    // The shell's Open dialog (IFileOpenDialog, which Qt shows when not told to use its own:
    // Microsoft, "Common Item Dialog") matches a filter's patterns as the file system matches
    // names, without regard to case, and is in the system's language; Qt's own needs its
    // translations, which the program does not carry.
    return true;
}

// libarchive keeps names as wide text on Windows, converted by the code page an archive names.
Utf8Text::Utf8Text() = default;
Utf8Text::~Utf8Text() = default;

} // namespace runtime
