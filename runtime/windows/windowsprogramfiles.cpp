// SPDX-License-Identifier: GPL-3.0-or-later
// Where Windows keeps installed programs, which only an administrator may write to, and the
// VirtualStore, where it put what older programs wrote there without being one.
#include "runtime/platform.h"

#include <QDir>
#include <windows.h>
// After windows.h:
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

namespace runtime {

namespace {

// A known folder as a host path; `fallback`, a variable of the environment, where the shell
// cannot say (SHGetKnownFolderPath, Microsoft's documentation: the path is freed by the
// caller with CoTaskMemFree, also when the call fails).
QByteArray knownFolder(const KNOWNFOLDERID &id, const char *fallback)
{
    PWSTR path = nullptr;
    QString found;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
        found = QString::fromWCharArray(path);
    ::CoTaskMemFree(path);
    if (found.isEmpty())
        found = qEnvironmentVariable(fallback);
    return found.isEmpty() ? QByteArray() : encodeName(QDir::fromNativeSeparators(found));
}

} // namespace

// A 64-bit program has both folders of programs, its own and the 32-bit one's ("KNOWNFOLDERID",
// Microsoft's documentation); the VirtualStore is in the user's local application data ("User
// Account Control architecture", Virtualization).
ProgramFilesFolders programFilesFolders()
{
    ProgramFilesFolders folders;
    for (const QByteArray &root : {knownFolder(FOLDERID_ProgramFiles, "ProgramFiles"),
                                   knownFolder(FOLDERID_ProgramFilesX86, "ProgramFiles(x86)")}) {
        if (!root.isEmpty() && !folders.roots.contains(root))
            folders.roots.append(root);
    }
    const QByteArray local = knownFolder(FOLDERID_LocalAppData, "LOCALAPPDATA");
    if (!local.isEmpty())
        folders.virtualStore = local + "/VirtualStore";
    return folders;
}

} // namespace runtime
