// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Folder reading helpers shared by the runtime's host services.

#include <QByteArray>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace runtime {

struct DirCloser
{
    void operator()(DIR *d) const { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// True when a host path names a regular file, or a link to one.
inline bool isOrdinaryFile(const QByteArray &hostPath)
{
    struct stat st;
    return ::stat(hostPath.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace runtime
