// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/drives.h"

#include "runtime/error.h"
#include "runtime/filesystem.h"
#include "runtime/hostpath.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace runtime {

bool isInside(const QString &path, const QString &folder)
{
    if (folder.endsWith(u'/')) // a drive's root: "/", "C:/"
        return path.startsWith(folder) || path == folder.chopped(1);
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == u'/');
}

QString driveRootOf(const QString &folder, const QStringList &roots, PathStyle style)
{
    if (style == PathStyle::Windows && folder.startsWith(u"//"_s)) {
        // The ends of the server's name and of the share's.
        const qsizetype server = folder.indexOf(u'/', 2);
        qsizetype share = server > 2 ? folder.indexOf(u'/', server + 1) : -1;
        if (server > 2 && share < 0)
            share = folder.size();
        if (share > server + 1)
            return folder.first(share) + u'/';
    }
    QString best;
    for (const QString &root : roots) {
        if (isInside(folder, root) && root.size() > best.size())
            best = root;
    }
    return best;
}

QStringList subfolders(FileSystem &files, const QString &folder)
{
    const QByteArray host = encodeName(folder);
    FolderListing listing;
    if (const int error = files.listFolder(host, listing))
        raiseSystem(error, Operation::ReadFolder, folder);

    QStringList names;
    for (const FolderEntry &entry : listing.entries) {
        if (entry.kind == FolderEntry::Folder ||
            (entry.kind == FolderEntry::Unknown &&
             isFolder(files, joinHost(host, QByteArray(entry.name)))))
            names.append(decodeName(entry.name));
    }
    sortCaseBlind(names);
    return names;
}

QString childPath(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

} // namespace runtime
