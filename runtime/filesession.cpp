// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/filesession.h"

#include <QHash>
#include <algorithm>
#include <cerrno>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

// The key of a replaced file's digest.
const QByteArray ReplacedKey = "replaced:";

} // namespace

// The destination's copy, written and locked; it takes the destination's place once its
// data is on disk.
struct FileSession::Staged
{
    QString destination;
    PendingCopy copy;
    QByteArray target;
    QByteArray folder;
    QByteArray name;
    bool isNew; // no entry of the name was there
};

FileSession::FileSession(FileSystem &files, const HostPaths &host)
    : m_files(files), m_host(host), m_folders(files), m_maxStaged(files.openFileBudget()),
      m_digests(files)
{}

FileSession::~FileSession() = default;

void FileSession::removeAbandonedTemporaries(const QByteArray &folder)
{
    if (m_cleared.contains(folder))
        return;
    m_cleared.insert(folder);
    const auto *entries = m_folders.entries(folder);
    if (!entries)
        return;
    // The index keeps the names removed here; being hidden, they are never listed.
    for (const FolderIndex::Entry &entry : *entries) {
        if (entry.name[0] == '.' && isTemporaryName(entry.name)) // most names at a glance
            removeIfAbandoned(m_files, Fd(), joinHost(folder, QByteArray(entry.name)));
    }
}

QList<FileSession::Failure> FileSession::commit()
{
    putInPlace();
    return std::exchange(m_failures, {});
}

// Every copy's data on the disk before any rename: one flush a file system, or one a file
// where a flush of the file system does not reach the disk. The journal's folder is flushed
// with them: what the copies replace is kept on the disk before any of them is put in place.
void FileSession::flushData(std::vector<Staged> &staged, std::vector<Staged *> &flushed)
{
    QHash<quint64, int> flushedDevices; // device -> 0, or the error its flush gave
    const QByteArray journal = m_journal ? m_journal->folder() : QByteArray();
    FileStatus status;
    if (!journal.isEmpty() && m_files.status(journal, status) == 0) {
        const int error = m_files.flushFileSystem(journal);
        flushedDevices.insert(status.device, error);
        if (error == ENOTSUP)
            m_journal->flushEach();
    }
    for (Staged &s : staged) {
        const quint64 on = s.copy.status().device;
        auto device = flushedDevices.constFind(on);
        if (device == flushedDevices.cend())
            device = flushedDevices.insert(on, m_files.flushFileSystem(s.folder));
        int error = *device;
        if (error == ENOTSUP)
            error = s.copy.flush();
        if (error) {
            s.copy.discard();
            m_failures.append({s.destination, systemError(error, Operation::Flush, s.destination)});
        } else {
            flushed.push_back(&s);
        }
    }
}

// What the copies hold and what they replace, read beside the work while they were made.
Digests FileSession::digests(const std::vector<Staged *> &flushed)
{
    const QHash<QByteArray, QByteArray> read = m_digests.digests();
    Digests result;
    result.archives = m_archiveDigests;
    for (const Staged *s : flushed) {
        const auto source = m_sourceOf.constFind(s->target);
        if (source != m_sourceOf.cend() && read.contains(*source))
            result.written.insert(s->target, read.value(*source));
        const auto replaced = read.constFind(ReplacedKey + s->target);
        if (replaced != read.cend())
            result.replaced.insert(s->target, *replaced);
    }
    return result;
}

void FileSession::putInPlace()
{
    std::vector<Staged> staged = std::exchange(m_staged, {});
    std::vector<Staged *> flushed;
    flushData(staged, flushed);
    // The record is written whole before any copy takes its place.
    if (m_journal && !flushed.empty())
        m_journal->write(digests(flushed));
    // The renames, in the order the copies were made, then one flush of each folder that
    // received a name, so that the names too survive a power cut.
    QList<QByteArray> folders;
    QHash<QByteArray, QStringList> renamedInto; // folder -> destinations
    const auto touched = [&](const QByteArray &folder, const QString &destination) {
        if (!renamedInto.contains(folder))
            folders.append(folder);
        renamedInto[folder].append(destination);
    };
    for (const auto &[parent, made] : std::exchange(m_newFolders, {}))
        touched(parent, made);
    for (Staged *s : flushed) {
        // A name the folder lacked when it was read takes no file that came since: that one
        // would be replaced unrecorded.
        if (const int error = s->copy.putInPlace(!s->isNew)) {
            s->copy.discard();
            m_failures.append(
                {s->destination, systemError(error, Operation::Rename, s->destination)});
            continue;
        }
        if (s->isNew)
            m_folders.created(s->folder, s->name);
        touched(s->folder, s->destination);
    }
    // Each folder through the handle its copies were renamed in by, where it holds one.
    for (const QByteArray &folder : folders) {
        const auto held = m_openFolders.find(folder);
        const int error = held != m_openFolders.end() ? m_files.flushOpenFolder(held->second.fd)
                                                      : m_files.flushFolder(folder);
        if (error) {
            for (const QString &destination : renamedInto[folder])
                m_failures.append({destination, systemError(error, Operation::Flush, destination)});
        }
    }
    // The locks of the copies that failed go with `staged`, now that they are removed.
}

// The folder copies go into, opened the first time one does (the copies into it follow one
// another); null where it is no folder.
const FileSession::OpenFolder *FileSession::openFolder(const QByteArray &folder)
{
    if (const auto found = m_openFolders.find(folder); found != m_openFolders.end())
        return &found->second;
    OpenFolder opened;
    FileStatus status;
    if (m_files.openFolderAt(Fd(), folder, opened.fd) != 0 ||
        m_files.status(opened.fd, status) != 0)
        return nullptr;
    opened.device = status.device;
    return &m_openFolders.emplace(folder, std::move(opened)).first->second;
}

// Where a copy goes and what it reads, as the install's rules have it.
struct FileSession::Target
{
    QString source;
    QString destination;
    QByteArray sourceHost; // a copy not yet in place is read from its temporary file
    bool fromCopy = false;
    QByteArray folder;
    QByteArray name; // the entry there in any case, else the name as given
    QByteArray host;
    const OpenFolder *opened = nullptr; // `folder`
    bool existing = false;
    Fd in;
    FileStatus from;
    std::optional<FileStatus> replaced;
    std::optional<MemberOrigin> member; // where it comes from an archive
};

// The destination's folder is found case-blind, and an existing file that matches the name
// case-blind is the one replaced, under its own name. A file copied onto itself is left
// alone (`in` not open); a folder, or a file its owner made read-only, is not replaced.
FileSession::Target FileSession::decide(const QString &source, const QString &destination)
{
    Target t;
    t.source = source;
    t.destination = destination;
    const auto sourceHost = resolveExisting(source, m_host, m_folders);
    if (!sourceHost)
        raise(ErrorKind::NotFound, Operation::Open, source);
    t.sourceHost = *sourceHost;
    if (const auto member = m_memberOf.constFind(t.sourceHost); member != m_memberOf.cend())
        t.member = *member;
    place(t);
    for (auto it = m_staged.crbegin(); it != m_staged.crend(); ++it) {
        if (it->target == t.sourceHost) {
            t.sourceHost =
                it->copy.named() ? joinHost(it->folder, it->copy.path()) : it->copy.path();
            t.fromCopy = true;
            break;
        }
    }
    int opened = m_files.open(t.sourceHost, t.in);
    if (opened == ENOENT)
        raise(ErrorKind::NotFound, Operation::Open, source);
    if (!opened)
        opened = m_files.status(t.in, t.from);
    if (!opened && t.from.isFolder())
        opened = EISDIR;
    if (opened)
        raiseSystem(opened, Operation::Open, destination);
    checkReplaced(t);
    return t;
}

// A copy whose data the caller streams, with where it goes.
struct FileSession::Incoming
{
    Target target;
    PendingCopy copy;
};

// Where the copy goes: its folder, opened, and the entry it replaces, if any.
void FileSession::place(Target &t)
{
    const SplitPath split = splitPath(t.destination, m_host);
    if (split.trailingSeparator || split.components.isEmpty())
        raise(ErrorKind::NoFileName, Operation::Resolve, t.destination);
    const auto folder = resolveComponents(split, m_folders, split.components.size() - 1);
    t.opened = folder ? openFolder(*folder) : nullptr;
    if (!t.opened)
        raise(ErrorKind::NotFound, Operation::CreateTemporary, t.destination);
    removeAbandonedTemporaries(*folder);
    const auto existing = findEntry(*folder, split.components.back(), m_folders);
    t.folder = *folder;
    t.existing = existing.has_value();
    t.name = existing ? *existing : encodeName(split.components.back());
    t.host = joinHost(t.folder, t.name);
}

// What the copy replaces. A name the folder's index lacks is not looked for again: on a
// case-blind host that costs a reading of the whole folder. Its rename replaces nothing.
void FileSession::checkReplaced(Target &t)
{
    FileStatus to;
    if (!t.existing || m_files.status(t.host, to) != 0)
        return;
    if (to.isFolder())
        raiseSystem(EISDIR, Operation::CreateTemporary, t.destination);
    if (t.in.isOpen() && to.device == t.from.device && to.inode == t.from.inode) {
        t.in.reset(); // the file is its own copy already
        return;
    }
    // A mode without a write bit is the player's "read-only", also for root, who may
    // write anyway. A file that another program holds (the game, running) is in use.
    const int access = (to.permissions() & 0222) == 0 ? EACCES : m_files.access(t.host);
    if (access == EBUSY)
        raiseSystem(EBUSY, Operation::Access, t.destination);
    if (access != 0)
        raise(ErrorKind::ReadOnly, Operation::Access, t.destination);
    t.replaced = to;
}

void FileSession::copyFile(const QString &source, const QString &destination)
{
    Target target = decide(source, destination);
    if (target.in.isOpen())
        stage(target);
}

// Writes the copy to a temporary file beside its destination and stages it to be put in
// place; a replaced file keeps its owner and its permission bits where the volume stores
// them.
void FileSession::stage(Target &t)
{
    PendingCopy copy(m_files);
    Operation failed = Operation::CreateTemporary;
    copy.setVolume(t.opened->device);
    if (const int error = copy.write(t.opened->fd, t.name, t.in, t.from.size, kept(t), failed))
        raiseSystem(error, failed, t.destination);
    staged(t, std::move(copy));
}

std::optional<Keep> FileSession::kept(const Target &t)
{
    if (!t.replaced)
        return std::nullopt;
    return Keep{t.replaced->owner, t.replaced->group, t.replaced->permissions()};
}

// A copy written whole joins those to be put in place, told to the journal.
void FileSession::staged(Target &t, PendingCopy copy)
{
    FileStatus written;
    if (const int error =
            m_journal ? m_files.statusOnVolume(copy.file(), copy.status().device, written) : 0)
        raiseSystem(error, Operation::Copy, t.destination);
    if (m_journal)
        record(t, written);
    if (m_staged.size() >= m_maxStaged)
        putInPlace();
    m_staged.push_back({t.destination, std::move(copy), t.host, t.folder, t.name, !t.existing});
    // Later copies to this name in any case go to the same file.
    if (!t.existing)
        m_folders.reserved(t.folder, t.name);
}

void FileSession::beginCopy(const QString &destination)
{
    m_incoming.reset();
    Target t;
    t.destination = destination;
    place(t);
    checkReplaced(t);
    PendingCopy copy(m_files);
    Operation failed = Operation::CreateTemporary;
    copy.setVolume(t.opened->device);
    if (const int error = copy.begin(t.opened->fd, t.name, failed))
        raiseSystem(error, failed, destination);
    m_incoming.reset(new Incoming{std::move(t), std::move(copy)});
}

void FileSession::appendCopy(const char *data, qint64 size)
{
    if (!m_incoming)
        return;
    if (const int error = m_incoming->copy.append(data, size)) {
        const QString destination = m_incoming->target.destination;
        m_incoming.reset();
        raiseSystem(error, Operation::Copy, destination);
    }
}

// The copy streamed is staged; the journal reads its digest from the copy itself.
void FileSession::endCopy(const MemberOrigin &origin)
{
    if (!m_incoming)
        return;
    Incoming incoming = std::move(*m_incoming);
    m_incoming.reset();
    Target &t = incoming.target;
    PendingCopy &copy = incoming.copy;
    Operation failed = Operation::Copy;
    if (const int error = copy.finish(kept(t), failed))
        raiseSystem(error, failed, t.destination);
    t.from = FileStatus();
    t.from.size = origin.size;
    t.member = origin;
    m_memberOf.insert(t.host, origin);
    t.fromCopy = true;
    t.sourceHost = copy.named() ? joinHost(t.folder, copy.path()) : copy.path();
    if (m_journal) {
        if (const int error = m_files.open(t.sourceHost, t.in))
            raiseSystem(error, Operation::Copy, t.destination);
    }
    staged(t, std::move(copy));
}

// Tells the journal of a copy, and has what it reads and what it replaces read for their
// digests beside the work, where the journal does not know them: a model copied to several
// colours is read once.
void FileSession::record(Target &t, const FileStatus &written)
{
    const ChangeJournal::Wanted wanted =
        m_journal->replacing({t.destination, t.host, t.from, t.replaced, written, t.member});
    if (wanted.written) {
        QByteArray key = t.sourceHost;
        if (t.fromCopy) // the name of a copy not yet in place is of this moment only
            key = "copy:" + QByteArray::number(m_copiesRead++);
        if (t.fromCopy || !m_sourcesRead.contains(key)) {
            m_sourcesRead.insert(key);
            m_digests.add(key, std::move(t.in));
        }
        m_sourceOf.insert(t.host, key);
    }
    if (Fd replaced; t.replaced && wanted.replaced && m_files.openEntry(t.host, replaced) == 0)
        m_digests.add(ReplacedKey + t.host, std::move(replaced));
}

void FileSession::readingArchive(const ArchiveOrigin &archive)
{
    if (m_journal)
        m_journal->readingArchive(archive);
}

void FileSession::archiveDigest(const QByteArray &host, const QByteArray &digest)
{
    if (!digest.isEmpty())
        m_archiveDigests.insert(host, digest);
}

void FileSession::abandon()
{
    // The copies read for their digests are let go first: on Windows a file removed while
    // open keeps its name, and its folder, until it is closed.
    m_digests.digests();
    m_incoming.reset();
    m_staged.clear();
    m_newFolders.clear();
    for (auto it = m_madeFolders.crbegin(); it != m_madeFolders.crend(); ++it) {
        m_openFolders.erase(*it); // a folder held open cannot go, on Windows
        m_files.removeFolder(*it);
    }
    m_madeFolders.clear();
}

void FileSession::makeFolder(const QString &path)
{
    const SplitPath split = splitPath(path, m_host);
    if (split.components.isEmpty())
        raiseSystem(EEXIST, Operation::MakeFolder, path);
    const QString name = split.components.back();
    const auto parent = resolveComponents(split, m_folders, split.components.size() - 1);
    if (!parent)
        raiseSystem(ENOENT, Operation::MakeFolder, path);
    if (name == u"."_s || name == u".."_s || findEntry(*parent, name, m_folders))
        raiseSystem(EEXIST, Operation::MakeFolder, path);
    if (const int error = m_files.makeFolder(joinHost(*parent, encodeName(name)), 0777))
        raiseSystem(error, Operation::MakeFolder, path);
    m_folders.created(*parent, encodeName(name));
    m_newFolders.append({*parent, path});
    m_madeFolders.append(joinHost(*parent, encodeName(name)));
    if (m_journal)
        m_journal->madeFolder(path, joinHost(*parent, encodeName(name)));
}

} // namespace runtime
