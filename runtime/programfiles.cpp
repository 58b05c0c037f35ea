// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/programfiles.h"

#include "runtime/filesystem.h"

namespace runtime {

namespace {

// A host path as it is compared: one kind of separator, none at its end.
QByteArray plain(QByteArray path)
{
    path.replace('\\', '/');
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// Whether `folder` is `root` or inside it, names compared case-blind as Windows does.
bool isWithin(const QByteArray &folder, const QByteArray &root)
{
    if (root.isEmpty() || folder.size() < root.size())
        return false;
    if (folder.size() > root.size() && folder[root.size()] != '/' && !root.endsWith('/'))
        return false;
    return caseKey(decodeName(folder.first(root.size()))) == caseKey(decodeName(root));
}

// A path less its drive letter: "C:/Program Files/X" is "/Program Files/X".
QByteArrayView withoutDrive(const QByteArray &path)
{
    const char letter = path.isEmpty() ? 0 : char(path[0] | 0x20);
    const bool drive = path.size() > 1 && path[1] == ':' && letter >= 'a' && letter <= 'z';
    return drive ? QByteArrayView(path).sliced(2) : QByteArrayView(path);
}

} // namespace

std::optional<GuardedFolder> underProgramFiles(const QByteArray &folder,
                                               const ProgramFilesFolders &folders)
{
    const QByteArray path = plain(folder);
    for (const QByteArray &root : folders.roots) {
        if (!isWithin(path, plain(root)))
            continue;
        // UAC virtualization keeps the folder's path below the VirtualStore, drive left out:
        // https://learn.microsoft.com/en-us/windows/security/application-security/
        // application-control/user-account-control/architecture ("Virtualization").
        const QByteArrayView rest = withoutDrive(path);
        QByteArray store;
        if (!folders.virtualStore.isEmpty()) {
            store = plain(folders.virtualStore);
            if (!rest.startsWith('/'))
                store += '/';
            store.append(rest);
        }
        return GuardedFolder{plain(root), store};
    }
    return std::nullopt;
}

std::optional<GuardedFolder> guardedFolder(FileSystem &files, const ProgramFilesFolders &folders,
                                           const QByteArray &folder)
{
    std::optional<GuardedFolder> guarded = underProgramFiles(folder, folders);
    FileStatus status;
    if (guarded && !guarded->virtualStore.isEmpty() &&
        (files.status(guarded->virtualStore, status) != 0 || !status.isFolder()))
        guarded->virtualStore.clear();
    return guarded;
}

} // namespace runtime
