// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/gamefolder.h"

#include "runtime/hostpath.h"

using runtime::Fd;
using runtime::FileStatus;

namespace records {

namespace {

std::optional<GameFolder> open(runtime::FileSystem &files, const QByteArray &path)
{
    GameFolder game;
    if (files.openFolderAt(Fd(), path, game.fd) != 0 || files.status(game.fd, game.status) != 0)
        return std::nullopt;
    game.host = path;
    return game;
}

} // namespace

std::optional<GameFolder> findTyped(runtime::FileSystem &files, const runtime::HostPaths &host,
                                    const QString &typed)
{
    runtime::FolderIndex folders(files);
    const auto found = runtime::resolveExisting(typed, host, folders);
    return found ? open(files, *found) : std::nullopt;
}

std::optional<GameFolder> findRecorded(runtime::FileSystem &files, const QByteArray &gameHost,
                                       const FolderId &game)
{
    auto at = open(files, gameHost);
    if (at && (!game.known() || at->id() == game))
        return at;
    if (!game.known())
        return std::nullopt;
    const qsizetype slash = gameHost.lastIndexOf('/');
    const QByteArray parent = gameHost.left(std::max<qsizetype>(slash, 1));
    runtime::FolderListing listing;
    if (slash < 0 || files.listFolder(parent, listing) != 0)
        return std::nullopt;
    for (const runtime::FolderEntry &entry : listing.entries) {
        FileStatus status;
        const QByteArray path = runtime::joinHost(parent, entry.name);
        if (entry.kind != runtime::FolderEntry::File && entry.kind != runtime::FolderEntry::Other &&
            files.status(path, status) == 0 && status.isFolder() && FolderId::of(status) == game)
            return open(files, path);
    }
    return std::nullopt;
}

bool isOf(runtime::FileSystem &files, const QByteArray &gameHost, const FolderId &recorded,
          const GameFolder &game)
{
    if (recorded.known())
        return recorded == game.id();
    FileStatus status;
    return gameHost == game.host ||
           (files.status(gameHost, status) == 0 && FolderId::of(status) == game.id());
}

} // namespace records
