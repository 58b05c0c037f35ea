// SPDX-License-Identifier: GPL-3.0-or-later
#include "install/carfiles.h"

#include "runtime/filesession.h"
#include "runtime/filesystem.h"
#include "runtime/listing.h"

using runtime::ErrorKind;

CarFiles::CarFiles(runtime::FileSession &session) : m_session(session) {}

CarFiles::~CarFiles() = default;

namespace {

// The archive's path as the player wrote it in `path`: the path without the components inside
// the archive; as the host names it where the two do not match.
QString typedArchive(const QString &path, const archives::ArchivePlace &place)
{
    const auto separator = [&](qsizetype at) {
        return path[at] == u'\\' || path[at] == u'/';
    };
    qsizetype end = path.size();
    for (qsizetype i = 0; i <= place.inside.size(); ++i) {
        while (end > 0 && separator(end - 1))
            --end;
        if (i == place.inside.size())
            break;
        while (end > 0 && !separator(end - 1))
            --end;
    }
    const QString typed = path.left(end);
    const QString name = place.archiveShown.mid(place.archiveShown.lastIndexOf(u'\\') + 1);
    const bool matches = typed.endsWith(name.mid(name.lastIndexOf(u'/') + 1), Qt::CaseInsensitive);
    return matches && !typed.isEmpty() ? typed : place.archiveShown;
}

} // namespace

CarFiles::Archive *CarFiles::archiveOf(const archives::ArchivePlace &place, const QString &path)
{
    // Known by what it is, not by how a path spells it (case-blind hosts keep the spelling).
    runtime::FileStatus status;
    QByteArray key = place.archiveHost;
    if (m_session.folders().files().status(place.archiveHost, status) == 0)
        key = QByteArray::number(status.device) + ':' + QByteArray::number(status.inode);
    auto found = m_archives.find(key);
    if (found == m_archives.end()) {
        Archive archive;
        archive.reader = std::make_unique<archives::ArchiveReader>(
            m_session.folders().files(), place.archiveHost, place.archiveShown);
        archive.tree = std::make_unique<archives::ArchiveTree>(archive.reader->members());
        archive.shown = typedArchive(path, place);
        archive.host = place.archiveHost;
        found = m_archives.emplace(key, std::move(archive)).first;
    }
    return &found->second;
}

QStringList CarFiles::all(const QString &pattern)
{
    const auto place = archives::locate(pattern, m_session.host(), m_session.folders());
    if (!place)
        return runtime::Listing::all(pattern, m_session.host(), m_session.folders());
    const Archive *archive = archiveOf(*place, pattern);
    QStringList folder = place->inside;
    if (place->trailingSeparator)
        return archive->tree->files(folder, {}, place->archiveShown);
    if (folder.isEmpty())
        return {}; // the archive itself is no file of the car
    const QString last = folder.takeLast();
    if (runtime::hasWildcard(last))
        return archive->tree->files(folder, last, place->archiveShown);
    const auto found = archive->tree->find(place->inside, place->archiveShown);
    if (!found || *found < 0 || last.startsWith(u'.'))
        return {};
    return {archive->reader->members()[*found].components.back()};
}

std::optional<CarFiles::InArchive> CarFiles::member(const QString &path)
{
    const auto place = archives::locate(path, m_session.host(), m_session.folders());
    if (!place)
        return std::nullopt;
    Archive *archive = archiveOf(*place, path);
    const auto found = archive->tree->find(place->inside, place->archiveShown);
    if (!found || *found < 0)
        runtime::raise(ErrorKind::NotFound, runtime::Operation::Open, path);
    return InArchive{archive->reader.get(), *found, archive->shown, archive->host};
}

bool isArchiveError(const runtime::Error &error)
{
    return runtime::isArchiveKind(error.kind) || error.operation == runtime::Operation::ReadArchive;
}
