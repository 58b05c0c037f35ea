// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/undosteps.h"

#include "runtime/hostpath.h"
#include "runtime/pendingcopy.h"

#include <cerrno>

using runtime::Fd;
using runtime::FileStatus;

namespace records {

namespace {

// A folder met on the way that a link now replaces: what the install wrote there is not
// reached, and nothing is done through it.
constexpr int LinkMet = -1;

// A digest that none of the data's is: the file could not be read.
const QByteArray Unread = "-";

QByteArray keptName(const Change &change)
{
    return change.kept.toLatin1();
}

bool sameFile(const FileStatus &status, const Identity &identity)
{
    return status.device == identity.device && status.inode == identity.inode &&
           status.size == identity.size;
}

} // namespace

UndoSteps::UndoSteps(const Store &store, const GameFolder &game, const InstallRecord &record,
                     Fd &recordFolder, UndoOutcome &outcome)
    : m_store(store), m_files(store.files()), m_game(game), m_record(record),
      m_recordFolder(recordFolder), m_outcome(outcome)
{}

void UndoSteps::plan()
{
    for (auto it = m_record.changes.crbegin(); it != m_record.changes.crend(); ++it) {
        Planned planned{&*it, UndoStep::Changed, nullptr, {}, {}, {}};
        const int opened = openFolderOf(*it, planned.folder, planned.name);
        if (it->action == Change::MadeFolder) {
            m_folders.append(planned);
            continue;
        }
        if (opened == 0)
            planFile(planned);
        // The folder is gone: so is what the install created there.
        else if (opened == ENOENT && it->action == Change::Created)
            planned.kind = UndoStep::AlreadyBack;
        m_planned.append(planned);
    }
}

void UndoSteps::planFile(Planned &planned)
{
    const Change &change = *planned.change;
    QByteArray found;
    const int error = runtimeStep(Step::FindGame, [&] {
        return runtime::findEntryAt(m_files, *planned.folder, planned.name, change.shown, found,
                                    planned.now);
    });
    if (error && error != ENOENT)
        raiseSystem(error, Step::FindGame, change.shown);
    planned.name = found;
    const bool exists = error == 0;
    const bool written = exists && holdsWritten(planned);
    const bool isReadOnly = written && readOnly(planned);
    if (change.action == Change::Created) {
        planned.kind = !exists      ? UndoStep::AlreadyBack
                       : !written   ? UndoStep::Changed
                       : isReadOnly ? UndoStep::ReadOnly
                                    : UndoStep::Removed;
        return;
    }
    planReplaced(planned, exists, written, isReadOnly);
}

void UndoSteps::planReplaced(Planned &planned, bool exists, bool written, bool isReadOnly)
{
    const Change &change = *planned.change;
    Kept kept;
    kept.there = !change.kept.isEmpty() &&
                 m_files.entryStatusAt(m_recordFolder, keptName(change), kept.status) == 0;
    const QString keptPath = runtime::decodeName(m_record.folder + '/' + keptName(change));
    // Only what the install kept comes back: a file, or the very link it replaced.
    if (kept.there && (kept.status.isLink() != change.previous.link ||
                       (!kept.status.isRegular() && !kept.status.isLink())))
        raise(Problem::Damaged, Step::Restore, keptPath, {}, int(Damage::NotAFile));
    // The earlier file is there already: put back by an undo cut short, or written again by
    // an install of the same bytes. The kept file goes with the record then, and only where
    // it holds those bytes too.
    if (exists && holdsKept(planned, kept))
        planned.kind = !kept.there || keptUnchanged(change, kept) ? UndoStep::AlreadyBack
                                                                  : UndoStep::KeptChanged;
    else if (exists && !written)
        planned.kind = UndoStep::Changed;
    // What the install wrote is there, or nothing is: the earlier file comes back, a file the
    // player removed too, for nothing of his is lost by it.
    else if (change.kept.isEmpty())
        planned.kind = UndoStep::NotKept;
    else if (isReadOnly)
        planned.kind = UndoStep::ReadOnly;
    else if (!kept.there && exists)
        raise(Problem::KeptMissing, Step::Restore, keptPath, change.shown);
    else if (!kept.there)
        planned.kind = UndoStep::Changed;
    else if (!keptUnchanged(change, kept))
        planned.kind = UndoStep::KeptChanged;
    else
        planned.kind = UndoStep::Restored;
}

// Opens the folder that holds a change's file, from the game folder down, each step found
// case-blind; a link is followed only where the install went through one, and only to the
// folder it reached. Returns 0, the errno, or LinkMet.
int UndoSteps::openFolderOf(const Change &change, const Fd *&opened, QByteArray &name)
{
    const QByteArray inside =
        m_record.gameHost.endsWith('/') ? m_record.gameHost : m_record.gameHost + '/';
    const QByteArray relative = change.target.mid(inside.size());
    const qsizetype slash = relative.lastIndexOf('/');
    name = relative.mid(slash + 1);
    const QByteArray folder = slash < 0 ? QByteArray() : relative.left(slash);
    if (folder.isEmpty()) {
        opened = &m_game.fd;
        return 0;
    }
    const auto known = m_open.find(folder);
    if (known != m_open.end()) {
        opened = known->second.isOpen() ? &known->second : nullptr;
        return m_failed.value(folder);
    }
    Fd current;
    const Fd *at = &m_game.fd;
    bool followed = false;
    int error = 0;
    for (const QByteArray &component : folder.split('/')) {
        QByteArray found;
        FileStatus status;
        error = runtimeStep(Step::FindGame, [&] {
            return runtime::findEntryAt(m_files, *at, component, change.shown, found, status);
        });
        if (!error && status.isLink()) {
            if (!change.linkedFolder)
                error = LinkMet;
            else if ((error = m_files.openLinkedFolderAt(*at, found, current)) == 0)
                followed = true;
        } else if (!error) {
            error = m_files.openFolderAt(*at, found, current);
        }
        if (error)
            break;
        at = &current;
    }
    FileStatus reached;
    if (!error && followed &&
        (m_files.status(current, reached) != 0 || FolderId::of(reached) != *change.linkedFolder))
        error = LinkMet;
    if (error) {
        current.reset();
        if (error != ENOENT && error != LinkMet)
            raiseSystem(error, Step::FindGame, change.shown);
    }
    m_failed.insert(folder, error);
    auto &held = m_open[folder] = std::move(current);
    opened = held.isOpen() ? &held : nullptr;
    return error;
}

const QByteArray &UndoSteps::digestOf(Planned &planned)
{
    if (planned.digest.isEmpty()) {
        Fd file;
        if (m_files.openEntryAt(*planned.folder, planned.name, file) != 0 ||
            m_files.hash(file, planned.digest) != 0)
            planned.digest = Unread;
    }
    return planned.digest;
}

// Whether the game's file holds what the install wrote: its size, and its digest where the
// record has one.
bool UndoSteps::holdsWritten(Planned &planned)
{
    const Identity &written = planned.change->written;
    if (!planned.now.isRegular() || !written.mayBe(planned.now))
        return false;
    return written.digest.isEmpty() || digestOf(planned) == written.digest;
}

// Whether the game's file holds what the install replaced: by the digest the install read of
// it; in records without one, the kept file put back by its second name, or the data of the
// kept file.
bool UndoSteps::holdsKept(Planned &planned, const Kept &kept)
{
    const Identity &previous = planned.change->previous;
    const FileStatus &now = planned.now;
    if (previous.link || now.isLink())
        return previous.link && now.isLink() && sameFile(now, previous);
    if (!now.isRegular() || now.size != previous.size)
        return false;
    if (!previous.digest.isEmpty())
        return digestOf(planned) == previous.digest;
    if (sameFile(now, previous))
        return true;
    if (!kept.there)
        return previous.mayBe(now);
    Fd file;
    QByteArray digest;
    return m_files.openEntryAt(m_recordFolder, keptName(*planned.change), file) == 0 &&
           m_files.hash(file, digest) == 0 && digest == digestOf(planned);
}

// Whether the kept file still holds what the install replaced: by its digest where the
// record has one, else by its size.
bool UndoSteps::keptUnchanged(const Change &change, const Kept &kept)
{
    if (kept.status.size != change.previous.size)
        return false;
    if (change.previous.digest.isEmpty() || kept.status.isLink())
        return true;
    Fd file;
    QByteArray digest;
    return m_files.openEntryAt(m_recordFolder, keptName(change), file) == 0 &&
           m_files.hash(file, digest) == 0 && digest == change.previous.digest;
}

// Only a file the player may not write to is left as read-only: one the running game holds
// is tried, and the undo fails on it with the reason, to be run again.
bool UndoSteps::readOnly(const Planned &planned)
{
    const int access = m_files.accessAt(*planned.folder, planned.name);
    return (planned.now.permissions() & 0222) == 0 || access == EACCES || access == EPERM ||
           access == EROFS;
}

void UndoSteps::clearTemporaries()
{
    for (auto &[relative, folder] : m_open) {
        QByteArrayList names;
        if (!folder.isOpen() || m_files.readFolder(folder, names) != 0)
            continue;
        for (const QByteArray &name : std::as_const(names)) {
            if (runtime::isTemporaryName(name))
                runtime::removeIfAbandoned(m_files, folder, name);
        }
    }
}

void UndoSteps::run()
{
    for (const Planned &planned : std::as_const(m_planned)) {
        int error = 0;
        if (planned.kind == UndoStep::Restored)
            error = restore(planned);
        else if (planned.kind == UndoStep::Removed)
            error = m_files.removeAt(*planned.folder, planned.name);
        if (planned.kind == UndoStep::Restored || planned.kind == UndoStep::Removed)
            m_touched.insert(planned.folder);
        const Step what = planned.kind == UndoStep::Restored ? Step::Restore : Step::Remove;
        step(error ? UndoStep::Failed : planned.kind, *planned.change,
             error ? std::optional(systemError(error, what, planned.change->shown))
             : planned.kind == UndoStep::NotKept ? planned.change->notKept
                                                 : std::nullopt);
    }
    // The names too survive a power cut before the record of the undone install goes.
    for (const Fd *folder : std::as_const(m_touched))
        m_files.flushOpenFolder(*folder);
    removeFolders();
}

void UndoSteps::removeFolders()
{
    const QByteArray inside =
        m_record.gameHost.endsWith('/') ? m_record.gameHost : m_record.gameHost + '/';
    for (const Planned &folder : std::as_const(m_folders)) {
        // A folder held open is not shared for removal (Windows): it is let go first. The
        // folders come deepest first, so none is needed again.
        // Found by its name in any case, as the install named it.
        QByteArray path = folder.change->target.mid(inside.size());
        if (path.endsWith('/'))
            path.chop(1);
        for (auto &[known, held] : m_open) {
            if (runtime::decodeName(known).compare(runtime::decodeName(path),
                                                   Qt::CaseInsensitive) == 0)
                held.reset();
        }
        int error = folder.folder ? m_files.removeFolderAt(*folder.folder, folder.name) : ENOENT;
        if (error == ENOENT && folder.folder) {
            // Named in another case since.
            QByteArray found;
            FileStatus status;
            if (runtimeStep(Step::Remove, [&] {
                    return runtime::findEntryAt(m_files, *folder.folder, folder.name,
                                                folder.change->shown, found, status);
                }) == 0)
                error = m_files.removeFolderAt(*folder.folder, found);
        }
        if (error == ENOENT) {
            step(UndoStep::AlreadyBack, *folder.change);
            continue;
        }
        if (error == 0)
            m_files.flushOpenFolder(*folder.folder);
        const bool left = error == ENOTEMPTY || error == EEXIST;
        step(error == 0 ? UndoStep::FolderRemoved
             : left     ? UndoStep::FolderLeft
                        : UndoStep::Failed,
             *folder.change,
             error && !left ? std::optional(systemError(error, Step::Remove, folder.change->shown))
                            : std::nullopt);
    }
}

int UndoSteps::restore(const Planned &planned)
{
    const Change &change = *planned.change;
    FileStatus kept, folder;
    // A second name of the replaced file, on the same file system, simply takes its place.
    const bool secondName = m_files.entryStatusAt(m_recordFolder, keptName(change), kept) == 0 &&
                            m_files.status(*planned.folder, folder) == 0 &&
                            kept.device == folder.device && kept.inode == change.previous.inode;
    if (!secondName)
        return copyBack(planned);
    const int error =
        m_files.renameAt(m_recordFolder, keptName(change), *planned.folder, planned.name);
    // Another mount of the same file system: copied, as from another.
    if (error == EXDEV && !kept.isLink())
        return copyBack(planned);
    // The file itself is back, with the bits it had, but never set-user-ID or set-group-ID:
    // an undo gives no one rights.
    Fd back;
    if (error == 0 && !kept.isLink() && (kept.permissions() & 06000) &&
        m_files.openEntryAt(*planned.folder, planned.name, back) == 0)
        m_files.setMode(back, kept.permissions() & 01777);
    return error;
}

// Puts a kept copy back the way an install puts a copy in place: written beside the file,
// given its owner and permission bits (never set-user-ID or set-group-ID: an undo gives no
// one rights), flushed, then renamed over it.
int UndoSteps::copyBack(const Planned &planned)
{
    const Identity &previous = planned.change->previous;
    Fd in;
    runtime::PendingCopy copy(m_files);
    runtime::Operation failed;
    int error = m_files.openEntryAt(m_recordFolder, keptName(*planned.change), in);
    if (!error)
        error = copy.write(*planned.folder, planned.name, in, previous.size,
                           runtime::Keep{previous.owner, previous.group, previous.mode & 01777},
                           failed);
    if (!error)
        error = copy.flush();
    // The file back as it was, to the time it was last changed, so that a later undo knows it.
    if (!error)
        error = copy.setModified(previous.modified);
    if (!error)
        error = copy.putInPlace();
    return error;
}

void UndoSteps::finish()
{
    QList<Change> left;
    bool failed = false;
    for (int i = 0; i < m_outcome.steps.size(); ++i) {
        const UndoStep::Kind kind = m_outcome.steps[i].kind;
        failed = failed || kind == UndoStep::Failed;
        if (kind == UndoStep::Changed || kind == UndoStep::NotKept || kind == UndoStep::ReadOnly ||
            kind == UndoStep::KeptChanged)
            left.append(*m_changes[i]);
    }
    if (failed) {
        // Run again, the undo finds what is done and does the rest.
        m_outcome.status = UndoOutcome::Failed;
        for (const UndoStep &step : std::as_const(m_outcome.steps)) {
            if (step.kind == UndoStep::Failed) {
                m_outcome.error = step.error;
                break;
            }
        }
        return;
    }
    if (left.isEmpty()) {
        m_store.remove(m_record.folder, &m_recordFolder);
        m_outcome.status = UndoOutcome::Done;
        return;
    }
    // Kept files of the files left stay with the record, which no undo takes again.
    InstallRecord rest = m_record;
    rest.undone = true;
    rest.changes = left;
    if (const int error = m_store.write(rest)) {
        m_outcome.status = UndoOutcome::Failed;
        m_outcome.error =
            systemError(error, Step::WriteRecord, runtime::decodeName(m_record.folder));
        return;
    }
    QSet<QString> keep;
    for (const Change &change : left)
        keep.insert(change.kept);
    for (const Change &change : m_record.changes) {
        if (!change.kept.isEmpty() && !keep.contains(change.kept))
            m_files.removeAt(m_recordFolder, keptName(change));
    }
    m_outcome.status = UndoOutcome::FilesLeft;
}

void UndoSteps::step(UndoStep::Kind kind, const Change &change, std::optional<Error> error)
{
    m_outcome.steps.append({kind, change.shown, error});
    m_changes.append(&change);
}

} // namespace records
