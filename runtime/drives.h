// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/hostpath.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The machine's drives and folders as the folder picker shows them. On this host a drive
// is the root folder of a mounted file system that holds the user's files.
namespace runtime {

class FileSystem;

struct Drive
{
    QString root;  // the mount point, "/" first
    QString label; // the volume's name, "" when it has none
};

// True for a mounted file system that holds files a person keeps (a disk, a removable
// drive, a network share), false for the kernel's and the memory's pseudo file systems.
bool isUserFileSystem(const QString &root, const QByteArray &type);

// The drives of the machine, sorted by root; the root folder is always one of them.
QList<Drive> drives();

// Of `roots`, the one that holds `folder`: the longest root that is `folder` or one of its
// ancestors. In Windows' style, a folder of a share, "//server/share/x", is held by the
// share's root, "//server/share/", which no drive list has. "" when none does.
QString driveRootOf(const QString &folder, const QStringList &roots,
                    PathStyle style = PathStyle::Posix);

// Whether `path` is `folder` or lies inside it.
bool isInside(const QString &path, const QString &folder);

// The names of the folders inside `folder` (links to folders included, files not), sorted
// without regard to case. Throws RuntimeError when the folder cannot be read.
QStringList subfolders(FileSystem &files, const QString &folder);

// `folder` followed by one name, with one "/" between them.
QString childPath(const QString &folder, const QString &name);

} // namespace runtime
