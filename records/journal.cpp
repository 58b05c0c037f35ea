// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/journal.h"

#include "runtime/hostpath.h"

using namespace Qt::StringLiterals;
using runtime::FileStatus;

namespace records {

InstallJournal::InstallJournal(const Store &store, InstallRecord header)
    : m_store(store), m_files(store.files()), m_record(std::move(header))
{
    FileStatus game;
    if (m_files.status(m_record.gameHost, game) == 0)
        m_record.game = FolderId::of(game);
    // The folder is there before anything is kept, so that nothing kept is ever without one.
    if (const int error = m_store.begin(m_record, m_held))
        m_unwritable =
            systemError(error, Step::WriteRecord, runtime::decodeName(m_store.installsFolder()));
    m_begun = !m_unwritable;
    if (!m_begun)
        return;
    if (const auto before = m_store.newestOf(m_record.game, m_record.folder)) {
        for (const Change &change : before->changes)
            m_before.insert(change.target, change);
        m_archivesBefore = before->archives;
    }
}

InstallJournal::~InstallJournal() = default;

QString InstallJournal::shown(const QString &destination) const
{
    const QString &game = m_record.gameFolder;
    return destination.startsWith(game) ? destination.mid(game.size()).remove(0, 1) : destination;
}

// The folder of a file the install reached through a link inside the game folder; asked
// once a folder.
std::optional<FolderId> InstallJournal::linkedFolder(const QByteArray &target)
{
    const QByteArray game = m_record.gameHost;
    const QByteArray folder = target.left(target.lastIndexOf('/'));
    const auto known = m_linkedFolders.constFind(folder);
    if (known != m_linkedFolders.cend())
        return *known;
    std::optional<FolderId> linked;
    for (qsizetype at = game.size() + 1; folder.startsWith(game + '/') && at <= folder.size();) {
        qsizetype end = folder.indexOf('/', at);
        if (end < 0)
            end = folder.size();
        FileStatus status, reached;
        if (m_files.entryStatus(folder.left(end), status) == 0 && status.isLink()) {
            if (m_files.status(folder, reached) == 0)
                linked = FolderId::of(reached);
            break;
        }
        at = end + 1;
    }
    m_linkedFolders.insert(folder, linked);
    return linked;
}

InstallJournal::Wanted InstallJournal::replacing(const Copy &copy)
{
    Change change;
    change.shown = shown(copy.destination);
    change.target = copy.target;
    change.written = Identity::of(copy.made);
    if (copy.member)
        change.member = FromArchive{archiveIndex(copy.member->archive), copy.member->member};
    else
        change.source = Identity::of(copy.source);
    change.linkedFolder = linkedFolder(copy.target);
    FileStatus entry;
    if (copy.replaced) {
        change.action = Change::Replaced;
        // What is replaced is the entry itself: a link in the game folder is kept as a link.
        entry = *copy.replaced;
        m_files.entryStatus(copy.target, entry);
        change.previous = Identity::of(entry);
    }
    const Wanted wanted = known(change);
    if (copy.replaced)
        keep(change, entry);
    m_record.changes.append(change);
    return wanted;
}

namespace {

bool same(const Identity &a, const Identity &b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified == b.modified && !a.link && !b.link;
}

} // namespace

// The archive of that host path in the record; one the journal was not told of is added,
// known by its path alone.
int InstallJournal::archiveIndex(const QByteArray &host)
{
    for (qsizetype i = 0; i < m_record.archives.size(); ++i) {
        if (m_record.archives[i].host == host)
            return int(i);
    }
    m_record.archives.append({runtime::decodeName(host), host, {}});
    return int(m_record.archives.size() - 1);
}

// Whether an earlier change read what this one reads: the same file unchanged, or the member
// of the same name in the same archive unchanged.
bool InstallJournal::sameSource(const Change &before, const Change &change) const
{
    if (before.source && change.source)
        return same(*before.source, *change.source);
    if (!before.member || !change.member || before.member->name != change.member->name)
        return false;
    // The earlier archive was read whole, and is there unchanged.
    const int then = before.member->archive, now = change.member->archive;
    return then < m_archivesBefore.size() && !m_archivesBefore[then].identity.digest.isEmpty() &&
           same(m_archivesBefore[then].identity, m_record.archives.value(now).identity);
}

// The digests an earlier install into the folder read already: of a source it copied, by
// what the source is, and of a file it wrote that is still as it wrote it. A file changed
// since with its size and time put back gives the digest of what it was: the undo checks
// the kept file against it, and leaves both as they are where they differ.
InstallJournal::Wanted InstallJournal::known(Change &change)
{
    const auto before = m_before.constFind(change.target);
    if (before == m_before.cend() || before->written.digest.isEmpty())
        return {};
    Wanted wanted;
    if (sameSource(*before, change)) {
        change.written.digest = before->written.digest;
        wanted.written = false;
    }
    if (change.action == Change::Replaced && same(before->written, change.previous)) {
        change.previous.digest = before->written.digest;
        wanted.replaced = false;
    }
    return wanted;
}

// Keeps the file a change replaces in the record's folder: a second name of it costs
// nothing; elsewhere it is cloned or copied.
void InstallJournal::keep(Change &change, const FileStatus &entry)
{
    if (m_unwritable) {
        change.notKept = m_unwritable;
        return;
    }
    const QString name = u"kept-%1"_s.arg(m_record.changes.size());
    const QByteArray kept = m_record.folder + '/' + name.toLatin1();
    const int linked = m_files.link(change.target, kept);
    if (linked == 0) {
        change.kept = name;
        return;
    }
    if (!entry.isRegular()) {
        change.notKept = systemError(linked, Step::Keep, change.shown);
        return;
    }
    runtime::Fd in, out;
    bool cloned = false;
    int error = m_files.open(change.target, in);
    if (!error)
        error = m_files.createAt(m_held, name.toLatin1(), 0600, out);
    if (!error)
        error = m_files.copy(in, out, entry.size, cloned);
    if (error) {
        if (out.isOpen())
            m_files.remove(kept);
        change.notKept = systemError(error, Step::Keep, change.shown);
        return;
    }
    change.kept = name;
    m_copies.append(kept);
}

void InstallJournal::readingArchive(const runtime::ArchiveOrigin &archive)
{
    Archive &told = m_record.archives[archiveIndex(archive.host)];
    told.shown = archive.shown;
    told.identity = Identity::of(archive.status);
}

void InstallJournal::madeFolder(const QString &destination, const QByteArray &path)
{
    Change change;
    change.action = Change::MadeFolder;
    change.shown = shown(destination);
    change.target = path;
    m_record.changes.append(change);
}

QByteArray InstallJournal::folder() const
{
    return m_begun ? m_record.folder : QByteArray();
}

void InstallJournal::flushEach()
{
    for (const QByteArray &path : std::as_const(m_copies)) {
        runtime::Fd fd;
        if (m_files.open(path, fd) == 0)
            m_files.flushFile(fd);
    }
    m_files.flushFolder(m_record.folder);
    const QByteArray installs = m_store.installsFolder();
    m_files.flushFolder(installs);
    m_files.flushFolder(installs.left(installs.lastIndexOf('/')));
}

void InstallJournal::write(const runtime::Digests &digests)
{
    if (!m_begun || m_unwritable)
        return;
    for (Archive &archive : m_record.archives)
        archive.identity.digest = digests.archives.value(archive.host, archive.identity.digest);
    for (Change &change : m_record.changes) {
        if (change.action == Change::MadeFolder)
            continue;
        change.written.digest = digests.written.value(change.target, change.written.digest);
        change.previous.digest = digests.replaced.value(change.target, change.previous.digest);
    }
    m_record.complete = true;
    const int error = m_store.write(m_record);
    m_written = error == 0;
    if (m_written)
        return;
    m_record.complete = false;
    m_unwritable = systemError(error, Step::WriteRecord, runtime::decodeName(m_record.folder));
    // Said before anything is replaced, so that an undo never takes it for an install that
    // changed nothing. Where not even that can be said, nothing kept stays unexplained:
    // every file kept is still in the game.
    if (m_store.markUnrecorded(m_record.folder, error) != 0) {
        m_held.reset();
        m_store.remove(m_record.folder);
        m_begun = false;
    }
}

void InstallJournal::finish(bool wroteAny)
{
    // A record never written whole is of an install that replaced nothing; one marked
    // unrecorded stays.
    const bool marked = m_begun && m_unwritable;
    if (m_begun && !marked && (!m_written || !wroteAny)) {
        m_held.reset();
        m_store.remove(m_record.folder);
    }
}

} // namespace records
