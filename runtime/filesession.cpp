// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/filesession.h"

#include <QHash>
#include <algorithm>
#include <cerrno>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

// A volume that stores no permission bits (FAT, or NTFS mounted without them) refuses to
// change them, in one of these ways.
bool modesUnsupported(int error)
{
    return error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP || error == EPERM;
}

} // namespace

// The destination's temporary copy, written and locked; it takes the destination's place
// once its data is on disk.
struct FileSession::Staged
{
    QString destination;
    QByteArray temp;
    QByteArray target;
    QByteArray folder;
    QByteArray name;
    quint64 device;
    bool isNew; // no entry of the name was there
    Fd fd;      // holds the lock until the file is renamed or removed
};

FileSession::FileSession(FileSystem &files, const HostPaths &host)
    : m_files(files), m_host(host), m_folders(files), m_maxStaged(files.openFileBudget()),
      m_digests(files)
{}

FileSession::~FileSession()
{
    for (const Staged &staged : m_staged)
        m_files.remove(staged.temp);
}

// Creates a temporary file beside `target` and locks it, so that no other install takes it
// for one abandoned. One that such an install removed before the lock was taken is given
// up for another name.
Fd FileSession::createTemporary(const QByteArray &target, const QString &destination,
                                QByteArray &path, FileStatus &status)
{
    for (int attempt = 0;; ++attempt) {
        Fd fd;
        bool named = true;
        if (const int error = m_files.createTemporary(target, path, named, fd))
            raiseSystem(error, Operation::CreateTemporary, destination);
        const int locked = m_files.lock(fd);
        // Where the file system has no locks, no other install can lock it either, and so
        // none removes it; nor can it find one without a name.
        if (locked != 0 && locked != EWOULDBLOCK && m_files.status(fd, status) == 0)
            return fd;
        if (locked == 0 && m_files.status(fd, status) == 0 && (status.links > 0 || !named))
            return fd;
        path.clear(); // the other install removes it
        if (attempt >= 100)
            raiseSystem(EEXIST, Operation::CreateTemporary, destination);
    }
}

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
        if (entry.name[0] != '.' || !isTemporaryName(entry.name)) // most names at a glance
            continue;
        const QByteArray path = joinHost(folder, QByteArray(entry.name));
        Fd fd;
        FileStatus held, now;
        if (m_files.openEntry(path, fd) != 0 || m_files.status(fd, held) != 0 ||
            !held.isRegular() || m_files.lock(fd) != 0)
            continue;
        // Unlocked, and still under its temporary name: no install will rename it.
        if (m_files.entryStatus(path, now) == 0 && now.device == held.device &&
            now.inode == held.inode)
            m_files.remove(path);
    }
}

QList<FileSession::Failure> FileSession::commit()
{
    putInPlace();
    return std::exchange(m_failures, {});
}

void FileSession::putInPlace()
{
    std::vector<Staged> staged = std::exchange(m_staged, {});
    std::vector<Staged *> flushed;
    const auto failed = [&](const Staged &s, Operation operation, int error) {
        m_files.remove(s.temp);
        m_failures.append({s.destination, systemError(error, operation, s.destination)});
    };

    // Every copy's data on the disk before any rename: one flush a file system, or one a
    // file where a flush of the file system does not reach the disk.
    QHash<quint64, int> flushedDevices; // device -> 0, or the error its flush gave
    if (m_journal && !staged.empty()) {
        // What the copies replace is kept on the disk before any of them is put in place.
        const QByteArray journal = m_journal->write();
        FileStatus status;
        if (!journal.isEmpty() && m_files.status(journal, status) == 0) {
            const int error = m_files.flushFileSystem(journal);
            flushedDevices.insert(status.device, error);
            if (error == ENOTSUP)
                m_journal->flushEach();
        }
    }
    for (Staged &s : staged) {
        auto device = flushedDevices.constFind(s.device);
        if (device == flushedDevices.cend())
            device = flushedDevices.insert(s.device, m_files.flushFileSystem(s.folder));
        int error = *device;
        if (error == ENOTSUP)
            error = m_files.flushFile(s.fd);
        if (error)
            failed(s, Operation::Flush, error);
        else
            flushed.push_back(&s);
    }

    // The record learns what the copies hold, read while they were made and flushed, before
    // any takes its place.
    if (m_journal && !flushed.empty()) {
        const QHash<QByteArray, QByteArray> read = m_digests.digests();
        QHash<QByteArray, QByteArray> ofTargets;
        for (const Staged *s : flushed) {
            const auto source = m_sourceOf.constFind(s->target);
            if (source != m_sourceOf.cend() && read.contains(*source))
                ofTargets.insert(s->target, read.value(*source));
        }
        m_journal->digests(ofTargets);
    }
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
        if (const int error = m_files.rename(s->temp, s->fd, s->target)) {
            failed(*s, Operation::Rename, error);
            continue;
        }
        // In place, the copy needs its lock no more; closed, it can be replaced by a later
        // copy to the same name, also where a file held open cannot be (Windows).
        s->fd.reset();
        if (s->isNew)
            m_folders.created(s->folder, s->name);
        touched(s->folder, s->destination);
    }
    for (const QByteArray &folder : folders) {
        if (const int error = m_files.flushFolder(folder)) {
            for (const QString &destination : renamedInto[folder])
                m_failures.append({destination, systemError(error, Operation::Flush, destination)});
        }
    }
    // The locks of the copies that failed go with `staged`, now that they are removed.
}

void FileSession::copyFile(const QString &source, const QString &destination)
{
    auto sourceHost = resolveExisting(source, m_host, m_folders);
    if (!sourceHost)
        raise(ErrorKind::NotFound, Operation::Open, source);

    const SplitPath target = splitPath(destination, m_host);
    if (target.trailingSeparator || target.components.isEmpty())
        raise(ErrorKind::NoFileName, Operation::Resolve, destination);
    const QString name = target.components.back();
    const auto folder = resolveComponents(target, m_folders, target.components.size() - 1);
    // A folder is checked once a session: the copies into it follow one another.
    if (!folder || (!m_cleared.contains(*folder) && !isFolder(m_files, *folder)))
        raise(ErrorKind::NotFound, Operation::CreateTemporary, destination);
    removeAbandonedTemporaries(*folder);
    const auto existing = findEntry(*folder, name, m_folders);
    const QByteArray targetName = existing ? *existing : encodeName(name);
    const QByteArray targetHost = joinHost(*folder, targetName);

    // A file this session has yet to put in place is read from its new copy.
    bool fromCopy = false;
    for (auto it = m_staged.crbegin(); it != m_staged.crend(); ++it) {
        if (it->target == *sourceHost) {
            sourceHost = it->temp;
            fromCopy = true;
            break;
        }
    }

    QByteArray temp;
    const auto check = [&](Operation operation, int error) {
        if (error == 0)
            return;
        if (!temp.isEmpty())
            m_files.remove(temp);
        raiseSystem(error, operation, destination);
    };
    Fd in;
    const int opened = m_files.open(*sourceHost, in);
    if (opened == ENOENT)
        raise(ErrorKind::NotFound, Operation::Open, source);
    check(Operation::Open, opened);
    FileStatus from;
    check(Operation::Open, m_files.status(in, from));
    check(Operation::Open, from.isFolder() ? EISDIR : 0);

    FileStatus to;
    const bool replacing = m_files.status(targetHost, to) == 0;
    check(Operation::CreateTemporary, replacing && to.isFolder() ? EISDIR : 0);
    if (replacing && to.device == from.device && to.inode == from.inode)
        return; // the file is its own copy already
    // A mode without a write bit is the player's "read-only", also for root, who may
    // write anyway. A file that another program holds (the game, running) is in use.
    if (replacing) {
        const int access = (to.permissions() & 0222) == 0 ? EACCES : m_files.access(targetHost);
        check(Operation::Access, access == EBUSY ? EBUSY : 0);
        if (access != 0)
            raise(ErrorKind::ReadOnly, Operation::Access, destination);
    }

    FileStatus made;
    Fd out = createTemporary(targetHost, destination, temp, made);
    bool cloned = false;
    check(Operation::Copy, m_files.copy(in, out, from.size, cloned));
    if (replacing) {
        // Ownership can only be kept with the rights to give it; the bits can be where the
        // volume stores them. Either is changed only when it differs: a change that
        // changes nothing still costs a logged update of the file.
        if (to.owner != made.owner || to.group != made.group)
            m_files.setOwner(out, to.owner, to.group);
        if (to.permissions() != made.permissions()) {
            const int error = m_files.setMode(out, to.permissions());
            check(Operation::SetMode, modesUnsupported(error) ? 0 : error);
        }
    }
    if (m_journal) {
        FileStatus written;
        check(Operation::Copy, m_files.status(out, written));
        // A model copied to several colours is read for its digest once, beside the work.
        QByteArray key = *sourceHost;
        if (fromCopy) // the name of a copy not yet in place is of this moment only
            key = "copy:" + QByteArray::number(m_copiesRead++);
        if (fromCopy || !m_sourcesRead.contains(key)) {
            m_sourcesRead.insert(key);
            m_digests.add(key, std::move(in));
        }
        m_sourceOf.insert(targetHost, key);
        m_journal->replacing(destination, targetHost,
                             replacing ? std::optional<FileStatus>(to) : std::nullopt, written);
    }
    if (m_staged.size() >= m_maxStaged)
        putInPlace();
    m_staged.push_back({destination, temp, targetHost, *folder, targetName, made.device, !existing,
                        std::move(out)});
    // Later copies to this name in any case go to the same file.
    if (!existing)
        m_folders.reserved(*folder, targetName);
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
    if (m_journal)
        m_journal->madeFolder(path, joinHost(*parent, encodeName(name)));
}

} // namespace runtime
