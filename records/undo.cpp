// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/undo.h"

#include "records/gamefolder.h"
#include "records/lock.h"
#include "records/undosteps.h"
#include "runtime/hostpath.h"
#include "runtime/pendingcopy.h"

#include <algorithm>
#include <cerrno>

using runtime::FileStatus;

namespace records {

namespace {

QString shown(const QByteArray &path)
{
    return runtime::decodeName(path);
}

// The game folder a target names, open: as typed, found case-blind; by number, the folder
// the install was made in, wherever it is now.
GameFolder locate(const Store &store, const runtime::HostPaths &host, const UndoTarget &target)
{
    runtime::FileSystem &files = store.files();
    if (target.number <= 0) {
        auto game =
            runtimeStep(Step::FindGame, [&] { return findTyped(files, host, target.gameFolder); });
        if (!game)
            throw RecordsError({Problem::Runtime,
                                Step::FindGame,
                                0,
                                {},
                                {},
                                runtime::Error{runtime::ErrorKind::NotFound,
                                               runtime::Operation::Resolve,
                                               0,
                                               target.gameFolder,
                                               {},
                                               0}});
        return std::move(*game);
    }
    const Records all = store.readAll();
    for (const InstallRecord &record : all.good) {
        if (record.number() != target.number)
            continue;
        auto game = findRecorded(files, record.gameHost, record.game);
        if (!game)
            raise(Problem::GameMoved, Step::FindGame, shown(record.gameHost));
        return std::move(*game);
    }
    for (const Unreadable &record : all.damaged) {
        if (record.number() == target.number)
            throw RecordsError(record.error);
    }
    raise(Problem::NoSuchInstall, Step::FindGame, {}, QString::number(target.number));
}

// Stops the undo of a game folder's install when a record newer than it cannot be read and
// may be of that folder: it may hold the newest install.
void checkNoNewerDamage(runtime::FileSystem &files, const Records &all, const GameFolder &game,
                        qint64 number)
{
    for (const Unreadable &damaged : all.damaged) {
        if (damaged.number() > number &&
            (damaged.gameHost.isEmpty() || isOf(files, damaged.gameHost, {}, game)))
            throw RecordsError(damaged.error);
    }
}

// Where no install of the folder a path names is recorded, but installs into another folder
// that had the path: that folder was renamed or removed, and a new one put in its place. Its
// installs are not undone in this one; the player is told where it is now.
void checkNotReplaced(runtime::FileSystem &files, const Records &all, const GameFolder &game)
{
    for (const InstallRecord &record : all.good) {
        if (record.gameHost != game.host || !record.game.known() || record.game == game.id())
            continue;
        const auto now = findRecorded(files, record.gameHost, record.game);
        raise(Problem::GameMoved, Step::FindGame, shown(game.host),
              now ? shown(now->host) : QString());
    }
}

// What installs cut short left in the game folder: their temporary files, in the folder and
// in the folders in it, where the copies are written.
void clearInterrupted(runtime::FileSystem &files, const GameFolder &game)
{
    QByteArrayList names;
    if (files.readFolder(game.fd, names) != 0)
        return;
    for (const QByteArray &name : std::as_const(names)) {
        runtime::Fd folder;
        QByteArrayList inside;
        FileStatus status;
        if (runtime::isTemporaryName(name))
            runtime::removeIfAbandoned(files, game.fd, name);
        else if (files.entryStatusAt(game.fd, name, status) == 0 && status.isFolder() &&
                 files.openFolderAt(game.fd, name, folder) == 0 &&
                 files.readFolder(folder, inside) == 0) {
            for (const QByteArray &entry : std::as_const(inside)) {
                if (runtime::isTemporaryName(entry))
                    runtime::removeIfAbandoned(files, folder, entry);
            }
        }
    }
}

// Undoes the newest install into an open game folder, or says why not, into `outcome`.
void undoNewest(const Store &store, const GameFolder &game, qint64 number,
                const std::function<void()> &waiting, UndoOutcome &outcome)
{
    runtime::FileSystem &files = store.files();
    FileStatus installs;
    if (files.status(store.installsFolder(), installs) != 0) {
        outcome.status = UndoOutcome::NothingToUndo;
        return;
    }
    FolderLock lock;
    if (const int error = lock.take(store, game.status, waiting))
        raiseSystem(error, Step::Lock, shown(store.installsFolder()));
    // Installs cut short before they changed anything are taken away; those of this folder
    // are named.
    qint64 interrupted = 0;
    for (const Interrupted &cut : store.removeInterrupted()) {
        if (cut.header && isOf(files, cut.header->gameHost, cut.header->game, game)) {
            outcome.interrupted.append(cut);
            interrupted = std::max(interrupted, sequence(cut.folder));
        }
    }
    if (!outcome.interrupted.isEmpty())
        clearInterrupted(files, game);
    const Records all = store.readAll();
    QList<InstallRecord> ofGame;
    for (const InstallRecord &record : all.good) {
        if (isOf(files, record.gameHost, record.game, game))
            ofGame.append(record);
    }
    const auto newest = std::find_if(ofGame.begin(), ofGame.end(),
                                     [](const InstallRecord &r) { return !r.undone; });
    checkNoNewerDamage(files, all, game, newest == ofGame.end() ? 0 : newest->number());
    if (ofGame.isEmpty() && outcome.interrupted.isEmpty() && number <= 0)
        checkNotReplaced(files, all, game);
    // The newest install was one cut short: taking it away was its undo.
    if (newest == ofGame.end() || interrupted > newest->number()) {
        if (ofGame.isEmpty())
            lock.remove();
        outcome.status = newest == ofGame.end() ? UndoOutcome::NothingToUndo : UndoOutcome::Done;
        return;
    }
    if (number > 0 && newest->number() != number)
        raise(Problem::NotNewest, Step::ReadRecord, shown(game.host),
              QString::number(newest->number()));
    outcome.install = *newest;
    // What it did is not known: nothing is undone, and nothing it kept is removed.
    if (!newest->complete)
        raise(Problem::NotRecorded, Step::ReadRecord, shown(newest->folder), {},
              newest->notWritten ? newest->notWritten->code : 0);
    // The record is changed or removed at the end: a folder of records that cannot be
    // written to stops the undo before it changes anything.
    for (const QByteArray &folder : {newest->folder, store.installsFolder()}) {
        if (const int error = files.access(folder))
            raiseSystem(error, Step::WriteRecord, shown(folder));
    }
    runtime::Fd recordFolder;
    if (const int error = holdFolder(files, newest->folder, recordFolder))
        raiseSystem(error, Step::ReadRecord, shown(newest->folder));
    UndoSteps steps(store, game, *newest, recordFolder, outcome);
    steps.plan();
    steps.clearTemporaries();
    steps.run();
    steps.finish();
    if (outcome.status == UndoOutcome::Done && ofGame.size() == 1)
        lock.remove();
}

// Runs an undo's work; whatever stops it is its outcome's error.
template <typename Work> void guarded(UndoOutcome &outcome, Work work)
{
    try {
        work();
    } catch (const RecordsError &error) {
        outcome.status = UndoOutcome::Failed;
        outcome.error = error.error();
    } catch (const runtime::RuntimeError &error) {
        outcome.status = UndoOutcome::Failed;
        outcome.error = Error{Problem::Runtime, Step::FindGame, 0, {}, {}, error.error()};
    }
}

// The folder of programs the game folder `game` is in, where the undo left something undone.
void noteGuarded(const Store &store, const runtime::HostPaths &host,
                 const std::optional<QByteArray> &game, UndoOutcome &outcome)
{
    if (game && outcome.status != UndoOutcome::Done && outcome.status != UndoOutcome::NothingToUndo)
        outcome.guarded = runtime::guardedFolder(store.files(), host.programFiles, *game);
}

} // namespace

UndoTarget UndoTarget::read(const Store &store, const runtime::HostPaths &host, const QString &word)
{
    const bool digits = !word.isEmpty() && std::all_of(word.begin(), word.end(), [](QChar c) {
        return c >= u'0' && c <= u'9';
    });
    if (!digits)
        return {word, 0};
    bool folder = false;
    try {
        folder = findTyped(store.files(), host, word).has_value();
    } catch (const runtime::RuntimeError &) {
    }
    if (folder)
        raise(Problem::Ambiguous, Step::FindGame, {}, word);
    bool ok = false;
    const qint64 number = word.toLongLong(&ok);
    if (!ok || number <= 0)
        raise(Problem::NoSuchInstall, Step::FindGame, {}, word);
    return {QString(), number};
}

UndoOutcome UndoInstall(const Store &store, const runtime::HostPaths &host,
                        const UndoTarget &target, const std::function<void()> &waiting)
{
    UndoOutcome outcome;
    std::optional<QByteArray> where;
    guarded(outcome, [&] {
        if (store.dataFolder().isEmpty())
            raise(Problem::NoDataFolder, Step::ReadRecord);
        const GameFolder game = locate(store, host, target);
        where = game.host;
        undoNewest(store, game, target.number, waiting, outcome);
    });
    noteGuarded(store, host, where, outcome);
    return outcome;
}

QList<UndoOutcome> UndoAllInstalls(const Store &store, const runtime::HostPaths &host,
                                   const UndoTarget &target, const std::function<void()> &waiting)
{
    QList<UndoOutcome> outcomes;
    UndoOutcome first;
    std::optional<GameFolder> game;
    guarded(first, [&] {
        if (store.dataFolder().isEmpty())
            raise(Problem::NoDataFolder, Step::ReadRecord);
        game = locate(store, host, target);
        undoNewest(store, *game, target.number, waiting, first);
    });
    outcomes.append(std::move(first));
    // The rest of the same folder, as it is open now, until one is not fully undone.
    while (game && outcomes.last().status == UndoOutcome::Done) {
        UndoOutcome outcome;
        guarded(outcome, [&] { undoNewest(store, *game, 0, waiting, outcome); });
        if (outcome.status == UndoOutcome::NothingToUndo)
            break;
        outcomes.append(std::move(outcome));
    }
    if (game)
        noteGuarded(store, host, game->host, outcomes.last());
    return outcomes;
}

Listing RecordedInstalls(const Store &store, const runtime::HostPaths &host,
                         const std::optional<QString> &gameFolder)
{
    if (store.dataFolder().isEmpty())
        raise(Problem::NoDataFolder, Step::ReadRecord);
    runtime::FileSystem &files = store.files();
    std::optional<GameFolder> game;
    if (gameFolder)
        game = locate(store, host, UndoTarget{*gameFolder, 0});
    const Records all = store.readAll();
    Listing listing;
    for (const InstallRecord &record : all.good) {
        if (game && !isOf(files, record.gameHost, record.game, *game))
            continue;
        ListedInstall listed{record, store.space(record.folder), ListedInstall::Here, {}};
        const auto now = findRecorded(files, record.gameHost, record.game);
        if (!now)
            listed.where = ListedInstall::Gone;
        else if (now->host != record.gameHost)
            listed = {record, listed.space, ListedInstall::Moved, now->host};
        listing.installs.append(listed);
    }
    for (const Unreadable &damaged : all.damaged) {
        if (!game || damaged.gameHost.isEmpty() || isOf(files, damaged.gameHost, {}, *game))
            listing.unreadable.append({damaged, store.space(damaged.folder)});
    }
    return listing;
}

Store::Forgotten ForgetInstall(const Store &store, qint64 number)
{
    const QByteArray folder = store.folderOf(number);
    if (folder.isEmpty())
        raise(Problem::NoSuchInstall, Step::Forget, {}, QString::number(number));
    return store.forget(folder);
}

} // namespace records
