#include "records/undo.h"

#include "runtime/filesystem.h"
#include "runtime/hostpath.h"

#include <QFile>
#include <QSet>
#include <cerrno>

using namespace Qt::StringLiterals;
using records::Change;
using records::InstallRecord;
using runtime::Error;
using runtime::ErrorKind;
using runtime::FileStatus;
using runtime::Operation;

namespace {

struct GameFolder
{
    QByteArray host;
    FileStatus status;
};

GameFolder findGameFolder(const QString &gameFolder, runtime::FileSystem &files,
                          const runtime::HostPaths &host)
{
    GameFolder game;
    const auto found = runtime::resolveExisting(gameFolder, host);
    if (!found || files.status(*found, game.status) != 0 || !game.status.isFolder())
        runtime::raise(ErrorKind::NotFound, Operation::Resolve, gameFolder);
    game.host = *found;
    return game;
}

bool ofFolder(runtime::FileSystem &files, const InstallRecord &record, const GameFolder &game)
{
    FileStatus status;
    return record.gameHost == game.host ||
           (files.status(record.gameHost, status) == 0 && status.device == game.status.device &&
            status.inode == game.status.inode);
}

// Whether two files hold the same bytes.
bool sameContent(const QByteArray &a, const QByteArray &b)
{
    QFile first(QFile::decodeName(a)), second(QFile::decodeName(b));
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) ||
        first.size() != second.size())
        return false;
    while (!first.atEnd()) {
        if (first.read(1 << 20) != second.read(1 << 20))
            return false;
    }
    return true;
}

QByteArray folderOf(const QByteArray &path)
{
    return path.left(std::max<qsizetype>(path.lastIndexOf('/'), 1));
}

// Puts a kept copy back the way an install puts a copy in place: written beside the file,
// given its permission bits and owner, flushed, then renamed over it.
int copyBack(runtime::FileSystem &files, const QByteArray &kept, const Change &change)
{
    runtime::Fd in, out;
    QByteArray temp;
    bool named = false, cloned = false;
    FileStatus made;
    int error = files.open(kept, in);
    if (!error)
        error = files.createTemporary(change.target, temp, named, out);
    if (!error)
        error = files.copy(in, out, change.previous.size, cloned);
    if (!error)
        error = files.status(out, made);
    if (!error && (made.owner != change.previous.owner || made.group != change.previous.group))
        files.setOwner(out, change.previous.owner, change.previous.group);
    if (!error && made.permissions() != change.previous.mode)
        files.setMode(out, change.previous.mode);
    // The file back as it was, to the time it was last changed: so a later undo knows it.
    if (!error)
        error = files.setModified(out, change.previous.modified);
    if (!error)
        error = files.flushFile(out);
    if (!error)
        error = files.rename(temp, out, change.target);
    if (error && !temp.isEmpty())
        files.remove(temp);
    return error;
}

class Undo
{
public:
    Undo(runtime::FileSystem &files, InstallRecord &record, UndoOutcome &outcome)
        : m_files(files), m_record(record), m_outcome(outcome)
    {}

    // Decides what to do with each file before anything is changed: a kept file that is
    // missing stops the undo here.
    void plan()
    {
        for (auto it = m_record.changes.crbegin(); it != m_record.changes.crend(); ++it) {
            const Change &change = *it;
            if (change.action == Change::MadeFolder) {
                m_folders.append(&change);
                continue;
            }
            FileStatus now;
            const bool exists = m_files.entryStatus(change.target, now) == 0;
            const QByteArray kept = m_record.folder + '/' + change.kept.toLatin1();
            UndoStep::Kind kind = UndoStep::Changed;
            if (change.action == Change::Created) {
                kind = !exists                       ? UndoStep::AlreadyBack
                       : change.written.matches(now) ? UndoStep::Removed
                                                     : UndoStep::Changed;
            } else if (exists && change.written.matches(now)) {
                kind = change.kept.isEmpty() ? UndoStep::NotKept : UndoStep::Restored;
                FileStatus keptStatus;
                if (kind == UndoStep::Restored && (m_files.entryStatus(kept, keptStatus) != 0 ||
                                                   keptStatus.size != change.previous.size))
                    runtime::raise(ErrorKind::NotFound, Operation::Restore, QFile::decodeName(kept),
                                   change.shown);
            } else if (exists && (change.previous.matches(now) ||
                                  (!change.kept.isEmpty() && sameContent(kept, change.target)))) {
                kind = UndoStep::AlreadyBack;
            }
            m_planned.append({&change, kind});
        }
    }

    void run()
    {
        for (const auto &[change, kind] : std::as_const(m_planned)) {
            int error = 0;
            if (kind == UndoStep::Restored)
                error = restore(*change);
            else if (kind == UndoStep::Removed)
                error = m_files.remove(change->target);
            if (kind == UndoStep::Restored || kind == UndoStep::Removed)
                m_touched.insert(folderOf(change->target));
            step(error ? UndoStep::Failed : kind, *change,
                 error                       ? std::optional(runtime::systemError(
                                                   error,
                             kind == UndoStep::Restored ? Operation::Restore : Operation::Remove,
                                                   change->shown))
                 : kind == UndoStep::NotKept ? change->notKept
                                             : std::nullopt);
        }
        // The names too survive a power cut before the record of the undone install goes.
        for (const QByteArray &folder : std::as_const(m_touched))
            m_files.flushFolder(folder);
        for (const Change *folder : std::as_const(m_folders)) {
            FileStatus now;
            if (m_files.entryStatus(folder->target, now) != 0) {
                step(UndoStep::AlreadyBack, *folder);
                continue;
            }
            const int error = m_files.removeFolder(folder->target);
            if (error == 0)
                m_files.flushFolder(folderOf(folder->target));
            step(error == 0                              ? UndoStep::FolderRemoved
                 : error == ENOTEMPTY || error == EEXIST ? UndoStep::FolderLeft
                                                         : UndoStep::Failed,
                 *folder,
                 error && error != ENOTEMPTY && error != EEXIST
                     ? std::optional(runtime::systemError(error, Operation::Remove, folder->shown))
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
            if (kind == UndoStep::Changed || kind == UndoStep::NotKept)
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
        // Kept files of the changed ones stay with the record, which no undo takes again.
        InstallRecord rest = m_record;
        rest.undone = true;
        rest.changes = left;
        if (const int error = records::write(m_files, rest)) {
            m_outcome.status = UndoOutcome::Failed;
            m_outcome.error = runtime::systemError(error, Operation::WriteRecord,
                                                   QFile::decodeName(m_record.folder));
            return;
        }
        m_files.flushFolder(m_record.folder);
        QSet<QString> keep;
        for (const Change &change : left)
            keep.insert(change.kept);
        for (const Change &change : std::as_const(m_record.changes)) {
            if (!change.kept.isEmpty() && !keep.contains(change.kept))
                m_files.remove(m_record.folder + '/' + change.kept.toLatin1());
        }
        m_outcome.status = UndoOutcome::FilesLeft;
    }

private:
    int restore(const Change &change)
    {
        const QByteArray kept = m_record.folder + '/' + change.kept.toLatin1();
        FileStatus keptStatus, folder;
        // A second name of the replaced file, on the same file system, simply takes its place.
        if (m_files.entryStatus(kept, keptStatus) == 0 &&
            m_files.status(folderOf(change.target), folder) == 0 &&
            keptStatus.device == folder.device && keptStatus.inode == change.previous.inode)
            return m_files.rename(kept, runtime::Fd(), change.target);
        return copyBack(m_files, kept, change);
    }

    void step(UndoStep::Kind kind, const Change &change,
              std::optional<runtime::Error> error = std::nullopt)
    {
        m_outcome.steps.append({kind, change.shown, error});
        m_changes.append(&change);
    }

    runtime::FileSystem &m_files;
    InstallRecord &m_record;
    UndoOutcome &m_outcome;
    QList<QPair<const Change *, UndoStep::Kind>> m_planned;
    QList<const Change *> m_folders;
    QList<const Change *> m_changes; // of the steps
    QSet<QByteArray> m_touched;
};

} // namespace

UndoOutcome UndoInstall(const QString &gameFolder, runtime::FileSystem &files,
                        const runtime::HostPaths &host, const std::function<void()> &waiting)
{
    UndoOutcome outcome;
    try {
        if (host.dataFolder.isEmpty())
            runtime::raise(ErrorKind::NoDataFolder, Operation::ReadRecord);
        const GameFolder game = findGameFolder(gameFolder, files, host);
        FileStatus installs;
        if (files.status(records::installsFolder(host.dataFolder), installs) != 0) {
            outcome.status = UndoOutcome::NothingToUndo;
            return outcome;
        }
        records::FolderLock lock;
        if (const int error = lock.take(files, host.dataFolder, game.status, waiting))
            runtime::raiseSystem(error, Operation::Lock,
                                 QFile::decodeName(records::installsFolder(host.dataFolder)));
        QList<InstallRecord> ofGame;
        for (InstallRecord &record : records::readAll(host.dataFolder)) {
            if (ofFolder(files, record, game))
                ofGame.append(std::move(record));
        }
        const auto newest = std::find_if(ofGame.begin(), ofGame.end(),
                                         [](const InstallRecord &r) { return !r.undone; });
        if (newest == ofGame.end()) {
            if (ofGame.isEmpty())
                lock.remove(files);
            outcome.status = UndoOutcome::NothingToUndo;
            return outcome;
        }
        outcome.install = *newest;
        Undo undo(files, *newest, outcome);
        undo.plan();
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

QList<InstallRecord> RecordedInstalls(runtime::FileSystem &files, const runtime::HostPaths &host,
                                      const std::optional<QString> &gameFolder)
{
    if (host.dataFolder.isEmpty())
        runtime::raise(ErrorKind::NoDataFolder, Operation::ReadRecord);
    QList<InstallRecord> all = records::readAll(host.dataFolder);
    if (!gameFolder)
        return all;
    const GameFolder game = findGameFolder(*gameFolder, files, host);
    all.removeIf([&](const InstallRecord &record) { return !ofFolder(files, record, game); });
    return all;
}
