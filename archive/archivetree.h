// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/archivereader.h"

#include <QHash>
#include <QStringList>
#include <optional>
#include <vector>

namespace runtime {
class FolderIndex;
struct HostPaths;
} // namespace runtime

namespace archives {

// Where a path passes through an archive, as through a folder: "C:\Downloads\wren.zip\Wren
// Arrow\wren.4ds".
struct ArchivePlace
{
    QByteArray archiveHost; // the archive file's host path
    QString archiveShown;   // the same, as the player reads it
    QStringList inside;     // the components after it
    bool trailingSeparator = false;
};

// Whether a name is an archive's the program reads: .zip, .7z or .rar, in any case.
bool isArchiveName(QStringView name);

// The first component of `path` that is an archive file, and what follows it; nothing where
// the path passes through none. Folders are found as the program finds them, case-blind,
// through `folders`. Throws as resolving the path does.
std::optional<ArchivePlace> locate(const QString &path, const runtime::HostPaths &host,
                                   runtime::FolderIndex &folders);

// An archive's members as the folders and files they make, found case-blind as on the disk.
// Folders no member names are made by the paths through them. Members a folder could not
// hold are left out; of two members of one path, the later stands.
class ArchiveTree
{
public:
    explicit ArchiveTree(const QList<Member> &members);

    // The member a file path names, -1 for a folder, nullopt for nothing there. Throws
    // AmbiguousName, naming `shown`, where several entries are the name but for case and
    // none is it exactly.
    std::optional<int> find(const QStringList &components, const QString &shown) const;
    // The names of the files of a folder (empty `folder`: the top) that match the wildcard
    // pattern (empty: all), sorted case-blind, as a listing of a folder gives them: no
    // folders, links or names that start with ".".
    QStringList files(const QStringList &folder, const QString &pattern,
                      const QString &shown) const;

private:
    struct Node
    {
        QString name;
        int member = -1;                           // a file's; -1 for a folder
        QHash<QString, std::vector<int>> children; // by caseKey
    };
    std::optional<int> child(int node, const QString &name, const QString &shown) const;
    int add(int parent, const QString &name, int member);

    std::vector<Node> m_nodes; // the top first
};

} // namespace archives
