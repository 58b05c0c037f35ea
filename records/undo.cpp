// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/undo.h"

#include "runtime/filesystem.h"
#include "runtime/hostpath.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <cerrno>
#include <map>

using namespace Qt::StringLiterals;
using records::Change;
using records::FolderId;
using records::InstallRecord;
using runtime::Error;
using runtime::ErrorKind;
using runtime::Fd;
using runtime::FileStatus;
using runtime::Operation;

namespace {

struct GameFolder
{
    QByteArray host;
    FileStatus status;
    Fd fd;
};

// The game folder as the player names it, links followed as the install followed them.
std::optional<GameFolder> findGameFolder(const QString &gameFolder, runtime::FileSystem &files,
                                         const runtime::HostPaths &host)
{
    runtime::FolderIndex folders(files);
    const auto found = runtime::resolveExisting(gameFolder, host, folders);
    GameFolder game;
    if (!found || files.openFolderAt(runtime::Fd(), *found, game.fd) != 0 ||
        files.status(game.fd, game.status) != 0)
        return std::nullopt;
    game.host = *found;
    return game;
}

bool ofFolder(runtime::FileSystem &files, const QByteArray &gameHost, const FolderId &recorded,
              const GameFolder &game)
{
    const FolderId id{game.status.device, game.status.inode};
    FileStatus status;
    return gameHost == game.host || (recorded.inode != 0 && recorded == id) ||
           (files.status(gameHost, status) == 0 && FolderId{status.device, status.inode} == id);
}

// The entry of an open folder that `name` denotes: itself when it exists, else the one entry
// equal to it but for case, as the game finds it. ENOENT when there is none.
int findName(runtime::FileSystem &files, const Fd &folder, const QByteArray &name,
             const QString &shown, QByteArray &found, FileStatus &status)
{
    found = name;
    if (files.entryStatusAt(folder, name, status) == 0)
        return 0;
    QByteArrayList names;
    if (const int error = files.readFolder(folder, names))
        return error;
    const QString key = runtime::caseKey(runtime::decodeName(name));
    QByteArrayList matches;
    for (const QByteArray &entry : std::as_const(names)) {
        if (runtime::caseKey(runtime::decodeName(entry)) == key)
            matches.append(entry);
    }
    if (matches.size() > 1)
        runtime::raise(ErrorKind::AmbiguousName, Operation::Resolve, shown,
                       runtime::decodeName(name));
    if (matches.isEmpty())
        return ENOENT;
    found = matches[0];
    return files.entryStatusAt(folder, found, status);
}

// A folder met on the way that a link now replaces: what the install wrote there is not
// reached, and nothing is done through it.
constexpr int LinkMet = -1;

QByteArray temporaryName()
{
    return ".quillmere-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) +
           ".tmp";
}

class Undo
{
public:
    Undo(runtime::FileSystem &files, const GameFolder &game, InstallRecord &record,
         const Fd &recordFolder, UndoOutcome &outcome)
        : m_files(files), m_game(game), m_record(record), m_recordFolder(recordFolder),
          m_outcome(outcome)
    {}

    // Decides what to do with each file before anything is changed: a kept file that is
    // missing or not a file stops the undo here.
    void plan()
    {
        for (auto it = m_record.changes.crbegin(); it != m_record.changes.crend(); ++it) {
            const Change &change = *it;
            Planned planned{&change, UndoStep::Changed, nullptr, {}};
            QByteArray name;
            const int opened = openFolderOf(change, planned.folder, name);
            if (change.action == Change::MadeFolder) {
                m_folders.append(planned);
                m_folders.last().name = name;
                continue;
            }
            if (opened) {
                // The folder is gone: so is what the install created there.
                if (opened == ENOENT && change.action == Change::Created)
                    planned.kind = UndoStep::AlreadyBack;
                m_planned.append(planned);
                continue;
            }
            FileStatus now;
            const int found =
                findName(m_files, *planned.folder, name, change.shown, planned.name, now);
            if (found && found != ENOENT)
                runtime::raiseSystem(found, Operation::Resolve, change.shown);
            const bool exists = found == 0;
            const bool written = exists && holdsWritten(planned, now);
            // Only a file the player may not write to is left as read-only: one the running
            // game holds is tried, and the undo fails on it with the reason, to be run again.
            const int access = written ? m_files.accessAt(*planned.folder, planned.name) : 0;
            const bool readOnly = written && ((now.permissions() & 0222) == 0 || access == EACCES ||
                                              access == EPERM || access == EROFS);
            if (change.action == Change::Created) {
                planned.kind = !exists    ? UndoStep::AlreadyBack
                               : !written ? UndoStep::Changed
                               : readOnly ? UndoStep::ReadOnly
                                          : UndoStep::Removed;
                m_planned.append(planned);
                continue;
            }
            FileStatus kept;
            const bool isKept = !change.kept.isEmpty() &&
                                m_files.entryStatusAt(m_recordFolder, keptName(change), kept) == 0;
            if (written || !exists) {
                // A replaced file the player removed comes back too: nothing is lost by it.
                planned.kind = change.kept.isEmpty() ? UndoStep::NotKept
                               : readOnly            ? UndoStep::ReadOnly
                               : isKept || exists    ? UndoStep::Restored
                                                     : UndoStep::Changed;
            } else if (isKept ? now.size == change.previous.size && sameData(change, planned)
                              : change.previous.mayBe(now)) {
                // Put back already: by a copy, whose time a volume may not keep, or by a
                // second name, which keeps the time it had.
                planned.kind = UndoStep::AlreadyBack;
            }
            if (planned.kind == UndoStep::Restored) {
                if (!isKept || kept.size != change.previous.size)
                    runtime::raise(ErrorKind::NotFound, Operation::Restore,
                                   runtime::decodeName(m_record.folder + '/' + keptName(change)),
                                   change.shown);
                // Only what the install kept comes back: a file, or the very link it replaced.
                if (kept.isLink() != change.previous.link || (!kept.isRegular() && !kept.isLink()))
                    throw runtime::RuntimeError(
                        {ErrorKind::DamagedRecord,
                         Operation::Restore,
                         int(records::Damage::NotAFile),
                         runtime::decodeName(m_record.folder + '/' + keptName(change)),
                         {},
                         0});
            }
            m_planned.append(planned);
        }
    }

    // Removes what an undo or an install cut short left in the folders this one works in:
    // temporary files that no running process holds.
    void clearTemporaries()
    {
        for (auto &[relative, folder] : m_open) {
            QByteArrayList names;
            if (!folder.isOpen() || m_files.readFolder(folder, names) != 0)
                continue;
            for (const QByteArray &name : std::as_const(names)) {
                Fd temporary;
                if (runtime::isTemporaryName(name) &&
                    m_files.openEntryAt(folder, name, temporary) == 0 &&
                    m_files.lock(temporary) == 0)
                    m_files.removeAt(folder, name);
            }
        }
    }

    void run()
    {
        for (const Planned &planned : std::as_const(m_planned)) {
            int error = 0;
            if (planned.kind == UndoStep::Restored)
                error = restore(planned);
            else if (planned.kind == UndoStep::Removed)
                error = m_files.removeAt(*planned.folder, planned.name);
            if (planned.kind == UndoStep::Restored || planned.kind == UndoStep::Removed)
                m_touched.insert(planned.folder);
            const Operation operation =
                planned.kind == UndoStep::Restored ? Operation::Restore : Operation::Remove;
            step(error ? UndoStep::Failed : planned.kind, *planned.change,
                 error
                     ? std::optional(runtime::systemError(error, operation, planned.change->shown))
                 : planned.kind == UndoStep::NotKept ? planned.change->notKept
                                                     : std::nullopt);
        }
        // The names too survive a power cut before the record of the undone install goes.
        for (const Fd *folder : std::as_const(m_touched))
            m_files.flushOpenFolder(*folder);
        for (const Planned &folder : std::as_const(m_folders)) {
            int error =
                folder.folder ? m_files.removeFolderAt(*folder.folder, folder.name) : ENOENT;
            if (error == ENOENT && folder.folder) {
                // Named in another case since.
                QByteArray found;
                FileStatus status;
                if (findName(m_files, *folder.folder, folder.name, folder.change->shown, found,
                             status) == 0)
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
                 error && !left ? std::optional(runtime::systemError(error, Operation::Remove,
                                                                     folder.change->shown))
                                : std::nullopt);
        }
    }

    // The record is removed once the install is undone, or keeps only the files left.
    void finish()
    {
        QList<Change> left;
        bool failed = false;
        for (int i = 0; i < m_outcome.steps.size(); ++i) {
            const UndoStep::Kind kind = m_outcome.steps[i].kind;
            failed = failed || kind == UndoStep::Failed;
            if (kind == UndoStep::Changed || kind == UndoStep::NotKept ||
                kind == UndoStep::ReadOnly)
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
            records::remove(m_files, m_record.folder);
            m_outcome.status = UndoOutcome::Done;
            return;
        }
        // Kept files of the files left stay with the record, which no undo takes again.
        InstallRecord rest = m_record;
        rest.undone = true;
        rest.changes = left;
        if (const int error = records::write(m_files, rest)) {
            m_outcome.status = UndoOutcome::Failed;
            m_outcome.error = runtime::systemError(error, Operation::WriteRecord,
                                                   runtime::decodeName(m_record.folder));
            return;
        }
        m_files.flushOpenFolder(m_recordFolder);
        QSet<QString> keep;
        for (const Change &change : left)
            keep.insert(change.kept);
        for (const Change &change : std::as_const(m_record.changes)) {
            if (!change.kept.isEmpty() && !keep.contains(change.kept))
                m_files.removeAt(m_recordFolder, keptName(change));
        }
        m_outcome.status = UndoOutcome::FilesLeft;
    }

private:
    struct Planned
    {
        const Change *change;
        UndoStep::Kind kind;
        const Fd *folder; // open, holding the file; null when it cannot be reached
        QByteArray name;  // of the file in it
    };

    static QByteArray keptName(const Change &change) { return change.kept.toLatin1(); }

    // Opens the folder that holds a change's file, from the game folder down, each step
    // found case-blind; a link is followed only where the install went through one, and
    // only to the folder it reached. Returns 0, the errno, or LinkMet.
    int openFolderOf(const Change &change, const Fd *&opened, QByteArray &name)
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
            error = findName(m_files, *at, component, change.shown, found, status);
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
            (m_files.status(current, reached) != 0 ||
             FolderId{reached.device, reached.inode} != *change.linkedFolder))
            error = LinkMet;
        if (error) {
            current.reset();
            if (error != ENOENT && error != LinkMet)
                runtime::raiseSystem(error, Operation::Resolve, change.shown);
        }
        m_failed.insert(folder, error);
        auto &held = m_open[folder] = std::move(current);
        opened = held.isOpen() ? &held : nullptr;
        return error;
    }

    // Whether the entry holds what the install wrote: its size, and its digest where the
    // record has one.
    bool holdsWritten(const Planned &planned, const FileStatus &now)
    {
        const records::Identity &written = planned.change->written;
        if (!now.isRegular() || !written.mayBe(now))
            return false;
        if (written.digest.isEmpty())
            return true;
        Fd file;
        QByteArray digest;
        return m_files.openEntryAt(*planned.folder, planned.name, file) == 0 &&
               m_files.hash(file, digest) == 0 && digest == written.digest;
    }

    // Whether the game's file holds the kept file's data.
    bool sameData(const Change &change, const Planned &planned)
    {
        Fd kept, now;
        QByteArray keptDigest, nowDigest;
        return m_files.openEntryAt(m_recordFolder, keptName(change), kept) == 0 &&
               m_files.openEntryAt(*planned.folder, planned.name, now) == 0 &&
               m_files.hash(kept, keptDigest) == 0 && m_files.hash(now, nowDigest) == 0 &&
               keptDigest == nowDigest;
    }

    int restore(const Planned &planned)
    {
        const Change &change = *planned.change;
        FileStatus kept, folder;
        // A second name of the replaced file, on the same file system, simply takes its place.
        const bool secondName =
            m_files.entryStatusAt(m_recordFolder, keptName(change), kept) == 0 &&
            m_files.status(*planned.folder, folder) == 0 && kept.device == folder.device &&
            kept.inode == change.previous.inode;
        if (secondName) {
            const int error =
                m_files.renameAt(m_recordFolder, keptName(change), *planned.folder, planned.name);
            // Another mount of the same file system: copied, as from another.
            if (error != EXDEV || kept.isLink())
                return error;
        }
        return copyBack(planned);
    }

    // Puts a kept copy back the way an install puts a copy in place: written beside the file,
    // given its permission bits and owner, flushed, then renamed over it.
    int copyBack(const Planned &planned)
    {
        const Change &change = *planned.change;
        const Fd &folder = *planned.folder;
        Fd in, out;
        QByteArray temp;
        bool cloned = false;
        FileStatus made;
        int error = m_files.openEntryAt(m_recordFolder, keptName(change), in);
        for (int attempt = 0; !error && !out.isOpen(); ++attempt) {
            temp = temporaryName();
            error = m_files.createAt(folder, temp, 0600, out);
            if (error == EEXIST && attempt < 100)
                error = 0;
            else if (error)
                temp.clear();
        }
        if (!error)
            m_files.lock(out); // a running undo's temporary file is not abandoned
        if (!error)
            error = m_files.copy(in, out, change.previous.size, cloned);
        if (!error)
            error = m_files.status(out, made);
        if (!error && (made.owner != change.previous.owner || made.group != change.previous.group))
            m_files.setOwner(out, change.previous.owner, change.previous.group);
        // The bits it had, but never set-user-ID or set-group-ID: an undo gives no one rights.
        const quint32 mode = change.previous.mode & 01777;
        if (!error)
            m_files.setMode(out, mode);
        // The file back as it was, to the time it was last changed: so a later undo knows it.
        if (!error)
            error = m_files.setModified(out, change.previous.modified);
        if (!error)
            error = m_files.flushFile(out);
        if (!error)
            error = m_files.renameAt(folder, temp, folder, planned.name);
        if (error && !temp.isEmpty())
            m_files.removeAt(folder, temp);
        return error;
    }

    void step(UndoStep::Kind kind, const Change &change,
              std::optional<runtime::Error> error = std::nullopt)
    {
        m_outcome.steps.append({kind, change.shown, error});
        m_changes.append(&change);
    }

    runtime::FileSystem &m_files;
    const GameFolder &m_game;
    InstallRecord &m_record;
    const Fd &m_recordFolder;
    UndoOutcome &m_outcome;
    std::map<QByteArray, Fd> m_open; // the folders of the game met, by their path in it
    QHash<QByteArray, int> m_failed; // why one could not be opened
    QList<Planned> m_planned;
    QList<Planned> m_folders;
    QList<const Change *> m_changes; // of the steps
    QSet<const Fd *> m_touched;
};

// Stops the undo of a game folder's install when a record newer than it cannot be read and
// may be of that folder: it may hold the newest install.
void checkNoNewerDamage(runtime::FileSystem &files, const records::Records &all,
                        const GameFolder &game, qint64 sequence)
{
    for (const records::Unreadable &damaged : all.damaged) {
        if (records::sequence(damaged.folder) > sequence &&
            (damaged.gameHost.isEmpty() || ofFolder(files, damaged.gameHost, {}, game)))
            throw runtime::RuntimeError(damaged.error);
    }
}

} // namespace

UndoOutcome UndoInstall(const QString &gameFolder, runtime::FileSystem &files,
                        const runtime::HostPaths &host, const std::function<void()> &waiting)
{
    UndoOutcome outcome;
    try {
        if (host.dataFolder.isEmpty())
            runtime::raise(ErrorKind::NoDataFolder, Operation::ReadRecord);
        std::optional<GameFolder> game = findGameFolder(gameFolder, files, host);
        // Not a folder: the number of an install, which names its game folder.
        bool isNumber = false;
        const qint64 number = gameFolder.toLongLong(&isNumber);
        QString named = gameFolder; // the folder that was looked for
        if (!game && isNumber && number > 0) {
            for (const InstallRecord &record :
                 records::readAll(files, host.dataFolder, host.user).good) {
                if (records::sequence(record.folder) == number) {
                    named = runtime::decodeName(record.gameHost);
                    game = findGameFolder(named, files, host);
                }
            }
        } else {
            isNumber = false;
        }
        if (!game)
            runtime::raise(ErrorKind::NotFound, Operation::Resolve, named);
        FileStatus installs;
        if (files.status(records::installsFolder(host.dataFolder), installs) != 0) {
            outcome.status = UndoOutcome::NothingToUndo;
            return outcome;
        }
        records::FolderLock lock;
        if (const int error = lock.take(files, host.dataFolder, game->status, waiting))
            runtime::raiseSystem(error, Operation::Lock,
                                 runtime::decodeName(records::installsFolder(host.dataFolder)));
        records::removeAbandoned(files, host.dataFolder);
        const records::Records all = records::readAll(files, host.dataFolder, host.user);
        QList<InstallRecord> ofGame;
        for (const InstallRecord &record : all.good) {
            if (ofFolder(files, record.gameHost, record.game, *game))
                ofGame.append(record);
        }
        const auto newest = std::find_if(ofGame.begin(), ofGame.end(),
                                         [](const InstallRecord &r) { return !r.undone; });
        checkNoNewerDamage(files, all, *game,
                           newest == ofGame.end() ? 0 : records::sequence(newest->folder));
        if (newest == ofGame.end()) {
            if (ofGame.isEmpty())
                lock.remove(files);
            outcome.status = UndoOutcome::NothingToUndo;
            return outcome;
        }
        if (isNumber && records::sequence(newest->folder) != number)
            runtime::raise(ErrorKind::NotNewest, Operation::ReadRecord, gameFolder,
                           QString::number(records::sequence(newest->folder)));
        outcome.install = *newest;
        // What it did is not known: nothing is undone, and nothing it kept is removed.
        if (!newest->complete)
            throw runtime::RuntimeError({ErrorKind::NotRecorded,
                                         Operation::ReadRecord,
                                         newest->notWritten ? newest->notWritten->code : 0,
                                         runtime::decodeName(newest->folder),
                                         {},
                                         0});
        // The record is changed or removed at the end: a folder of records that cannot be
        // written to stops the undo before it changes anything.
        const QByteArray installsPath = records::installsFolder(host.dataFolder);
        for (const QByteArray &folder : {newest->folder, installsPath}) {
            if (const int error = files.access(folder))
                runtime::raiseSystem(error, Operation::WriteRecord, runtime::decodeName(folder));
        }
        Fd recordFolder;
        if (const int error = records::holdFolder(files, newest->folder, recordFolder))
            runtime::raiseSystem(error, Operation::ReadRecord, runtime::decodeName(newest->folder));
        Undo undo(files, *game, *newest, recordFolder, outcome);
        undo.plan();
        undo.clearTemporaries();
        undo.run();
        undo.finish();
        if (outcome.status == UndoOutcome::Done && ofGame.size() == 1)
            lock.remove(files);
    } catch (const runtime::RuntimeError &error) {
        outcome.status = UndoOutcome::Failed;
        outcome.error = error.error();
    }
    return outcome;
}

records::Records RecordedInstalls(runtime::FileSystem &files, const runtime::HostPaths &host,
                                  const std::optional<QString> &gameFolder)
{
    if (host.dataFolder.isEmpty())
        runtime::raise(ErrorKind::NoDataFolder, Operation::ReadRecord);
    records::Records all = records::readAll(files, host.dataFolder, host.user);
    if (!gameFolder)
        return all;
    const auto game = findGameFolder(*gameFolder, files, host);
    if (!game)
        runtime::raise(ErrorKind::NotFound, Operation::Resolve, *gameFolder);
    all.good.removeIf([&](const InstallRecord &record) {
        return !ofFolder(files, record.gameHost, record.game, *game);
    });
    all.damaged.removeIf([&](const records::Unreadable &damaged) {
        return !damaged.gameHost.isEmpty() && !ofFolder(files, damaged.gameHost, {}, *game);
    });
    return all;
}
