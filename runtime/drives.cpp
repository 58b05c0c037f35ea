// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/drives.h"

#include "runtime/error.h"
#include "runtime/hostpath.h"
#include "runtime/posixdir.h"

#include <QStorageInfo>
#include <algorithm>
#include <cerrno>
#include <dirent.h>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

bool isInside(const QString &path, const QString &folder)
{
    if (folder == u"/"_s)
        return path.startsWith(u'/');
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == u'/');
}

} // namespace

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
            !isUserFileSystem(root, volume.fileSystemType()) || !isFolder(encodeName(root)))
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

QString driveRootOf(const QString &folder, const QStringList &roots)
{
    QString best;
    for (const QString &root : roots) {
        if (isInside(folder, root) && root.size() > best.size())
            best = root;
    }
    return best;
}

QStringList subfolders(const QString &folder)
{
    const QByteArray host = encodeName(folder);
    DirHandle dir(::opendir(host.constData()));
    if (!dir)
        raiseSystem(errno, Operation::ReadFolder, folder);

    QStringList names;
    errno = 0;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const bool folderEntry =
            entry->d_type == DT_DIR || ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
                                        isFolder(joinHost(host, name)));
        if (folderEntry)
            names.append(decodeName(name));
        errno = 0;
    }
    if (errno != 0)
        raiseSystem(errno, Operation::ReadFolder, folder);

    sortCaseBlind(names);
    return names;
}

QString childPath(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

} // namespace runtime
