// SPDX-License-Identifier: GPL-3.0-or-later
#include "install/givenfile.h"

#include "archive/archivetree.h"
#include "runtime/hostpath.h"
#include "runtime/listing.h"

#include <QHash>

using namespace Qt::StringLiterals;
using archives::Member;
using runtime::Listing;

namespace {

bool hasSuffix(const QString &name, QStringView suffix)
{
    return name.endsWith(suffix, Qt::CaseInsensitive);
}

// A folder of the archive: whether it is named "maps", whether it holds textures, and where
// it is first met in the archive's order.
struct Folder
{
    QStringList components;
    bool maps = false;
    bool textures = false;
    int first = 0;
};

QList<Folder> foldersOf(const QList<Member> &members)
{
    QList<Folder> folders;
    QHash<QString, qsizetype> known; // by the path's case key
    const auto folderAt = [&](const QStringList &components, int member) -> Folder & {
        const QString key = runtime::caseKey(components.join(u'/'));
        auto found = known.constFind(key);
        if (found == known.cend()) {
            const bool maps = !components.isEmpty() &&
                              components.last().compare(u"maps"_s, Qt::CaseInsensitive) == 0;
            found = known.insert(key, folders.size());
            folders.append({components, maps, false, member});
        }
        return folders[*found];
    };
    for (const Member &member : members) {
        if (member.components.isEmpty() || member.kind == Member::Other)
            continue;
        const qsizetype depth =
            member.kind == Member::Folder ? member.components.size() : member.components.size() - 1;
        for (qsizetype n = 0; n <= depth; ++n)
            folderAt(member.components.first(n), member.index);
        const QString &name = member.components.last();
        if (member.kind == Member::File && !name.startsWith(u'.') &&
            (hasSuffix(name, u".bmp") || hasSuffix(name, u".tga")))
            folderAt(member.components.first(depth), member.index).textures = true;
    }
    return folders;
}

// The folders passed going from one folder to another: up to where they part, then down.
qsizetype distance(const QStringList &from, const QStringList &to)
{
    qsizetype common = 0;
    while (common < from.size() && common < to.size() &&
           runtime::caseKey(from[common]) == runtime::caseKey(to[common]))
        ++common;
    return (from.size() - common) + (to.size() - common);
}

} // namespace

// No regular expression here: one run on a thread gives it a thread-local stack, which on
// Windows' static build could hang the program's exit.
QString lastComponent(const QString &path)
{
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.mid(slash + 1);
}

Given whatIsGiven(const QString &path, runtime::FileSystem &files, const runtime::HostPaths &host)
{
    try {
        runtime::FolderIndex folders(files);
        const QString name = lastComponent(path);
        if (runtime::hasWildcard(name) || name.isEmpty())
            return Given::Nothing;
        if (Listing::any(path, host, folders)) {
            if (archives::isArchiveName(name))
                return Given::Archive;
            if (hasSuffix(name, u".4ds"))
                return Given::Model;
            return Given::Nothing;
        }
        if (Listing::any(path + u"/a0.dta"_s, host, folders))
            return Given::GameFolder;
    } catch (const runtime::RuntimeError &) {
    }
    return Given::Nothing;
}

QString ArchiveCar::path(const QStringList &components, const runtime::HostPaths &host) const
{
    QString joined = archive;
    for (const QString &component : components)
        joined += u'/' + component;
    return runtime::shownPath(joined, host.style);
}

QString ArchiveCar::modelName(int model) const
{
    return members[models[model]].components.join(u'/');
}

ArchiveCar openCarArchive(const QString &archive, runtime::FileSystem &files,
                          const runtime::HostPaths &host)
{
    ArchiveCar car;
    car.archive = archive;
    try {
        runtime::FolderIndex folders(files);
        const auto place = archives::locate(archive, host, folders);
        if (!place || !place->inside.isEmpty())
            runtime::raise(runtime::ErrorKind::NotAnArchive, runtime::Operation::ReadArchive,
                           archive);
        archives::ArchiveReader reader(files, place->archiveHost, place->archiveShown);
        car.members = reader.members();
    } catch (const runtime::RuntimeError &error) {
        car.error = error.error();
        return car;
    }
    for (const Member &member : std::as_const(car.members)) {
        if (member.kind == Member::File && !member.components.isEmpty() &&
            hasSuffix(member.components.last(), u".4ds"))
            car.models.append(member.index);
    }
    return car;
}

std::optional<QStringList> mapsNear(const QList<Member> &members, const QStringList &model)
{
    const QStringList from = model.first(std::max<qsizetype>(0, model.size() - 1));
    const Folder *best = nullptr;
    qsizetype bestDistance = 0;
    const auto better = [&](const Folder &folder) {
        const qsizetype d = distance(from, folder.components);
        if (best && (best->maps > folder.maps ||
                     (best->maps == folder.maps &&
                      (bestDistance < d || (bestDistance == d && best->first <= folder.first)))))
            return;
        best = &folder;
        bestDistance = d;
    };
    const QList<Folder> folders = foldersOf(members);
    for (const Folder &folder : folders) {
        if (folder.maps || folder.textures)
            better(folder);
    }
    if (!best)
        return std::nullopt;
    return best->components;
}
