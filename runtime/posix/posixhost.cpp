// SPDX-License-Identifier: GPL-3.0-or-later
// The host's state on a POSIX system: drive letters are Wine's, drives are mounted file
// systems.
#include "runtime/platform.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace runtime {

quint32 processUser()
{
    return quint32(::getuid());
}

HostPaths HostPaths::ofProcess()
{
    HostPaths host;
    host.winePrefix = qgetenv("WINEPREFIX");
    if (host.winePrefix.isEmpty())
        host.winePrefix = qgetenv("HOME") + "/.wine";
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (cwd)
        host.currentFolder = cwd.get();
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty())
        host.dataFolder = encodeName(data) + "/quillmere";
    return host;
}

QByteArray driveRoot(char letter, const HostPaths &host)
{
    const QByteArray root = host.winePrefix + "/dosdevices/" + letter + ':';
    struct stat st;
    return ::stat(root.constData(), &st) == 0 && S_ISDIR(st.st_mode) ? root : QByteArray();
}

bool isAbsoluteHost(QByteArrayView path)
{
    return path.startsWith('/');
}

bool isNameTooLong(const QString &name)
{
    return encodeName(name).size() > NAME_MAX;
}

PathStyle hostPathStyle()
{
    return PathStyle::Posix;
}

bool isUserFileSystem(const QString &root, const QByteArray &type)
{
    // The kernel's interfaces and the runtime state of services live here; removable
    // drives that the desktop mounts under /run/media are the exception.
    for (const QString &system :
         {u"/proc"_s, u"/sys"_s, u"/dev"_s, u"/var/run"_s, u"/var/lock"_s}) {
        if (isInside(root, system))
            return false;
    }
    if (isInside(root, u"/run"_s) && !isInside(root, u"/run/media"_s))
        return false;

    // Memory file systems hold nothing that outlives the session, and squashfs images are
    // the read-only packages of snaps.
    static const QList<QByteArray> pseudo = {
        "proc",          "sysfs",       "devtmpfs",        "devpts",  "tmpfs",     "ramfs",
        "cgroup",        "cgroup2",     "securityfs",      "debugfs", "tracefs",   "configfs",
        "fusectl",       "mqueue",      "hugetlbfs",       "pstore",  "bpf",       "autofs",
        "binfmt_misc",   "efivarfs",    "rpc_pipefs",      "nsfs",    "selinuxfs", "squashfs",
        "fuse.snapfuse", "fuse.portal", "fuse.gvfsd-fuse", "rootfs"};
    return !pseudo.contains(type);
}

QList<Drive> drives()
{
    QList<Drive> result;
    const auto volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &volume : volumes) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || !volume.isReady() || root.isEmpty() ||
            !isUserFileSystem(root, volume.fileSystemType()) || !QFileInfo(root).isDir())
            continue;
        const auto same = [&](const Drive &d) {
            return d.root == root;
        };
        if (std::none_of(result.cbegin(), result.cend(), same))
            result.append({root, volume.name()});
    }
    if (std::none_of(result.cbegin(), result.cend(),
                     [](const Drive &d) { return d.root == u"/"_s; }))
        result.append({u"/"_s, QString()});
    std::sort(result.begin(), result.end(),
              [](const Drive &a, const Drive &b) { return a.root < b.root; });
    return result;
}

QStringList commandArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(decodeName(argv[i]));
    return arguments;
}

void attachConsole()
{
    // A program started from a terminal writes to it already.
}

bool systemFileDialogSuits()
{
    // The desktop's dialog (a portal's, GTK's) may match "*.4ds" only in that case.
    return false;
}

void restoreConsole()
{
    // attachConsole changed nothing.
}

void announceRunning()
{
    // A package manager replaces a running program's files by new names: nothing to tell.
}

} // namespace runtime
