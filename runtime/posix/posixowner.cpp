// SPDX-License-Identifier: GPL-3.0-or-later
// Who may reach the program's own files on a POSIX system: the owner and the permission
// bits. There are no folders of programs kept for an administrator here.
#include "runtime/platform.h"

#include <sys/stat.h>

namespace runtime {

int PosixFileSystem::makePrivateFolder(const QByteArray &path)
{
    return PosixFileSystem::makeFolder(path, 0700);
}

bool PosixFileSystem::isOwnOnly(const Fd &, const FileStatus &status, quint32 user)
{
    return status.owner == user && (status.permissions() & (S_IWGRP | S_IWOTH)) == 0;
}

// A game under Wine's "Program Files" of a prefix is written by this program as any folder
// of the user's: Wine asks no administrator, and the POSIX permissions are what stop a write.
ProgramFilesFolders programFilesFolders()
{
    return {};
}

} // namespace runtime
